// The handheld's microphone: 8 kHz 16-bit mono PCM delivered in real time from its own thread,
// in blocks of 10 ms paced by the hardware clock. What it hears: a quiet tone, and a short loud
// beep exactly while the test scene shows its once-a-second marker, so that a movie's sound can
// be checked against its pictures.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/device.h"

constexpr uint32_t kMicrophoneRate = 8000;  // samples per second
constexpr uint32_t kMicrophoneSamplesPerMs = 8;
constexpr uint32_t kMicrophoneBlockSamples = 80;  // 10 ms
constexpr int16_t kMicrophoneToneLevel = 600;     // peak of the quiet 500 Hz tone
constexpr int16_t kMicrophoneBeepLevel = 12000;   // peak of the 1 kHz beep

// Sample `index` of a recording whose first sample was taken at hardware tick `startTick` (ms):
// it was taken at tick startTick + index / 8.
int16_t microphoneSample(uint64_t index, uint32_t startTick);

class SimulatedMicrophone final : public WaveSource {
  public:
    using Clock = uint32_t (*)();
    // `clock` gives the hardware's milliseconds (the clock the cameras render the scene with).
    explicit SimulatedMicrophone(Clock clock);
    ~SimulatedMicrophone() override;
    SimulatedMicrophone(const SimulatedMicrophone&) = delete;
    SimulatedMicrophone& operator=(const SimulatedMicrophone&) = delete;

    bool start(Sink sink) override;
    // No block is delivered after this returns. Safe to call when not started, and twice.
    void stop() override;

  private:
    void run(Sink sink, uint32_t startTick);

    Clock clock_;
    std::mutex mutex_;  // guards running_
    std::condition_variable wake_;
    bool running_ = false;
    std::thread thread_;
};
