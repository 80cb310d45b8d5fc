// The picture a camera source is delivering: the process-wide Frame record.
#pragma once

#include <cstdint>

#include "core/pixel_format.h"

// Describes the picture now being handled. Written by the window thread only while no source
// streams; while one streams, by the capture thread (screen source and preview loop).
struct Frame {
    uint32_t frameWidth = 0;      // pixels per row
    uint32_t frameHeight = 0;     // rows
    uint32_t frameFormat = Uyvy;  // SourcePixelFormat
    uint8_t* framePixels = nullptr;
};

extern Frame gFrame;
