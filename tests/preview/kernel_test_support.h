// Test pictures for the preview kernels: packed 4:2:2 frames and planar pictures made in code, an
// asymmetric "F" that shows flips and turns, and the turn table written out literally.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "preview/kernel_types.h"

namespace kernel_test {

// The 6 x 5 "F"; larger pictures stretch it, so any turn or flip shows.
inline bool fInk(int x, int y, int w, int h) {
    static const char* const kF[5] = {"######", "#.....", "####..", "#.....", "#....."};
    return kF[y * 5 / h][x * 6 / w] == '#';
}

// Where camera pixel (x, y) of a w x h picture lands as (column, row).
inline std::pair<int, int> turned(uint32_t turn, int x, int y, int w, int h) {
    const std::pair<int, int> at[4] = {
        {x, y}, {y, w - 1 - x}, {h - 1 - y, x}, {w - 1 - x, h - 1 - y}};
    return at[turn];
}

// The portable kernels' walk through a cw x ch packed frame for a turn: the first pixel read and
// the steps, in pixels, along an output row and down an output column.
struct Walk {
    const uint8_t* start;
    int32_t stepC, stepR;
};
inline Walk portableWalk(uint32_t turn, const uint8_t* pixels, int cw, int ch) {
    const Walk walks[4] = {{pixels, 1, cw},
                           {pixels + (cw - 1) * 2, cw, -1},
                           {pixels + (ch - 1) * cw * 2, -cw, 1},
                           {pixels + (ch * cw - 1) * 2, -1, -cw}};
    return walks[turn];
}

// A packed 4:2:2 frame: bytes Cb, Y0, Cr, Y1 per pixel pair, rows `stride` bytes apart.
struct Uyvy {
    int w = 0, h = 0, stride = 0;
    std::vector<uint8_t> bytes;

    Uyvy(int width, int height, int extraStride = 0)
        : w(width),
          h(height),
          stride(2 * width + extraStride),
          bytes(static_cast<size_t>(stride) * height, 0) {}
    uint8_t* data() { return bytes.data(); }
    uint8_t& luma(int x, int y) { return bytes[static_cast<size_t>(y) * stride + 2 * x + 1]; }
    uint8_t& cb(int x, int y) { return bytes[static_cast<size_t>(y) * stride + 4 * (x / 2)]; }
    uint8_t& cr(int x, int y) { return bytes[static_cast<size_t>(y) * stride + 4 * (x / 2) + 2]; }
    void fill(uint8_t y, uint8_t cbValue, uint8_t crValue) {
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x) {
                luma(x, r) = y;
                cb(x, r) = cbValue;
                cr(x, r) = crValue;
            }
    }
};

// A planar 4:2:0 picture with its own storage.
struct Planar {
    int w = 0, h = 0;
    std::vector<uint8_t> y, cb, cr;
    Planar(int width, int height, uint8_t initial = 0)
        : w(width),
          h(height),
          y(static_cast<size_t>(width) * height, initial),
          cb(static_cast<size_t>(width / 2) * (height / 2), initial),
          cr(static_cast<size_t>(width / 2) * (height / 2), initial) {}
    PlanarYuv planes() { return {y.data(), cb.data(), cr.data(), w, w / 2, w / 2}; }
};

inline void randomise(std::vector<uint8_t>& bytes, std::mt19937& rng) {
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
}

inline void randomise(Planar& planar, std::mt19937& rng) {
    for (std::vector<uint8_t>* plane : {&planar.y, &planar.cb, &planar.cr}) randomise(*plane, rng);
}

}  // namespace kernel_test
