// The registry store: values persist in the device root, every process on the root sees them,
// and a save that dies half-way leaves the previous store intact.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"
#include "support/temp_device.h"

namespace {

DWORD readDword(HKEY root, const WCHAR* key, const WCHAR* value) {
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, 0, &k) != ERROR_SUCCESS) return 0xDEAD;
    DWORD data = 0, size = sizeof data, type = 0;
    LONG r = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(k);
    return r == ERROR_SUCCESS && type == REG_DWORD ? data : 0xBEEF;
}

void writeDword(HKEY root, const WCHAR* key, const WCHAR* value, DWORD data) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, value, 0, REG_DWORD, reinterpret_cast<BYTE*>(&data), 4),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

TEST(Registry, DeviceSeedsAndCaseInsensitiveNames) {
    TempDevice device;  // the default profile ships backlight time-outs of 60 and 300 s
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"BatteryTimeout"), 60u);
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"controlpanel\\BACKLIGHT", u"actimeout"), 300u);
}

TEST(Registry, ValuesSurviveAReinstalledDevice) {
    DeviceProfile profile = *findBuiltinProfile("ph10c");
    std::string root;
    {
        TempDevice device(profile);
        root = device.root();
        writeDword(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Test", u"Number", 1234);
        // A second device object on the same root is a restart of the program.
        SimulatedHandheld again(profile, root);
        std::string error;
        ASSERT_TRUE(again.mount(error));
        installDevice(&again);
        EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Test", u"Number"), 1234u);
        installDevice(&device.handheld());
    }
}

TEST(Registry, QueriesReportSizesAndMissingThings) {
    TempDevice device;
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Nobody", 0, 0, &key),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Sizes", 0, nullptr, 0, 0,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const WCHAR text[] = u"-1,-1,";
    ASSERT_EQ(RegSetValueExW(key, u"Settings", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             sizeof text),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Settings", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof text);
    BYTE small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Settings", nullptr, nullptr, small, &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(RegQueryValueExW(key, u"Other", nullptr, nullptr, small, &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS) << "a closed key is no key";
}

TEST(Registry, ACrashDuringASaveLeavesThePreviousStore) {
    TempDevice device;
    writeDword(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Crash", u"Value", 1);
    pid_t child = fork();
    if (child == 0) {
        device.handheld().faults.crashInRegistrySave = true;
        HKEY k;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Crash", 0, 0, &k);
        DWORD two = 2;
        RegSetValueExW(k, u"Value", 0, REG_DWORD, reinterpret_cast<BYTE*>(&two), 4);
        _exit(0);  // not reached: the save dies between writing and renaming
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 86) << "the child died in the middle of the save";
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Crash", u"Value"), 1u);
    // The store file itself is complete and readable: every other value is still there.
    EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"BatteryTimeout"), 60u);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Damaged stores: every readable key is kept, a bad line costs only itself, and a store that
// cannot be read at all is still on disk afterwards under a new name, never overwritten.
TEST(Registry, DamagedStoresKeepWhatCanBeReadAndNothingIsLost) {
    // A store with a key holding two values; "a" and "b" are 1 and 2.
    const std::string key = "key 484b43555c536f6674776172655c51\n";  // HKCU\Software\Q
    const std::string a = "value 4 61 01000000\n", b = "value 4 62 02000000\n";
    struct Case {
        const char* what;
        std::string text;
        DWORD a, b;     // what reads back; 0xDEAD: the key is missing
        bool setAside;  // the store is kept under a new name
    };
    const std::string header = "lumovatrix-registry 1\n";
    auto crlf = [](std::string t) {
        for (size_t at = 0; (at = t.find('\n', at)) != std::string::npos; at += 2)
            t.insert(at, "\r");
        return t;
    };
    const Case cases[] = {
        {"a value whose type is not a number", header + key + "value x 61 01000000\n" + b, 0xBEEF,
         2, true},
        {"a truncated last line", header + key + a + "value 4 62 020", 1, 0xBEEF, true},
        {"a last line cut where it still looks whole", header + key + a + "value 4 62 0200", 1,
         0xBEEF, true},
        {"a line of binary bytes", header + key + a + std::string("\x01\xff\0zz\n", 6) + b, 1, 2,
         true},
        {"CRLF line ends", crlf(header + key + a + b), 1, 2, false},
        {"a trailing space after the first line", "lumovatrix-registry 1 \n" + key + a + b, 1, 2,
         false},
        {"an empty file", "", 0xDEAD, 0xDEAD, false},
        {"binary from the first byte",
         std::string("\x7f"
                     "ELF\x02\x01\0\0garbage\n",
                     16) +
             key + a,
         0xDEAD, 0xDEAD, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDevice device;
        const std::string store = device.root() + "/.device/registry";
        std::ofstream(store, std::ios::binary) << c.text;
        EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"Software\\Q", u"a"), c.a);
        EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"Software\\Q", u"b"), c.b);
        const std::string aside = device.root() + "/.device/registry.unreadable-1";
        EXPECT_EQ(std::filesystem::exists(aside), c.setAside);
        // A change is written as a whole new store; what was read stays, the old text is kept.
        writeDword(HKEY_CURRENT_USER, u"Software\\Q", u"c", 3);
        EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"Software\\Q", u"c"), 3u);
        EXPECT_EQ(readDword(HKEY_CURRENT_USER, u"Software\\Q", u"a"), c.a == 0xDEAD ? 0xBEEF : c.a);
        if (c.setAside) {
            EXPECT_EQ(fileText(aside), c.text);
        }
        EXPECT_FALSE(std::filesystem::exists(device.root() + "/.device/registry.unreadable-2"));
    }
}

}  // namespace
