// The settings block in the registry: the stored text, the round trip, the rules that reset every
// slot, and stored values of any shape, none of which is read past.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/persistence.h"
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

class PersistenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        buildModel({.cameraType = 1});
        gApp.registryKeyPath = kKey;
    }
    void TearDown() override { resetAllSettings(); }

    static void storeBytes(const void* data, DWORD size, DWORD type = REG_SZ) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, u"Settings", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The text with its terminator, as the program stores it, or without.
    static void storeText(const std::u16string& text, bool terminated = true) {
        storeBytes(text.c_str(), static_cast<DWORD>((text.size() + terminated) * 2));
    }
    static std::vector<BYTE> stored(DWORD* type = nullptr) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, 0, &key) != ERROR_SUCCESS) return {};
        DWORD size = 0;
        RegQueryValueExW(key, u"Settings", nullptr, type, nullptr, &size);
        std::vector<BYTE> data(size);
        RegQueryValueExW(key, u"Settings", nullptr, type, data.data(), &size);
        RegCloseKey(key);
        return data;
    }
    static std::u16string storedText() {
        std::vector<BYTE> data = stored();
        std::u16string text(data.size() / 2, u'\0');
        std::memcpy(text.data(), data.data(), text.size() * 2);
        return text;
    }
    // A block of 49 "-1," with the entries given changed.
    static std::u16string block(std::vector<std::pair<int, std::u16string>> changes = {}) {
        std::vector<std::u16string> entries(kSettingsCount, u"-1");
        for (auto& [slot, text] : changes) entries[slot] = text;
        std::u16string out;
        for (const auto& e : entries) out += e + u",";
        return out;
    }
    static void fillSomeSlots() {
        setting(kSlotBrightness).current.store(3);
        setting(kSlotCaptureMode).current.store(2);
        setting(kSlotKeyExit).current.store(21);
    }
    static bool allDefault() {
        for (ValueList* list : gSettingsTable)
            if (list->current.load() != -1) return false;
        return true;
    }

    TempDevice device_;
};

}  // namespace

TEST_F(PersistenceTest, DefaultsAndChosenIndicesRoundTrip) {
    saveSettings();
    DWORD type = 0;
    EXPECT_EQ(stored(&type).size(), (147u + 1) * 2);  // the terminator is stored
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(storedText(), repeat(u"-1,", 49) + u'\0');
    fillSomeSlots();
    EXPECT_TRUE(loadSettings());
    EXPECT_TRUE(allDefault());

    fillSomeSlots();
    saveSettings();
    EXPECT_EQ(storedText(), block({{1, u"3"}, {12, u"2"}, {40, u"21"}}) + u'\0');
    resetAllSettings();
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotBrightness).current.load(), 3);
    EXPECT_EQ(setting(kSlotCaptureMode).current.load(), 2);
    EXPECT_EQ(valueOf(setting(kSlotKeyExit)), 57);  // "Digit 9"

    // The screen-capture edition keeps its own key.
    gApp.registryKeyPath = u"Software\\Quorvale\\Lumosnapper";
    setting(kSlotMaxFps).current.store(4);
    traceClear();
    saveSettings();
    EXPECT_EQ(traceCount("RegSetValueExW HKLM\\Software\\Quorvale\\Lumosnapper\\Settings"), 1u);
    resetAllSettings();
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotMaxFps).current.load(), 4);
    gApp.registryKeyPath = kKey;
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotMaxFps).current.load(), -1);
}

TEST_F(PersistenceTest, UnusableBlocksResetEverySlot) {
    fillSomeSlots();
    EXPECT_FALSE(loadSettings());  // no key
    EXPECT_TRUE(allDefault());
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, 0, nullptr, &key, nullptr);
    RegCloseKey(key);
    fillSomeSlots();
    EXPECT_FALSE(loadSettings());  // no value
    EXPECT_TRUE(allDefault());

    // An index equal to its list's count resets the valid entries before it too.
    storeText(block({{1, u"3"}, {12, u"2"}, {13, u"3"}}));
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotPhotoFormat).current.load(), 3);  // "Format" has 4 entries
    const std::u16string unusable[] = {
        u"0,0,0,",                                   // only three entries
        block({{1, u"3"}, {12, u"2"}, {13, u"4"}}),  // index 4 of 4 entries
        block({{0, u"0"}}),                          // "Gamma" has no entries on this camera
        block({{5, u"99999999999999999999"}}),       // saturated, beyond any list
        u"",                                         // an empty value
    };
    for (const std::u16string& text : unusable) {
        fillSomeSlots();
        storeText(text, !text.empty());  // the empty value has no bytes at all
        EXPECT_FALSE(loadSettings()) << std::string(text.begin(), text.end());
        EXPECT_TRUE(allDefault());
    }
}

TEST_F(PersistenceTest, NumbersAsTheRuntimeReadsThem) {
    // Leading blanks and a sign are taken; the number ends at the first non-digit; any negative
    // number is the default; text after the 49th comma is ignored.
    storeText(
        block({{1, u"  +3"}, {2, u"2abc"}, {3, u"-7"}, {5, u"-99999999999999999999"}, {12, u""}}) +
        u"junk,5,");
    setting(kSlotSaturation).current.store(1);
    EXPECT_TRUE(loadSettings());
    EXPECT_EQ(setting(kSlotBrightness).current.load(), 3);
    EXPECT_EQ(setting(kSlotContrast).current.load(), 2);
    EXPECT_EQ(setting(kSlotSaturation).current.load(), -1);
    EXPECT_EQ(setting(kSlotSharpness).current.load(), -1);
    EXPECT_EQ(setting(kSlotCaptureMode).current.load(), 0);  // empty text is 0
}

TEST_F(PersistenceTest, StoredValuesOfAnyShape) {
    // Without a terminator: read as far as the returned size, no further.
    storeText(block(), false);
    fillSomeSlots();
    EXPECT_TRUE(loadSettings());
    EXPECT_TRUE(allDefault());
    storeText(u"1,2", false);
    EXPECT_FALSE(loadSettings());

    // The whole 510-byte buffer, no terminator: 85 entries, the first 49 count.
    storeText(repeat(u"-1,", 85), false);
    EXPECT_EQ(stored().size(), 510u);
    EXPECT_TRUE(loadSettings());
    storeText(repeat(u"7", 255), false);  // 510 bytes of digits and no comma at all
    EXPECT_FALSE(loadSettings());
    // Longer than the buffer: the query fails.
    storeText(repeat(u"-1,", 86));
    EXPECT_FALSE(loadSettings());
    storeText(repeat(u"-1,", 2000), false);
    EXPECT_FALSE(loadSettings());

    // An odd size; a NUL inside; another type.
    storeBytes("-1,-1", 5);
    EXPECT_FALSE(loadSettings());
    std::u16string withNul = block();
    withNul[30] = u'\0';
    storeText(withNul);
    EXPECT_FALSE(loadSettings());
    const DWORD number = 0x2C312D;  // "-1," in bytes, as a REG_DWORD
    storeBytes(&number, sizeof number, REG_DWORD);
    EXPECT_FALSE(loadSettings());
}

TEST_F(PersistenceTest, RandomBlocksNeverReadPastTheirBytes) {
    std::mt19937 random(20240613);
    const char16_t alphabet[] = u"-0123456789, +\t\0x";
    for (int round = 0; round < 2000; ++round) {
        // A heap block of exactly the given size, so that a read past it is caught.
        const size_t size = random() % 600;
        std::vector<BYTE> bytes(size);
        for (size_t i = 0; i + 1 < size; i += 2) {
            const char16_t c = alphabet[random() % (sizeof alphabet / 2)];
            bytes[i] = static_cast<BYTE>(c);
            bytes[i + 1] = static_cast<BYTE>(c >> 8);
        }
        if (size % 2) bytes[size - 1] = static_cast<BYTE>(random());
        fillSomeSlots();
        if (!applySettingsBlock(bytes.data(), static_cast<DWORD>(size))) {
            EXPECT_TRUE(allDefault());
        }
        for (ValueList* list : gSettingsTable) EXPECT_LT(list->current.load(), list->count);
    }
    EXPECT_FALSE(applySettingsBlock(nullptr, 0));
}
