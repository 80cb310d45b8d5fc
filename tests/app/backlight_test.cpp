// The backlight time-outs: read once, raised for "Always On", given back for "Normal", in the
// background and at the end; the change event; no key at all; a raise left behind by a run that
// did not end. (The "Backlight" menu item is checked with the Settings page's key handling.)
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/backlight.h"
#include "platform/hooks.h"
#include "platform/windows.h"
#include "support/temp_device.h"

namespace {

constexpr const WCHAR* kBacklightKey = u"ControlPanel\\Backlight";

struct Timeouts {
    uint32_t battery, ac;
    bool operator==(const Timeouts&) const = default;
};

Timeouts registryTimeouts() {
    Timeouts t{0, 0};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return t;
    DWORD size = 4;
    RegQueryValueExW(key, u"BatteryTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&t.battery),
                     &size);
    size = 4;
    RegQueryValueExW(key, u"ACTimeout", nullptr, nullptr, reinterpret_cast<BYTE*>(&t.ac), &size);
    RegCloseKey(key);
    return t;
}

void setRegistryTimeouts(Timeouts t) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, u"BatteryTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&t.battery), 4);
    RegSetValueExW(key, u"ACTimeout", 0, REG_DWORD, reinterpret_cast<BYTE*>(&t.ac), 4);
    RegCloseKey(key);
}

DeviceProfile profileWithBacklight(bool present) {
    DeviceProfile profile = *findBuiltinProfile("ph10c");
    if (!present) profile.backlight.reset();
    return profile;
}

class BacklightTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gApp.savedBatteryTimeout = 0;
        gApp.savedACTimeout = 0;
        gApp.registryKeyPath = u"Software\\Quorvale\\Lumovatrix";
        traceClear();
    }
};

}  // namespace

TEST_F(BacklightTest, AlwaysOnAndNormalWithTheChangeEvent) {
    TempDevice device(profileWithBacklight(true));  // 60 s on battery, 300 s on AC
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 60u);
    EXPECT_EQ(gApp.savedACTimeout, 300u);

    // The backlight driver's side of the event: it stays set until someone waits on it.
    HANDLE driver = CreateEventW(nullptr, FALSE, FALSE, u"BackLightChangeEvent");
    ASSERT_NE(driver, nullptr);
    applyBacklight(1);
    EXPECT_EQ(registryTimeouts(), (Timeouts{0x8000000, 0x8000000}));
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 1u);
    EXPECT_EQ(WaitForSingleObject(driver, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(driver, 0), WAIT_TIMEOUT);  // auto-reset

    applyBacklight(0);
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 2u);
    EXPECT_EQ(WaitForSingleObject(driver, 0), WAIT_OBJECT_0);
    applyBacklight(1);
    restoreBacklight();
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 4u);
    CloseHandle(driver);
}

TEST_F(BacklightTest, WithoutTheKeyNothingIsEverWritten) {
    TempDevice device(profileWithBacklight(false));
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 0u);
    EXPECT_EQ(gApp.savedACTimeout, 0u);
    applyBacklight(1);
    applyBacklight(0);
    restoreBacklight();
    EXPECT_EQ(traceCount("RegSetValueExW"), 0u);
    EXPECT_EQ(traceCount("EventModify"), 0u);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(BacklightTest, ARaiseLeftBehindIsNotTakenForTheUsersTimeouts) {
    TempDevice device(profileWithBacklight(true));
    // A first run raises the time-outs and ends without giving them back.
    readUserBacklight();
    applyBacklight(1);
    EXPECT_EQ(registryTimeouts(), (Timeouts{0x8000000, 0x8000000}));
    // The next run reads the user's time-outs as they were before the raise.
    gApp.savedBatteryTimeout = gApp.savedACTimeout = 0;
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 60u);
    EXPECT_EQ(gApp.savedACTimeout, 300u);
    restoreBacklight();
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));

    // Time-outs the user changed meanwhile are the user's; raising keeps the new ones aside.
    setRegistryTimeouts({30, 0x8000000});
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 30u);
    EXPECT_EQ(gApp.savedACTimeout, 300u);  // only the raised value is replaced
    applyBacklight(1);
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 30u);
    EXPECT_EQ(gApp.savedACTimeout, 300u);
}

TEST_F(BacklightTest, ARaiseWithNothingKeptAsideIsTakenAsItIs) {
    TempDevice device(profileWithBacklight(true));
    setRegistryTimeouts({0x8000000, 0x8000000});
    readUserBacklight();
    EXPECT_EQ(gApp.savedBatteryTimeout, 0x8000000u);
    EXPECT_EQ(gApp.savedACTimeout, 0x8000000u);
}
