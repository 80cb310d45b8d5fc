// The active key list follows the orientation: the device's portrait or landscape list, with
// the opposite keys exchanged when the picture is turned round.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_state.h"
#include "app/keys.h"
#include "settings/settings_table.h"

namespace {

GXKeyList keyList(short up, short down, short left, short right, short a, short b, short c,
                  short start) {
    GXKeyList k{};
    k.vkUp = up, k.vkDown = down, k.vkLeft = left, k.vkRight = right;
    k.vkA = a, k.vkB = b, k.vkC = c, k.vkStart = start;
    // Screen points that must stay where they are.
    k.ptUp = {1, 2}, k.ptLeft = {5, 6}, k.ptA = {9, 10}, k.ptStart = {15, 16};
    return k;
}

bool same(const GXKeyList& a, const GXKeyList& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class KeysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gApp.normalKeys = keyList(38, 40, 37, 39, 193, 194, 195, 13);
        gApp.landscapeKeys = keyList(40, 38, 37, 39, 193, 194, 195, 13);
    }
    void TearDown() override { setting(kSlotOrientation).current.store(-1); }
    static void orient(int32_t orientation) {
        setting(kSlotOrientation).current.store(orientation);
        applyOrientation();
    }
};

}  // namespace

TEST_F(KeysTest, LandscapeLAndPortraitUseTheListsUnchanged) {
    orient(0);
    EXPECT_TRUE(same(gApp.activeKeys, gApp.landscapeKeys));
    orient(1);
    EXPECT_TRUE(same(gApp.activeKeys, gApp.normalKeys));
}

TEST_F(KeysTest, LandscapeRExchangesTheOppositeKeys) {
    orient(2);
    const GXKeyList& k = gApp.activeKeys;
    EXPECT_EQ(k.vkLeft, 39);  // the landscape list has Left 37 and Right 39
    EXPECT_EQ(k.vkRight, 37);
    EXPECT_EQ(k.vkUp, 38);
    EXPECT_EQ(k.vkDown, 40);
    EXPECT_EQ(k.vkA, 194);
    EXPECT_EQ(k.vkB, 193);
    EXPECT_EQ(k.vkC, 195);
    EXPECT_EQ(k.vkStart, 13);
    EXPECT_EQ(k.ptUp.x, 1);  // the points stay
    EXPECT_EQ(k.ptA.y, 10);
}

TEST_F(KeysTest, PortraitRIsTheNormalListTurned) {
    orient(3);
    GXKeyList expected = keyList(40, 38, 39, 37, 194, 193, 195, 13);
    EXPECT_TRUE(same(gApp.activeKeys, expected));
    orient(1);  // and back
    EXPECT_TRUE(same(gApp.activeKeys, gApp.normalKeys));
}
