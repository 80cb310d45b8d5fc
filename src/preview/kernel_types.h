// The two records every preview kernel shares: KernelTurn, how a picture is turned on its way to
// the screen, and PlanarYuv, the planar 4:2:0 scratch picture of the general preview path.
// Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>

// How a w x h picture (in the camera's axes) is turned into the destination; camera pixel (x, y)
// goes to destination (column, row):
//   0: (x, y)                  w x h, unturned
//   1: (y, w-1-x)              h x w, the camera's right edge becomes the top
//   2: (h-1-y, x)              h x w, the camera's left edge becomes the top
//   3: (w-1-x, h-1-y)          w x h, upside down
enum KernelTurn : uint32_t {
    TurnNone = 0,
    TurnRightEdgeUp = 1,
    TurnLeftEdgeUp = 2,
    TurnUpsideDown = 3,
};

// Turns 1 and 2 exchange width and height.
constexpr bool turnSwapsAxes(uint32_t turn) {
    return turn == TurnRightEdgeUp || turn == TurnLeftEdgeUp;
}

// Planar YCbCr 4:2:0: full-size luma, chroma halved both ways. Strides are bytes per row; the
// preview loop uses Y stride = picture width and chroma strides = width / 2.
struct PlanarYuv {
    uint8_t* y = nullptr;
    uint8_t* cb = nullptr;
    uint8_t* cr = nullptr;
    int32_t yStride = 0;
    int32_t cbStride = 0;
    int32_t crStride = 0;
};

// Where the pixels of a w x h picture (camera axes) land under a turn, for a destination of
// `pitch` bytes per row and `pixelBytes` bytes per pixel: pixel (x, y) is at byte
// origin + x * xStep + y * yStep from the destination's first pixel.
struct TurnedPlacement {
    ptrdiff_t origin;
    ptrdiff_t xStep;
    ptrdiff_t yStep;
};

constexpr TurnedPlacement placeTurned(uint32_t turn, int32_t w, int32_t h, ptrdiff_t pitch,
                                      ptrdiff_t pixelBytes) {
    switch (turn & 3) {
        case TurnNone:
            return {0, pixelBytes, pitch};
        case TurnRightEdgeUp:
            return {(w - 1) * pitch, -pitch, pixelBytes};
        case TurnLeftEdgeUp:
            return {(h - 1) * pixelBytes, pitch, -pixelBytes};
        default:
            return {(h - 1) * pitch + (w - 1) * pixelBytes, -pixelBytes, -pitch};
    }
}

static_assert(placeTurned(TurnRightEdgeUp, 5, 3, 100, 2).origin == 400,
              "turn 1: camera column 0 lands on the bottom row");
static_assert(placeTurned(TurnLeftEdgeUp, 5, 3, 100, 2).origin == 4,
              "turn 2: camera row 0 lands on the last column");
