// The backlight time-outs: read once, raised for "Always On", given back for "Normal", in the
// background and at the end; the change event; no key at all; a raise left behind by a run that
// did not end. (The "Backlight" menu item is checked with the Settings page's key handling, a
// device without the key end to end.)
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/backlight.h"
#include "platform/hooks.h"
#include "platform/windows.h"
#include "support/temp_device.h"

namespace {

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

// The default device has 60 s on battery and 300 s on AC; `present` false takes the key away.
DeviceProfile ph10c(bool present = true) {
    DeviceProfile p = *findBuiltinProfile("ph10c");
    if (!present) p.backlight.reset();
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
    EXPECT_EQ(WaitForSingleObject(driver, 0), WAIT_OBJECT_0);
    applyBacklight(1);
    restoreBacklight();
    EXPECT_EQ(registryTimeouts(), (Timeouts{60, 300}));
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 4u);
    CloseHandle(driver);
}

TEST(Backlight, WithoutTheKeyNothingIsEverWrittenOrSignalled) {
    TempDevice device(ph10c(false));
    readUserBacklight();
    EXPECT_EQ(saved(), (Timeouts{0, 0}));
    applyBacklight(1);
    applyBacklight(0);
    restoreBacklight();
    EXPECT_EQ(traceCount("RegSetValueExW"), 0u);
    EXPECT_EQ(traceCount("EventModify"), 0u);
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
