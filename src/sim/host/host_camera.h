// A host camera behind the simulated sensors: an FFmpeg input read on a thread of its own, whose
// newest decoded frame is what a sensor exposes when its camera asks for one. Nothing queues: a
// frame the sensors never asked for is simply replaced by the next one.
//
// Lost device: a read that fails (unplugged, busy) closes the input; the frames stop, and the
// thread tries to open it again every second, so frames resume when it comes back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/host/host_input.h"
#include "sim/host/host_scale.h"
#include "sim/host_feed.h"

class HostCamera {
  public:
    using Clock = std::chrono::steady_clock;
    // Opens `spec` now, so a missing device is known at start (null with `error`, one line), then
    // reads it on a thread of its own. Paced inputs play their timestamps from `origin`.
    static std::shared_ptr<HostCamera> open(const std::string& spec, Clock::time_point origin,
                                            std::string& error);
    ~HostCamera();
    HostCamera(const HostCamera&) = delete;
    HostCamera& operator=(const HostCamera&) = delete;

    // The operations of HostCameraFeed (sim/host_feed.h).
    uint64_t newest();
    uint64_t waitNewer(uint64_t seen, uint32_t timeoutMs);
    uint64_t read(uint8_t* uyvy, uint32_t width, uint32_t height);

  private:
    HostCamera(std::string spec, Clock::time_point origin);
    void run();
    bool waitUntil(Clock::time_point when);  // false when asked to stop

    const std::string spec_;
    Clock::time_point origin_;
    HostInput input_;  // the reading thread's only
    std::thread thread_;

    std::mutex mutex_;  // guards the fields below
    std::condition_variable changed_;
    bool stopping_ = false;
    AVFrame* latest_ = nullptr;  // the newest decoded frame, owned
    uint64_t number_ = 0;

    std::mutex convertMutex_;  // one conversion at a time: the scaler and its frame
    HostScaler scaler_;
    AVFrame* work_ = nullptr;
};

// Converts a decoded host frame into width x height packed 4:2:2 (Cb Y0 Cr Y1, BT.601 studio
// levels): its centre in that aspect (the frame's crop fields are set and applied), scaled with
// `scaler`'s state, made or reused here. False when the frame cannot be converted.
bool convertHostFrame(AVFrame* frame, HostScaler& scaler, uint8_t* uyvy, uint32_t width,
                      uint32_t height);

// The process's host camera as the sensors see it (null: the scene). The handheld installs its
// camera while it is mounted; the feed stays valid when the camera goes (it then has no frames).
void installHostCamera(std::shared_ptr<HostCamera> camera);
const HostCameraFeed* hostCameraFeed();
