// The image buffers, the program-path helper, and the active key list, which follows the
// orientation: the device's portrait or landscape list, opposite keys exchanged when turned round.
#include <gtest/gtest.h>

#include <cstring>

#include "app/keys.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "settings/settings_table.h"

namespace {

TEST(EnsureImage, KeepsAnOwnedBlockOfTheSameSizeReplacesABorrowedOneAndFreesAtZero) {
    ImageBuffer image;
    ensureImage(image, 40, 30);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(image.pixels) % 32, 0u);
    EXPECT_EQ(image.header.biSizeImage, 40u * 30 * 2);
    uint8_t* pixels = image.pixels;
    ensureImage(image, 30, 40);  // same byte count, other shape: the block stays
    EXPECT_EQ(image.pixels, pixels);

    ensureImage(image, 0, 16);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.header.biSizeImage, 0u);

    alignas(32) static uint8_t foreign[40 * 30 * 2];
    image.pixels = image.raw = foreign;
    image.borrowed = 1;
    image.header.biSizeImage = sizeof foreign;
    ensureImage(image, 40, 30);
    EXPECT_NE(image.pixels, foreign);
    EXPECT_EQ(image.borrowed, 0);
    std::memset(image.pixels, 0xAB, image.header.biSizeImage);  // it is ours to write
    ensureImage(image, 0, 0);
}

TEST(SiblingPath, ReplacesTheFileNameInTheProgramFolder) {
    const WCHAR program[] = u"\\Program Files\\X\\Prog.exe";
    std::copy(std::begin(program), std::end(program), gApp.programPath);
    EXPECT_EQ(std::u16string(siblingPath(u"Config.txt")), u"\\Program Files\\X\\Config.txt");
    // A name too long for the buffer is cut at its end, never written past it.
    std::u16string longName(400, u'n');
    EXPECT_EQ(std::u16string(siblingPath(longName.c_str())).size(), MAX_PATH - 1);
}

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
