// The per-frame preview: camera frames into the screen picture, the display copy, and the
// interval-shooting thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/preview_state.h"
#include "platform/windows.h"

struct ImageBuffer;

// Tick (ms) of the last SystemIdleTimerReset; the capture thread's own.
extern uint32_t lastIdleReset;

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
