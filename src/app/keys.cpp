#include "app/keys.h"

#include <utility>

#include "core/app_state.h"
#include "preview/overlay.h"
#include "settings/settings_table.h"

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
