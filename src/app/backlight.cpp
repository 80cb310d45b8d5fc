// The display backlight: while the program is in front with "Always On", both system time-outs
// are raised to the always-on time-out; in the background, with "Normal" and at the end, the
// user's own time-outs (read once at start-up) are written back. The backlight driver re-reads
// the values when the named event is set.
//
// A run that ends without giving the time-outs back (power loss, a kill) leaves the always-on
// time-out in the registry, and the next start would take it for the user's. So before the
// time-outs are first raised, the user's are kept aside in the program's own key; a start that
// finds the always-on time-out takes the kept value instead.
#include "app/backlight.h"

#include "core/app_state.h"
#include "platform/windows.h"

namespace {

constexpr const WCHAR* kBacklightKey = u"ControlPanel\\Backlight";
constexpr const WCHAR* kBatteryValue = u"BatteryTimeout";
constexpr const WCHAR* kACValue = u"ACTimeout";
constexpr const WCHAR* kChangeEvent = u"BackLightChangeEvent";
// In the program's own key (HKEY_LOCAL_MACHINE, `registryKeyPath`): battery and AC time-outs.
constexpr const WCHAR* kKeptValue = u"UserBacklight";

struct Timeouts {
    uint32_t battery;  // seconds
    uint32_t ac;       // seconds
};
static_assert(sizeof(Timeouts) == 8);

bool readDword(HKEY key, const WCHAR* name, uint32_t& value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof data)
        return false;
    value = data;
    return true;
}

bool readKept(Timeouts& kept) {
    HKEY key = nullptr;
    if (!gApp.registryKeyPath ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, gApp.registryKeyPath, 0, 0, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof kept;
    const bool ok = RegQueryValueExW(key, kKeptValue, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&kept), &size) == ERROR_SUCCESS &&
                    size == sizeof kept;
    RegCloseKey(key);
    return ok;
}

// Keeps the user's time-outs aside; written only when they differ from what is kept.
void keepUserTimeouts() {
    const Timeouts user = {gApp.savedBatteryTimeout, gApp.savedACTimeout};
    if (user.battery == kAlwaysOnTimeout || user.ac == kAlwaysOnTimeout) return;
    Timeouts kept{};
    if (readKept(kept) && kept.battery == user.battery && kept.ac == user.ac) return;
    HKEY key = nullptr;
    if (!gApp.registryKeyPath ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, gApp.registryKeyPath, 0, nullptr, 0, 0, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, kKeptValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&user),
                   sizeof user);
    RegCloseKey(key);
}

void writeTimeouts(uint32_t battery, uint32_t ac, bool raising) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    if (raising) keepUserTimeouts();
    const DWORD batteryData = battery;
    const DWORD acData = ac;
    RegSetValueExW(key, kBatteryValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&batteryData),
                   sizeof batteryData);
    RegSetValueExW(key, kACValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&acData),
                   sizeof acData);
    // Auto-reset, initially signalled: the driver's waiting thread takes it.
    if (HANDLE event = CreateEventW(nullptr, FALSE, TRUE, kChangeEvent)) {
        EventModify(event, EVENT_SET);
        CloseHandle(event);
    }
    RegCloseKey(key);
}

}  // namespace

void readUserBacklight() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBacklightKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    readDword(key, kBatteryValue, gApp.savedBatteryTimeout);
    readDword(key, kACValue, gApp.savedACTimeout);
    RegCloseKey(key);

    Timeouts kept{};
    const bool leftOver =
        gApp.savedBatteryTimeout == kAlwaysOnTimeout || gApp.savedACTimeout == kAlwaysOnTimeout;
    if (leftOver && readKept(kept)) {
        if (gApp.savedBatteryTimeout == kAlwaysOnTimeout) gApp.savedBatteryTimeout = kept.battery;
        if (gApp.savedACTimeout == kAlwaysOnTimeout) gApp.savedACTimeout = kept.ac;
    }
}

void applyBacklight(uint32_t mode) {
    constexpr uint32_t kAlwaysOn = 1;  // "Always On"; 0 is "Normal"
    if (mode == kAlwaysOn)
        writeTimeouts(kAlwaysOnTimeout, kAlwaysOnTimeout, true);
    else
        restoreBacklight();
}

void restoreBacklight() {
    writeTimeouts(gApp.savedBatteryTimeout, gApp.savedACTimeout, false);
}
