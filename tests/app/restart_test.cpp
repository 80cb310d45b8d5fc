// The built program, run twice on one device root: settings changed through the menus survive
// the restart, and a device without backlight time-outs still starts and ends normally.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/device.h"
#include "platform/windows.h"
#include "sim/device_profile.h"
#include "sim/handheld.h"

namespace {

namespace fs = std::filesystem;

class ProgramRun : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-restart-XXXXXX";
        folder_ = mkdtemp(pattern);
        root_ = folder_ + "/device";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    std::string file(const std::string& name, const std::string& text) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    // Runs the program headless with `script`; its exit status, or -1. The run is limited to a
    // minute. In a sanitizer build the program's memory errors still fail the run; leaks at exit
    // are not what this test looks at (the platform keeps loaded libraries to the end).
    int run(const std::string& script, const std::string& profile = "ph10c") {
        const std::string command = "ASAN_OPTIONS=detect_leaks=0 timeout -k 5 60 '" +
                                    std::string(LUMOVATRIX_PROGRAM) + "' --profile '" + profile +
                                    "' --root '" + root_ + "' --shots '" + folder_ +
                                    "/shots' --script '" + file("script.txt", script) + "' > '" +
                                    folder_ + "/output.txt' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output() {
        std::ifstream in(folder_ + "/output.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Reads a registry value of the device root, as the device itself would.
    // The device must be the one the program ran on: a device installs its own registry values.
    bool registryValue(HKEY root, const WCHAR* keyPath, const WCHAR* name, std::u16string& text,
                       const DeviceProfile& profile = *findBuiltinProfile("ph10c")) {
        SimulatedHandheld handheld(profile, root_);
        std::string error;
        if (!handheld.mount(error)) return false;
        installDevice(&handheld);
        HKEY key = nullptr;
        bool found = RegOpenKeyExW(root, keyPath, 0, 0, &key) == ERROR_SUCCESS;
        if (found) {
            DWORD size = 0;
            found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
            text.assign(size / 2, u'\0');
            if (found)
                RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()),
                                 &size);
            RegCloseKey(key);
        }
        installDevice(nullptr);
        return found;
    }

    // The stored settings block's entries.
    std::vector<std::string> storedSettings() {
        std::u16string text;
        if (!registryValue(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Lumovatrix", u"Settings",
                           text))
            return {};
        std::vector<std::string> entries(1);
        for (char16_t c : text) {
            if (c == u',')
                entries.emplace_back();
            else if (c)
                entries.back() += static_cast<char>(c);
        }
        entries.pop_back();  // what follows the last comma
        return entries;
    }

    std::string folder_;
    std::string root_;
};

}  // namespace

TEST_F(ProgramRun, MenuChangesSurviveARestart) {
    // The Photo page's "Quality" edited two steps down to "75%"; then the Settings page:
    // "Backlight" to "Normal" and "Orientation" to "Portrait". Key names are looked up when the
    // script runs, so the orientation, which changes the key list, comes last.
    const char* changes =
        "wait 200\n"
        "key A\n"                         // the menu, on "Settings"
        "key Down\n"                      // "Photo"
        "key Start\n"                     // the Photo page, on "Size"
        "key Down\nkey Down\nkey Down\n"  // "Quality"
        "key Start\n"                     // editing, from "85%"
        "key Down\nkey Down\n"
        "key Start\n"  // "75%"
        "key B\n"      // back on Main, on "Photo"
        "key Up\n"     // "Settings"
        "key Start\n"  // the Settings page, on "Backlight"
        "key Left\n"   // "Normal"
        "key Down\n"   // "Orientation"
        "key Right\n"  // "Portrait"
        "key A\n"      // the menu hidden
        "wait 200\n";
    ASSERT_EQ(run(changes), 0) << output();
    std::vector<std::string> stored = storedSettings();
    ASSERT_EQ(stored.size(), 49u) << output();
    EXPECT_EQ(stored[20], "0");  // "Backlight": "Normal"
    EXPECT_EQ(stored[24], "1");  // "Orientation": "Portrait"
    EXPECT_EQ(stored[27], "4");  // photo "Quality": "75%"
    EXPECT_EQ(stored[12], "-1");

    // The second run loads them (and stores them again at its end); a key bound in the first
    // run would act in the second.
    ASSERT_EQ(run("wait 200\n"), 0) << output();
    std::vector<std::string> again = storedSettings();
    EXPECT_EQ(again, stored);
}

TEST_F(ProgramRun, StartsAndEndsWithoutBacklightTimeouts) {
    const std::string path = file("no-backlight.profile", "based-on = ph10c\nbacklight = none\n");
    ASSERT_EQ(run("wait 200\nkey A\nkey A\n", path), 0) << output();
    DeviceProfile profile;
    std::string error;
    ASSERT_TRUE(loadProfileFile(path, profile, error)) << error;
    std::u16string text;
    EXPECT_TRUE(registryValue(HKEY_LOCAL_MACHINE, u"Software\\Quorvale\\Lumovatrix", u"Settings",
                              text, profile));
    EXPECT_FALSE(
        registryValue(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"ACTimeout", text, profile));
}
