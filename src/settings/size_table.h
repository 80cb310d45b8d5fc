// The picture sizes the program offers: eight rows of candidate sizes, each in four aspects,
// and which rows the camera can take photos and stream video in. A row's 4:3 size is also a
// candidate sensor resolution.
#pragma once

#include <cstdint>

struct PictureSize {
    uint32_t width;
    uint32_t height;
};

constexpr int kSizeRows = 8;
constexpr int kSizeAspects = 4;  // columns: "4:3", "3:4", "16:9", "9:16"

// The candidate sizes as designed.
extern const PictureSize kSizeTable[kSizeRows][kSizeAspects];
// The sizes in use: kSizeTable, with row 0 the screen size in the screen-capture edition. Filled
// when the settings model is built at start-up.
extern PictureSize gSizeTable[kSizeRows][kSizeAspects];
// 1 where the row is capable; narrowed for the device at start-up.
extern uint8_t gPhotoCapableRows[kSizeRows];
extern uint8_t gVideoCapableRows[kSizeRows];

// The row's size in `aspect` (0 to 3); the 4:3 size for an aspect outside the table.
inline PictureSize sizeOf(int row, int32_t aspect) {
    return gSizeTable[row][aspect >= 0 && aspect < kSizeAspects ? aspect : 0];
}
