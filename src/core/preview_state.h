// The preview's mode and the fields it latches at the start of every frame: written by the
// window thread (and the interval thread) or by the preview on the capture thread, read by the
// overlay, the frame consumer, the movie and webcam branches and the camera controller. They lie
// below every subsystem so that each reads them without reaching up to the preview.
#pragma once

#include <atomic>
#include <cstdint>

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
// Set by the interval thread before it requests each frame of a shot: 1 for the last frame, whose
// consumption finishes the averaged picture and saves it. Read by the frame consumer.
extern std::atomic<uint8_t> intervalLastFrame;
// Set beside it: 1 for the first frame of a shot, whose consumption first clears the sums of an
// averaged shot (on the capture thread, the one that uses the photo buffer frame by frame).
extern std::atomic<uint8_t> intervalFirstFrame;
