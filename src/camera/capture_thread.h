// The control block of a camera source's capture thread (the "DSC1:" and "LCM1:" backends and the
// screen source), and the hand-shakes by which the window thread starts, pauses and ends it.
//
// The thread waits for `runEvent`, then runs its frame loop until `pause` is set (or the run
// request is withdrawn), acknowledges with `pausedEvent`, and ends when `quit` is set,
// acknowledging with `exitedEvent`. Stopping and closing wait for the acknowledgement at most
// kCaptureHandshakeMs.
//
// A block belongs to one thread. Normally `close` releases it once the thread has acknowledged
// its end. When the thread does not answer in time (a frame handler still busy), `close` goes on
// and leaves the block, with the driver handle and the frame buffer named in it, to the thread,
// which releases them when it finally ends; a later open makes a block of its own. So a late
// thread never touches events, a driver or memory that another open has made.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

// How long stop and close wait for the thread's acknowledgement.
constexpr DWORD kCaptureHandshakeMs = 1000;

struct CaptureThread {
    std::atomic<uint32_t> quit{0};   // 1: the thread ends
    std::atomic<uint32_t> pause{0};  // 1: the thread leaves its frame loop
    // Made before the thread starts and fixed for its life.
    HANDLE exitedEvent = nullptr;  // auto reset: set by the thread when it ends
    HANDLE pausedEvent = nullptr;  // auto reset: set when it leaves its frame loop
    HANDLE runEvent = nullptr;     // manual reset: while set, the thread captures
    HANDLE driver = nullptr;       // the source's driver, released with a block left to the thread
    uint8_t* frameBuffer = nullptr;  // likewise (new[]), for sources that own their frame memory

    // 1 while the thread is inside its frame loop: a stop waits only for a thread that is.
    std::atomic<uint32_t> inFrameLoop{0};
    // Who releases the block: both hold it until one of them gives it up.
    std::atomic<uint32_t> owners{0};
};

// Makes a block with its three events (runEvent reset); null when an event cannot be made.
CaptureThread* createCaptureThread();
// Starts the thread on `block`; its handle, or null.
HANDLE launchCaptureThread(CaptureThread* block, LPTHREAD_START_ROUTINE body);
// Releases a block whose thread never started: its events (not its driver or frame buffer).
void discardCaptureThread(CaptureThread*& block);

// --- The thread's side ------------------------------------------------------------------------

// Waits for the run request; false when the thread is to end (quit, or the wait failed).
bool waitForRun(CaptureThread& block);
// True while the thread should capture the next frame: not paused and the run request stands.
bool keepCapturing(const CaptureThread& block);
// Leaves the frame loop: clears inFrameLoop, then sets pausedEvent.
void leaveFrameLoop(CaptureThread& block);
// The thread's last act: sets exitedEvent, or releases the block when close has given up on it.
void captureThreadEnded(CaptureThread* block);

// --- The window thread's side -----------------------------------------------------------------

// Sets runEvent: the thread enters its frame loop.
void runCaptureThread(CaptureThread* block);
// The stop hand-shake: withdraws the run request, sets pause, waits (bounded) until the thread
// has left its frame loop, clears pause. Afterwards no frame handler call begins until the next
// run request.
void pauseCaptureThread(CaptureThread* block);
// The close hand-shake: quit and pause set, runEvent set, a bounded wait for exitedEvent. Returns
// true when the thread ended: the events are closed and the block is freed, and the caller
// releases its driver and frame buffer. Returns false when the thread did not answer: the block,
// its driver and frame buffer now belong to the thread. `block` is null afterwards either way.
bool endCaptureThread(CaptureThread*& block);
