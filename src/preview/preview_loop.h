// The per-frame preview: camera frames into the screen picture, the display copy, and the
// interval-shooting thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

struct ImageBuffer;

enum PreviewMode : uint32_t {
    Blank = 0,        // the display is kept black and no overlay is drawn
    Live = 1,         // camera picture with overlay
    OverlayOnly = 2,  // black background with overlay
};

// Written by the window thread (and the interval thread), read by the capture thread.
extern std::atomic<uint32_t> previewMode;

// Per-frame fields latched at the start of every frame.
extern std::atomic<uint32_t> frameStartTick;    // ms; the overlay's "now"
extern std::atomic<uint32_t> frameWorkMillis;   // ms spent converting the last frame
extern std::atomic<uint32_t> frameCaptureMode;  // capture mode latched for this frame

// The frame handler installed in the camera controller: called on the capture thread once per
// frame with a packed 4:2:2 picture of `byteLength` bytes.
void onFrame(uint8_t* pixels, uint32_t byteLength, uint32_t* reserved);

// Copies `image` (black when null) to the display memory while the window is full screen.
void presentScreen(const ImageBuffer* image);

// Body of the interval-shooting thread.
DWORD intervalThreadMain(LPVOID unused);
