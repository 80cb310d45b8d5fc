// The layout codes of a camera frame's pixels. Standard library only: the JPEG encoder core and
// the preview kernels read these codes and stay free of the application's records.
#pragma once

#include <cstdint>

// Layout of a frame's pixels; rows are packed without padding, top row first.
enum SourcePixelFormat : uint32_t {
    Bgr24 = 0,   // 3 bytes per pixel: blue, green, red
    Rgb565 = 1,  // little-endian 16-bit word: red 15-11, green 10-5, blue 4-0
    Rgb555 = 2,  // little-endian 16-bit word: red 14-10, green 9-5, blue 4-0 (bit 15 ignored)
    Uyvy = 3,    // packed 4:2:2, two pixels in four bytes: Cb, Y0, Cr, Y1 (BT.601 levels)
};

// Every user of a frame computes its pixel size this way.
constexpr uint32_t bytesPerPixel(uint32_t frameFormat) {
    return frameFormat == Bgr24 ? 3 : 2;
}
