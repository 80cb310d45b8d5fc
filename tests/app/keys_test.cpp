// The active key list follows the orientation: the device's portrait or landscape list, with
// the opposite keys exchanged when the picture is turned round.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_state.h"
#include "app/keys.h"
#include "settings/settings_table.h"

namespace {

GXKeyList keyList(short up, short down, short left, short right, short a, short b) {
    GXKeyList k{};
    k.vkUp = up, k.vkDown = down, k.vkLeft = left, k.vkRight = right;
    k.vkA = a, k.vkB = b, k.vkC = 195, k.vkStart = 13;
    // Screen points that must stay where they are.
    k.ptUp = {1, 2}, k.ptLeft = {5, 6}, k.ptA = {9, 10}, k.ptStart = {15, 16};
    return k;
}

TEST(ApplyOrientation, PicksTheListAndExchangesOppositeKeysWhenTurnedRound) {
    gApp.normalKeys = keyList(38, 40, 37, 39, 193, 194);
    gApp.landscapeKeys = keyList(40, 38, 37, 39, 193, 194);
    const GXKeyList expected[] = {
        gApp.landscapeKeys,                 // "Landscape L"
        gApp.normalKeys,                    // "Portrait"
        keyList(38, 40, 39, 37, 194, 193),  // "Landscape R": Left 39, Right 37
        keyList(40, 38, 39, 37, 194, 193),  // "Portrait R"
    };
    for (int32_t orientation : {0, 1, 2, 3, 1}) {
        SCOPED_TRACE(orientation);
        setting(kSlotOrientation).current.store(orientation);
        applyOrientation();
        EXPECT_EQ(std::memcmp(&gApp.activeKeys, &expected[orientation], sizeof(GXKeyList)), 0);
    }
    setting(kSlotOrientation).current.store(-1);
}

}  // namespace
