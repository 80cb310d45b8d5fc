#include "app/keys.h"

#include <utility>

#include "app/app_state.h"
#include "preview/overlay.h"
#include "settings/settings_table.h"

// The hardware keys an action can be bound to; the value is the key code of the key message.
const ValueEntry kNamedKeyTable[kNamedKeyCount] = {
    {"None", 0},       {"Green", 114},  {"Red", 115},    {"VolUp", 117},  {"VolDown", 118},
    {"Prog1", 193},    {"Prog2", 194},  {"Prog3", 195},  {"Prog4", 196},  {"Star(*)", 119},
    {"Sharp(#)", 120}, {"Back", 27},    {"Digit 0", 48}, {"Digit 1", 49}, {"Digit 2", 50},
    {"Digit 3", 51},   {"Digit 4", 52}, {"Digit 5", 53}, {"Digit 6", 54}, {"Digit 7", 55},
    {"Digit 8", 56},   {"Digit 9", 57},
};

// Orientation values: 0 "Landscape L", 1 "Portrait", 2 "Landscape R", 3 "Portrait R". The
// portrait ones use the device's normal key list, the landscape ones its landscape list; the
// turned ones ("R") exchange the opposite keys so that up still moves up on the turned picture.
void applyOrientation() {
    const uint32_t orientation = static_cast<uint32_t>(valueOf(setting(kSlotOrientation))) & 3;
    const bool portrait = orientation == 1 || orientation == 3;
    gApp.activeKeys = portrait ? gApp.normalKeys : gApp.landscapeKeys;
    setTextOrientation(orientation);
    if (orientation == 2 || orientation == 3) {
        GXKeyList& keys = gApp.activeKeys;
        std::swap(keys.vkLeft, keys.vkRight);
        std::swap(keys.vkUp, keys.vkDown);
        std::swap(keys.vkA, keys.vkB);
    }
}
