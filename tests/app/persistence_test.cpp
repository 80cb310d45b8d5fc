// The settings block in the registry: the stored text, the round trip, the rules that reset every
// slot, and stored values of any shape, none of which is read past (each edition's own key is
// checked end to end). Config.txt: the two keys, where and how they are found, and files of any
// content and size. The backlight time-outs: read once, raised for "Always On", given back for
// "Normal", in the background and at the end; the change event; a raise left behind by a run
// that did not end. (The "Backlight" menu item is checked with the Settings page's key
// handling; a device without the key, where nothing is ever written and start-up still
// succeeds, end to end.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/backlight.h"
#include "app/persistence.h"
#include "core/app_state.h"
#include "platform/hooks.h"
#include "platform/windows.h"
#include "settings/settings_test_support.h"
#include "support/temp_device.h"

namespace {

constexpr const WCHAR* kKey = u"Software\\Quorvale\\Lumovatrix";

std::u16string repeat(const std::u16string& text, int times) {
    std::u16string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// A block of 49 "-1," with the entries given changed.
std::u16string block(std::vector<std::pair<int, std::u16string>> changes = {}) {
    std::vector<std::u16string> entries(kSettingsCount, u"-1");
    for (auto& [slot, text] : changes) entries[slot] = text;
    std::u16string out;
    for (const auto& e : entries) out += e + u",";
    return out;
}

void fillSomeSlots() {
    setting(kSlotBrightness).current.store(3);
    setting(kSlotCaptureMode).current.store(2);
    setting(kSlotKeyExit).current.store(21);
}

bool allDefault() {
    for (ValueList* list : gSettingsTable)
        if (list->current.load() != -1) return false;
    return true;
}

void store(const void* data, DWORD size, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Settings", 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Some slots changed, then `text` stored (with its terminator, as the program stores it, or
// without) and loaded.
bool load(const std::u16string& text, bool terminated = true) {
    fillSomeSlots();
    store(text.c_str(), static_cast<DWORD>((text.size() + terminated) * 2));
    return loadSettings();
}

// The stored value as text, its terminator included.
std::u16string storedText(DWORD& type) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, 0, &key) != ERROR_SUCCESS) return {};
    char16_t text[1024];
    DWORD size = sizeof text;
    RegQueryValueExW(key, u"Settings", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return std::u16string(text, size / 2);
}

class PersistenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        buildModel({.cameraType = 1});
        gApp.registryKeyPath = kKey;
    }
    void TearDown() override { resetAllSettings(); }

    TempDevice device_;
};

using Window = std::vector<int32_t>;
const Window kUnset = {-1, -1, -1, -1};  // the file was read, no window in it
const std::string kDefault = "default.example";

class ConfigFileTest : public ::testing::Test {
  protected:
    // Reads `bytes` as Config.txt over the defaults: the server `kDefault`, the window all 0.
    bool read(const std::string& bytes) {
        std::strcpy(gApp.webcamServer, kDefault.c_str());
        for (int32_t& v : gApp.captureWindow) v = 0;
        std::ofstream(device_.root() + "/Config.txt", std::ios::binary) << bytes;
        return readConfigFile(u"\\Config.txt");
    }
    static std::string server() { return gApp.webcamServer; }
    static Window window() { return {gApp.captureWindow, gApp.captureWindow + 4}; }

    TempDevice device_;
};

TEST_F(ConfigFileTest, KeysAnywhereFirstOccurrenceValuesUnder100Bytes) {
    const struct {
        std::string text, server;
        Window window;
    } cases[] = {
        {"WebcamIP:   192.168.0.10\r\n", "192.168.0.10", kUnset},
        {"# last line\nWebcamIP:host.example", "host.example", kUnset},  // no line end
        {"WebcamIP:\t tab.example\n", "", kUnset},                       // only blanks are skipped
        {"WebcamIP:", "", kUnset},
        {"CaptureWindow: 10,20\n", kDefault, {10, 20, -1, -1}},
        {"CaptureWindow:1, 2 ,3,4,5", kDefault, {1, 2, 3, 4}},
        {"CaptureWindow: 99999999999,-99999999999,x,\n", kDefault, {INT32_MAX, INT32_MIN, 0, 0}},
        {"CaptureWindow:,,", kDefault, {0, 0, 0, -1}},
        {"CaptureWindow:\n", kDefault, kUnset},
        {"xxCaptureWindow:4,6,8,10 yyWebcamIP: a.example WebcamIP: b.example\n"
         "CaptureWindow: 1,1,1,1\n",
         "a.example",
         {4, 6, 8, 10}},
        {"webcamip: lower.example\ncapturewindow: 1,2,3,4\n", kDefault, kUnset},
        // Values of 100 bytes or more are ignored, also one running to the end of a large file.
        {"WebcamIP: " + std::string(99, 'h') + "\n", std::string(99, 'h'), kUnset},
        {"WebcamIP: " + std::string(100, 'x') + "\n", kDefault, kUnset},
        {"CaptureWindow: 1,2,3," + std::string(100, '4') + "\n", kDefault, kUnset},
        {"WebcamIP: " + std::string(60000, 'a'), kDefault, kUnset},
        // NUL bytes end the text, bytes of 128 and above end a value.
        {std::string("\0WebcamIP: hidden.example\n", 26), kDefault, kUnset},
        {std::string("WebcamIP: ab\0cd\n", 17), "ab", kUnset},
        {"WebcamIP: caf\xc3\xa9.example\nCaptureWindow: 7,\xff 8,9\n", "caf", {7, 0, -1, -1}},
        {std::string(65536 - 21, 'x') + "WebcamIP: far.example", "far.example", kUnset},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        EXPECT_TRUE(read(c.text));
        EXPECT_EQ(server(), c.server);
        EXPECT_EQ(window(), c.window);
    }
}

TEST_F(ConfigFileTest, MissingOrEmptyFiles) {
    EXPECT_FALSE(read(""));
    EXPECT_FALSE(readConfigFile(u"\\Nowhere\\Config.txt"));
    EXPECT_EQ(server(), kDefault);
    EXPECT_EQ(window(), (Window{0, 0, 0, 0}));
}

// What is not a Config.txt the program could have written is not read: the defaults stay, the
// message line says so; nothing blocks and nothing large is read.
TEST_F(ConfigFileTest, AFifoADirectoryAndAnOversizedFileAreIgnoredWithAMessage) {
    const std::string path = device_.root() + "/Config.txt";
    const auto make = [&](int kind) {
        std::filesystem::remove_all(path);
        if (kind == 0) {
            ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
        }
        if (kind == 1) std::filesystem::create_directory(path);
        if (kind == 2) {
            std::ofstream(path) << "WebcamIP: big.example\n";
            std::filesystem::resize_file(path, 8ull << 30);  // sparse: no disk used
        }
        if (kind == 3) std::ofstream(path) << "WebcamIP: " << std::string(65536, 'b');
    };
    for (int kind = 0; kind < 4; ++kind) {
        SCOPED_TRACE(kind);
        make(kind);
        gApp.osdMessage.store(nullptr);
        std::strcpy(gApp.webcamServer, kDefault.c_str());
        EXPECT_FALSE(readConfigFile(u"\\Config.txt"));
        EXPECT_EQ(server(), kDefault);
        ASSERT_NE(gApp.osdMessage.load(), nullptr);
        EXPECT_STREQ(gApp.osdMessage.load(), "Config.txt ignored");
    }
    std::filesystem::remove_all(path);
}

constexpr const WCHAR* kBacklightKey = u"ControlPanel\\Backlight";
constexpr uint32_t kRaised = 0x8000000;

struct Timeouts {
    uint32_t battery, ac;
    bool operator==(const Timeouts&) const = default;
};

Timeouts registryTimeouts() {
    Timeouts t{0, 0};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, 0, &key) != ERROR_SUCCESS) return t;
    DWORD size = 4;
    RegQueryValueExW(key, u"BatteryTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&t.battery),
                     &size);
    RegQueryValueExW(key, u"ACTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&t.ac), &size);
    RegCloseKey(key);
    return t;
}

void setRegistryTimeouts(Timeouts t) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, 0, &key), ERROR_SUCCESS);
    RegSetValueExW(key, u"BatteryTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&t.battery), 4);
    RegSetValueExW(key, u"ACTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&t.ac), 4);
    RegCloseKey(key);
}

// The time-outs the program read as the user's.
Timeouts saved() {
    return {gApp.savedBatteryTimeout, gApp.savedACTimeout};
}

// The default device has 60 s on battery and 300 s on AC.
DeviceProfile ph10c() {
    DeviceProfile p = *findBuiltinProfile("ph10c");
    gApp.savedBatteryTimeout = gApp.savedACTimeout = 0;
    gApp.registryKeyPath = u"Software\\Quorvale\\Lumovatrix";
    traceClear();
    return p;
}

TEST(Backlight, AlwaysOnAndNormalWithTheChangeEvent) {
    TempDevice device(ph10c());
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{60, 300}));
    // The backlight driver's side of the event: it stays set until someone waits on it.
    HANDLE driver = CreateEventW(nullptr, FALSE, FALSE, u"BackLightChangeEvent");
    ASSERT_NE(driver, nullptr);
    applyBacklight(1);
    EXPECT_EQ(registryTimeouts(), (Timeouts{kRaised, kRaised}));
    EXPECT_EQ(WaitForSingleObject(driver, 0), WAIT_OBJECT_0);
    applyBacklight(0);
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    applyBacklight(1);
    restoreBacklight();
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 4u);
    CloseHandle(driver);
}

TEST(Backlight, ARaiseLeftBehindIsNotTakenForTheUsersTimeouts) {
    TempDevice device(ph10c());
    // A raise with nothing kept aside is taken as it is.
    setRegistryTimeouts({kRaised, kRaised});
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{kRaised, kRaised}));
    setRegistryTimeouts({60, 300});
    // A first run raises the time-outs and ends without giving them back; the next run reads
    // the user's time-outs as they were before the raise.
    readUserBacklight();
    applyBacklight(1);
    gApp.savedBatteryTimeout = gApp.savedACTimeout = 0;
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{60, 300}));
    restoreBacklight();
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    // Time-outs the user changed meanwhile are the user's; raising keeps the new ones aside.
    setRegistryTimeouts({30, kRaised});
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{30, 300}));  // only the raised value is replaced
    applyBacklight(1);
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{30, 300}));
}

}  // namespace

TEST_F(PersistenceTest, DefaultsAndChosenIndicesRoundTripAndNumbersReadAsTheRuntimeReadsThem) {
    saveSettings();
    DWORD type = 0;
    EXPECT_EQ(storedText(type), block() + u'\0');  // 49 "-1,": (147 + 1) x 2 bytes
    EXPECT_EQ(type, REG_SZ);
    fillSomeSlots();
    EXPECT_TRUE(loadSettings());
    EXPECT_TRUE(allDefault());

    fillSomeSlots();
    saveSettings();
    EXPECT_EQ(storedText(type), block({{1, u"3"}, {12, u"2"}, {40, u"21"}}) + u'\0');
    resetAllSettings();
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotBrightness).current.load(), 3);
    EXPECT_EQ(setting(kSlotCaptureMode).current.load(), 2);
    EXPECT_EQ(valueOf(setting(kSlotKeyExit)), 57);  // "Digit 9"

    // Leading blanks and a sign are taken; the number ends at the first non-digit; any negative
    // number is the default; empty text is 0; text after the 49th comma is ignored.
    EXPECT_TRUE(load(
        block({{1, u"  +3"}, {2, u"2abc"}, {3, u"-7"}, {5, u"-99999999999999999999"}, {12, u""}}) +
        u"junk,5,"));
    EXPECT_EQ(setting(kSlotBrightness).current.load(), 3);
    EXPECT_EQ(setting(kSlotContrast).current.load(), 2);
    EXPECT_EQ(setting(kSlotSaturation).current.load(), -1);
    EXPECT_EQ(setting(kSlotSharpness).current.load(), -1);
    EXPECT_EQ(setting(kSlotCaptureMode).current.load(), 0);
}

TEST_F(PersistenceTest, UnusableBlocksOfAnyShapeResetEverySlot) {
    fillSomeSlots();
    EXPECT_FALSE(loadSettings());  // no key
    EXPECT_TRUE(allDefault());

    // An index equal to its list's count resets the valid entries before it too.
    EXPECT_TRUE(load(block({{1, u"3"}, {12, u"2"}, {13, u"3"}})));
    EXPECT_EQ(setting(kSlotPhotoFormat).current.load(), 3);  // "Format" has 4 entries
    std::u16string withNul = block();
    withNul[30] = u'\0';
    const struct {
        std::u16string text;
        bool terminated, loads;
    } cases[] = {
        {u"0,0,0,", true, false},                                   // only three entries
        {block({{1, u"3"}, {12, u"2"}, {13, u"4"}}), true, false},  // index 4 of 4 entries
        {block({{0, u"0"}}), true, false},  // "Gamma" has no entries on this camera
        {u"", false, false},                // an empty value, no bytes at all
        {block(), false, true},  // without a terminator: read as far as the returned size
        {repeat(u"-1,", 85), false, true},  // the whole 510-byte buffer: the first 49 count
        {repeat(u"7", 255), false, false},  // 510 bytes of digits and no comma at all
        {repeat(u"-1,", 86), true, false},  // longer than the buffer: the query fails
        {withNul, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(
            std::string(c.text.begin(), c.text.begin() + std::min<size_t>(60, c.text.size())));
        EXPECT_EQ(load(c.text, c.terminated), c.loads);
        EXPECT_TRUE(allDefault());
    }
    // An odd size; another type.
    store("-1,-1", 5);
    EXPECT_FALSE(loadSettings());
    const DWORD number = 0x2C312D;  // "-1," in bytes, as a REG_DWORD
    store(&number, sizeof number, REG_DWORD);
    EXPECT_FALSE(loadSettings());
}

TEST_F(PersistenceTest, RandomBlocksNeverReadPastTheirBytes) {
    std::mt19937 random(20240613);
    const char16_t alphabet[] = u"-0123456789, +\t\0x";
    for (int round = 0; round < 2000; ++round) {
        // A heap block of exactly the given size, so that a read past it is caught.
        std::vector<BYTE> bytes(random() % 600);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t c = alphabet[random() % (sizeof alphabet / 2)];
            bytes[i] = static_cast<BYTE>(c);
            bytes[i + 1] = static_cast<BYTE>(c >> 8);
        }
        if (bytes.size() % 2) bytes.back() = static_cast<BYTE>(random());
        fillSomeSlots();
        if (!applySettingsBlock(bytes.data(), static_cast<DWORD>(bytes.size()))) {
            EXPECT_TRUE(allDefault());
        }
        for (ValueList* list : gSettingsTable) EXPECT_LT(list->current.load(), list->count);
    }
    EXPECT_FALSE(applySettingsBlock(nullptr, 0));
}
