// A host microphone behind the simulated wave input: an FFmpeg input (alsa, pulse, a lavfi graph,
// a file) read on a thread of its own from the moment the handheld starts, resampled to the wave
// format the program opens (8 kHz, 16-bit, mono) and cut into the 10 ms blocks the simulated
// microphone delivers. While the program records, the blocks go to its wave input; otherwise they
// are dropped, so the sound keeps the clock it shares with the camera.
//
// A paced input delivers block k when its last sample is due, (k + 1) x 10 ms after the origin. A
// device delivers blocks as they come. An input that fails is replaced by silence at the same pace
// (a movie never stalls) while the thread tries to open it again every second.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "sim/host/host_input.h"

struct SwrContext;

class HostMicrophone {
  public:
    using Clock = std::chrono::steady_clock;
    static std::shared_ptr<HostMicrophone> open(const std::string& spec, Clock::time_point origin,
                                                std::string& error);
    ~HostMicrophone();
    HostMicrophone(const HostMicrophone&) = delete;
    HostMicrophone& operator=(const HostMicrophone&) = delete;

    // Blocks go to `sink` from the reading thread until detach() returns (it may be called from
    // within the sink). False when one is attached already.
    bool attach(WaveSource::Sink sink);
    void detach();

  private:
    HostMicrophone(std::string spec, Clock::time_point origin);
    void run();
    bool waitUntil(Clock::time_point when);  // false when asked to stop
    bool resample(AVFrame* frame);           // appends to pending_
    void deliver(const int16_t* block);

    const std::string spec_;
    Clock::time_point origin_;
    HostInput input_;  // the reading thread's only, as are the three below
    SwrContext* resampler_ = nullptr;
    std::vector<int16_t> pending_;  // resampled samples not yet delivered
    std::vector<int16_t> converted_;
    std::thread thread_;

    std::mutex mutex_;  // guards stopping_
    std::condition_variable wake_;
    bool stopping_ = false;

    // Held while a block is delivered, so that detach() waits for it; recursive, since the sink
    // may detach from within its own call.
    std::recursive_mutex sinkMutex_;
    WaveSource::Sink sink_;
};

// The wave input of a handheld whose microphone is a host input.
std::unique_ptr<WaveSource> openHostWaveSource(std::shared_ptr<HostMicrophone> microphone);
