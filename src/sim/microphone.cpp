// The simulated microphone.
//
// Sample n of a recording belongs to hardware tick startTick + n / 8; a block of 80 samples is
// delivered once the tick of its last sample has come, so the sound runs in step with the clock
// and never ahead of it. Late blocks (a busy machine) are delivered together as soon as the
// thread runs again; none is dropped.
#include "sim/microphone.h"

#include <array>
#include <chrono>
#include <cmath>

#include "sim/scene/scene_generator.h"

namespace {

// One period of a sine at 8 kHz sampling: 16 samples for 500 Hz; the 1 kHz beep takes every
// second entry.
constexpr uint32_t kTonePeriod = 16;
const std::array<double, kTonePeriod> kSine = [] {
    std::array<double, kTonePeriod> s{};
    for (uint32_t i = 0; i < kTonePeriod; ++i)
        s[i] = std::sin(2 * 3.14159265358979 * i / kTonePeriod);
    return s;
}();

}  // namespace

int16_t microphoneSample(uint64_t index, uint32_t startTick) {
    const uint32_t tick = sceneStill()
                              ? kSceneStillTickMs
                              : startTick + static_cast<uint32_t>(index / kMicrophoneSamplesPerMs);
    if (sceneMarkerVisible(tick))
        return static_cast<int16_t>(
            std::lround(kMicrophoneBeepLevel * kSine[(index * 2) % kTonePeriod]));
    return static_cast<int16_t>(std::lround(kMicrophoneToneLevel * kSine[index % kTonePeriod]));
}

SimulatedMicrophone::SimulatedMicrophone(Clock clock) : clock_(clock) {}

SimulatedMicrophone::~SimulatedMicrophone() {
    stop();
}

bool SimulatedMicrophone::start(Sink sink) {
    if (!sink) return false;
    {
        std::lock_guard lock(mutex_);
        if (running_ || thread_.joinable()) return false;
        running_ = true;
    }
    thread_ =
        std::thread([this, sink = std::move(sink), startTick = clock_()] { run(sink, startTick); });
    return true;
}

void SimulatedMicrophone::stop() {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void SimulatedMicrophone::run(Sink sink, uint32_t startTick) {
    int16_t block[kMicrophoneBlockSamples];
    uint64_t delivered = 0;
    std::unique_lock lock(mutex_);
    while (running_) {
        const uint64_t due = uint64_t{clock_() - startTick} * kMicrophoneSamplesPerMs;
        while (running_ && delivered + kMicrophoneBlockSamples <= due) {
            for (uint32_t i = 0; i < kMicrophoneBlockSamples; ++i)
                block[i] = microphoneSample(delivered + i, startTick);
            lock.unlock();
            sink(block, kMicrophoneBlockSamples);
            lock.lock();
            delivered += kMicrophoneBlockSamples;
        }
        // Until the next block's last sample is due.
        const uint64_t wait =
            (delivered + kMicrophoneBlockSamples - due + kMicrophoneSamplesPerMs - 1) /
            kMicrophoneSamplesPerMs;
        wake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return !running_; });
    }
}
