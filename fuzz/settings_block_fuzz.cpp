// The settings block as the registry hands it back: any bytes, any size. The parse must stay
// inside them, and leave every slot either at a valid index or, when the block is refused, at
// the default.
#include <cstddef>
#include <cstdint>

#include "app/persistence.h"
#include "camera/device_info.h"
#include "settings/settings_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool built = [] {
        gDeviceInfo.cameraType = 1;
        buildSettingsModel(gDeviceInfo);
        completeDeviceLists(gDeviceInfo);
        applyEditionRestrictions();
        return true;
    }();
    (void)built;
    const bool used = applySettingsBlock(data, static_cast<DWORD>(size));
    for (const ValueList* list : gSettingsTable) {
        const int32_t current = list->current.load();
        if (current >= list->count || current < -1 || (!used && current != -1)) __builtin_trap();
    }
    return 0;
}
