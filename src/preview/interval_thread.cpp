// The interval thread: takes a shot every "Delay" milliseconds, the first 3 s after it starts,
// each shot the "Average" number of snapshot frames back to back. A frame is requested from the
// controller (snapshotRequested, then a snapshot reconfiguration and a start, which hand the
// request over and arm it), and the thread waits on frameEvent for the frame consumer to take
// it. The consumer clears snapshotArmed when it has saved the frame, so an armed request after
// the wait means the frame was not taken: the run has failed, and the window thread is told with
// WM_APP (wParam 1). A stop request (intervalStop, with frameEvent signalled to end a wait) ends
// the run silently.
//
// Times are compared as differences of the wrapping 32-bit tick counter, so a run that spans the
// counter's wrap keeps its delay.
#include <algorithm>

#include "core/app_state.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_table.h"
#include "settings/size_table.h"

namespace {

constexpr uint32_t kFirstShotDelayMs = 3000;
constexpr DWORD kPollMs = 10;
constexpr int32_t kMaxAverageLog2 = 8;  // 256 frames

bool stopRequested() {
    return gApp.intervalStop.load() != 0;
}

// Whether tick `a` is before tick `b` on the wrapping counter.
bool tickBefore(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}

// The camera keeps streaming after a snapshot only at a size it can stream continuously: the
// 4:3 size of a video-capable row of the size table.
bool streamsContinuously(const CaptureGeometry& g) {
    for (int row = 0; row < kSizeRows; ++row) {
        const PictureSize size = gSizeTable[row][0];
        if (size.width == g.sensorWidth && size.height == g.sensorHeight)
            return gVideoCapableRows[row] != 0;
    }
    return false;
}

// Takes the frames of one shot; returns how many were taken.
uint32_t takeShot(uint32_t frames) {
    CameraController& c = gController;
    uint32_t taken = 0;
    for (uint32_t i = 0; i < frames && !stopRequested(); ++i) {
        intervalFirstFrame.store(i == 0 ? 1 : 0, std::memory_order_release);
        intervalLastFrame.store(i == frames - 1 ? 1 : 0, std::memory_order_release);
        c.snapshotRequested.store(1);
        c.snapshotArmed.store(0);
        reconfigureForMode(true);
        startCapture();
        WaitForSingleObject(c.frameEvent, INFINITE);
        if (stopRequested()) break;
        if (!streamsContinuously(c.streamGeometry) && c.running.load()) {
            c.running.store(0);
            if (c.backend && c.backend->stop) c.backend->stop();
        }
        if (c.snapshotArmed.load() == 1) break;  // the frame was not taken
        ++taken;
    }
    return taken;
}

}  // namespace

DWORD intervalThreadMain(LPVOID) {
    const uint32_t delay = static_cast<uint32_t>(valueOf(setting(kSlotDelay)));
    const int32_t averageLog2 =
        std::clamp(effectiveIndex(setting(kSlotAverage)), 0, kMaxAverageLog2);
    const uint32_t frames = 1u << averageLog2;
    uint32_t next = GetTickCount() + kFirstShotDelayMs;
    bool failed = false;

    while (!stopRequested()) {
        uint32_t now = GetTickCount();
        while (tickBefore(now, next) && !stopRequested()) {
            Sleep(kPollMs);
            now = GetTickCount();
        }
        if (stopRequested()) break;
        // Missed shots are not made up.
        next += delay;
        if (!tickBefore(now, next)) next = now + delay;

        const uint32_t taken = takeShot(frames);
        gController.snapshotArmed.store(0);
        if (taken < frames) {
            // A stop in the middle of a shot leaves it untaken and uncounted; any other
            // missing frame fails the run.
            failed = !stopRequested();
            break;
        }
        gApp.intervalShots.fetch_add(1);
    }

    SetEvent(gApp.intervalDoneEvent);
    gApp.intervalThread.store(nullptr);
    if (failed) PostMessageW(gApp.mainWindow, WM_APP, 1, 0);
    return 0;
}
