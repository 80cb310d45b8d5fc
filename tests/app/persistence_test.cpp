// The settings block in the registry: the stored text, the round trip, the rules that reset every
// slot, and stored values of any shape, none of which is read past. (Each edition's own key is
// checked end to end.)
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/persistence.h"
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
    DWORD size = 0;
    RegQueryValueExW(key, u"Settings", nullptr, &type, nullptr, &size);
    std::u16string text(size / 2, u'\0');
    RegQueryValueExW(key, u"Settings", nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    RegCloseKey(key);
    return text;
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
        {block({{5, u"99999999999999999999"}}), true, false},  // saturated, beyond any list
        {u"", false, false},                                   // an empty value, no bytes at all
        {block(), false, true},  // without a terminator: read as far as the returned size
        {u"1,2", false, false},
        {repeat(u"-1,", 85), false, true},  // the whole 510-byte buffer: the first 49 count
        {repeat(u"7", 255), false, false},  // 510 bytes of digits and no comma at all
        {repeat(u"-1,", 86), true, false},  // longer than the buffer: the query fails
        {repeat(u"-1,", 2000), false, false},
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
