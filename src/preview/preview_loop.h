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

// The renderer's copy of gApp.activity (an ActivityState), refreshed at the start of every frame;
// the overlay and the frame consumer act on it. About (3) until the first frame.
extern std::atomic<uint32_t> seenActivity;
// 1 when the last refresh found gApp.activity different from seenActivity.
extern std::atomic<uint8_t> activityChanged;
// Tick (ms) of the last SystemIdleTimerReset; the capture thread's own.
extern uint32_t lastIdleReset;

// Set by the interval thread before it requests each frame of a shot: 1 for the last frame, whose
// consumption finishes the averaged picture and saves it. Read by the frame consumer.
extern std::atomic<uint8_t> intervalLastFrame;

// Where every frame goes at the end of onFrame: the frame consumer, consumeFrame (storage.h).
// Tests and benchmarks put a stand-in here before frames arrive.
using FrameConsumer = int (*)(uint8_t* pixels);
extern FrameConsumer frameConsumer;

// The frame handler installed in the camera controller: called on the capture thread once per
// frame with a packed 4:2:2 picture of `byteLength` bytes.
void onFrame(uint8_t* pixels, uint32_t byteLength, uint32_t* reserved);

// Copies `image` (black when null) to the display memory while the window is full screen.
void presentScreen(const ImageBuffer* image);

// Body of the interval-shooting thread: a shot every "Delay" (the first 3 s after the start),
// each the "Average" number of snapshot frames, until gApp.intervalStop is set or a frame is not
// taken; then it signals gApp.intervalDoneEvent, clears gApp.intervalThread, and after a failed
// shot posts WM_APP with wParam 1 to the main window.
DWORD intervalThreadMain(LPVOID unused);
