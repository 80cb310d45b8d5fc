// The picture a camera source is delivering: its layout codes and the process-wide Frame record.
// Standard library only, so the JPEG encoder core can read the layout codes.
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

// Describes the picture now being handled. Written by the window thread only while no source
// streams; while one streams, by the capture thread (screen source and preview loop).
struct Frame {
    uint32_t frameWidth = 0;      // pixels per row
    uint32_t frameHeight = 0;     // rows
    uint32_t frameFormat = Uyvy;  // SourcePixelFormat
    uint8_t* framePixels = nullptr;
};

extern Frame gFrame;
