// What the camera source tests share: a frame handler that counts and keeps what it is given,
// start blocks as the controller builds them, bounded waits, and the count of the process's
// threads (a source that fails or closes must leave none behind).
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_backend.h"
#include "core/frame.h"
#include "settings/camera_controller.h"
#include "sim/handheld.h"
#include "support/temp_device.h"
#include "support/wait_until.h"

namespace camtest {

// At most `ms` milliseconds for what a camera thread does.
inline bool waitUntil(const std::function<bool()>& done, int ms = 3000) {
    return ::waitUntil(done, std::chrono::milliseconds(ms));
}

inline int64_t millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

inline int threadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

// The threads that run before a test starts its own. A first thread is started and joined here:
// the sanitizers' runtimes start a helper thread of their own with the process's first thread.
inline int threadBaseline() {
    std::thread([] {}).join();
    return threadCount();
}

// Waits until no more than `baseline` threads run (ended threads take a moment to go).
inline bool threadsBackTo(int baseline) {
    return waitUntil([&] { return threadCount() <= baseline; });
}

// The last frame the handler was given: its byte count, the Frame record's layout then, and its
// pixels (the record's width x height x bytes per pixel).
struct Seen {
    uint32_t bytes = 0, format = 0;
    bool reservedNonZero = false;  // in any frame so far
    std::vector<uint8_t> pixels;
};

// Everything the frame handler saw. One process-wide sink, as the handler is a plain function.
struct FrameSink {
    std::atomic<int> frames{0}, callsAfterStop{0}, holdMs{0};  // the handler waits `holdMs`...
    std::atomic<bool> stopped{false}, release{false};          // ...or until `release`
    std::mutex mutex;
    Seen last;

    void reset() {
        frames = callsAfterStop = holdMs = 0;
        stopped = release = false;
        std::lock_guard lock(mutex);
        last = Seen{};
    }
    Seen seen() {
        std::lock_guard lock(mutex);
        return last;
    }
};

inline FrameSink gSink;

inline void recordFrame(uint8_t* pixels, uint32_t byteLength, uint32_t* reserved) {
    FrameSink& s = gSink;
    if (s.stopped) ++s.callsAfterStop;
    {
        std::lock_guard lock(s.mutex);
        s.last.reservedNonZero |= !reserved || *reserved != 0;
        s.last.bytes = byteLength;
        s.last.format = gFrame.frameFormat;
        const size_t n = size_t{gFrame.frameWidth} * gFrame.frameHeight;
        s.last.pixels.assign(pixels, pixels + n * bytesPerPixel(gFrame.frameFormat));
    }
    waitUntil([&] { return s.release.load(); }, s.holdMs);
    ++s.frames;
}

// The start block as the controller builds it, for a crop window of a sensor picture; and the
// Frame record as the controller sets it before a start.
inline CaptureParams params(uint32_t sensorWidth, uint32_t sensorHeight, uint32_t left,
                            uint32_t top, uint32_t width, uint32_t height,
                            FrameHandler handler = recordFrame) {
    CaptureParams p{};
    p.exposure = p.exposureAgain = 2;
    p.sensorWidth = sensorWidth;
    p.sensorHeight = sensorHeight;
    p.cropLeft = p.cropLeftAgain = left;
    p.cropTop = p.cropTopAgain = top;
    p.cropRight = p.cropRightAgain = left + width - 1;
    p.cropBottom = p.cropBottomAgain = top + height - 1;
    p.frameHandler = handler;
    gFrame.frameWidth = width;
    gFrame.frameHeight = height;
    gFrame.frameFormat = Uyvy;
    return p;
}

// Two rounds of open, start, stop and close: each round streams frames of `frameBytes`, no frame
// handler call begins after stop returns (a handler still busy when it is asked included), and
// no thread is left running at the end.
inline void expectTwoCleanCycles(const CameraBackend& camera, const CaptureParams& start,
                                 uint32_t frameBytes) {
    const int baseline = threadBaseline();
    uint8_t block[kOpenBlockBytes] = {};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        gSink.reset();
        gSink.holdMs = 20;
        ASSERT_NE(camera.open(block), 0u);
        CaptureParams p = start;
        ASSERT_NE(camera.start(&p), 0u);
        ASSERT_TRUE(waitUntil([] { return gSink.frames >= 2; }));
        EXPECT_EQ(gSink.seen().bytes, frameBytes);
        EXPECT_FALSE(gSink.seen().reservedNonZero);
        camera.stop();
        gSink.stopped = true;
        EXPECT_NE(camera.close(), 0u);
        // Once every thread of the source has ended, a late call would have been counted.
        EXPECT_TRUE(threadsBackTo(baseline));
        EXPECT_EQ(gSink.callsAfterStop, 0);
    }
}

}  // namespace camtest
