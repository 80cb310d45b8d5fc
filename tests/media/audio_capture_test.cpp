// Sound capture: the buffers made per tick length, the queue of filled buffers, the alignment
// of a movie's first sound to its first tick, the start synchronisation, and the simulated
// microphone behind the platform's wave input.
#include <chrono>
#include <cstring>
#include <thread>

#include "media/audio_capture.h"
#include "media/capture_test_support.h"
#include "sim/microphone.h"

namespace {

using namespace capturetest;

// Hands a buffer back as the device would, filled with `bytes` bytes at `tick`.
void fill(AudioCapture& a, WAVEHDR& h, uint32_t bytes, uint8_t value) {
    std::memset(h.lpData, value, bytes);
    h.dwBytesRecorded = bytes;
    onWaveInput(nullptr, WIM_DATA, reinterpret_cast<DWORD_PTR>(&a), reinterpret_cast<DWORD_PTR>(&h),
                0);
}

// Polls `take` for up to `ms` milliseconds.
const uint8_t* takeWithin(AudioCapture& a, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (const uint8_t* p = takeBuffer(a)) return p;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return nullptr;
}

TEST(AudioCapture, BuffersCoverFourSecondsInTicksOfTheFramePeriod) {
    AudioCapture a;
    ASSERT_TRUE(configure(a, kSoundBufferMs / 1000, 1000));  // "Max FPS" "1"
    EXPECT_EQ(a.bufferCount, 4u);
    EXPECT_EQ(a.bufferBytes, 16000u);
    EXPECT_EQ(a.headers[3].dwBufferLength, 16000u);
    ASSERT_TRUE(configure(a, kSoundBufferMs / 40, 40));  // "25"
    EXPECT_EQ(a.bufferCount, 100u);
    EXPECT_EQ(a.bufferBytes, 640u);
    EXPECT_EQ(a.periodMs, 40u);
    const WAVEFORMATEX pcm8kMono16 = {1, 1, 8000, 16000, 2, 16, 0};
    EXPECT_EQ(std::memcmp(&a.waveFormat, &pcm8kMono16, sizeof pcm8kMono16), 0);
    EXPECT_FALSE(configure(a, 0, 200));  // nothing happens
    EXPECT_EQ(a.bufferCount, 100u);
}

TEST(AudioCapture, FilledBuffersAreTakenOldestFirstAndEmptyOnesSkipped) {
    AudioCapture a;
    ASSERT_TRUE(configure(a, 4, 200));
    EXPECT_EQ(takeBuffer(a), nullptr);
    fill(a, a.headers[0], 3200, 1);
    fill(a, a.headers[1], 0, 2);  // came back empty
    fill(a, a.headers[2], 100, 3);
    const uint8_t* p = takeBuffer(a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(a.copiedBytes, 3200u);
    EXPECT_EQ(p[3199], 1);
    p = takeBuffer(a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(a.copiedBytes, 100u);
    EXPECT_EQ(p[0], 3);
    EXPECT_EQ(takeBuffer(a), nullptr);
    EXPECT_EQ(a.head, nullptr);
    EXPECT_EQ(a.tail, nullptr);
    fill(a, a.headers[3], 10, 4);
    ASSERT_NE(takeBuffer(a), nullptr);
    EXPECT_EQ(a.copiedBytes, 10u);
}

TEST(AudioCapture, TheFirstSoundOfAMovieStartsAtItsFirstTick) {
    AudioCapture a;
    ASSERT_TRUE(configure(a, 4, 40));
    // Buffers of 40 ms stamped when they came back at 1000, 1040 and 1080: the first covers
    // 960..999, the second 1000..1039, the third 1040..1079.
    for (int i = 0; i < 3; ++i) {
        std::memset(a.headers[i].lpData, 0, 640);
        for (int s = 0; s < 320; ++s) {  // each sample holds its time: 1000 + 40 i - 40 + s / 8
            const int16_t t = int16_t(960 + 40 * i + s / 8);
            std::memcpy(a.headers[i].lpData + s * 2, &t, 2);
        }
        a.headers[i].dwBytesRecorded = 640;
        onWaveInput(nullptr, WIM_DATA, reinterpret_cast<DWORD_PTR>(&a),
                    reinterpret_cast<DWORD_PTR>(&a.headers[i]), 0);
        a.headers[i].dwUser = 1000 + 40 * i;
    }
    alignSoundStart(a, 1010);  // the clock starts 10 ms into the second buffer
    const uint8_t* p = takeBuffer(a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(a.copiedBytes, 640u - 10 * 16);
    int16_t first;
    std::memcpy(&first, p, 2);
    EXPECT_EQ(first, 1010);
    ASSERT_NE(takeBuffer(a), nullptr);
    EXPECT_EQ(a.copiedBytes, 640u) << "later buffers are whole";
}

TEST(AudioCapture, TheStartSynchronisationGivesUpAfter500Polls) {
    AudioCapture silent;
    ASSERT_TRUE(configure(silent, 4, 1000));
    EXPECT_EQ(synchronizeSoundStart(silent), 500u);
    fill(silent, silent.headers[0], 16000, 1);
    fill(silent, silent.headers[1], 16000, 2);
    EXPECT_EQ(synchronizeSoundStart(silent), 1u);
    EXPECT_EQ(takeBuffer(silent), nullptr) << "what was waiting is thrown away";
}

TEST(AudioCapture, RecordsTheMicrophoneThroughTheWaveInput) {
    CaptureState state(profile());
    AudioCapture a;
    ASSERT_TRUE(configure(a, kSoundBufferMs / 40, 40));
    ASSERT_EQ(openSound(a), 1u);
    const uint8_t* p = takeWithin(a, 2000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(a.copiedBytes, 640u);
    // The quiet tone or the beep, never silence.
    int peak = 0;
    for (uint32_t i = 0; i < a.copiedBytes / 2; ++i) {
        int16_t s;
        std::memcpy(&s, p + i * 2, 2);
        peak = std::max(peak, std::abs(int(s)));
    }
    EXPECT_GE(peak, kMicrophoneToneLevel - 1);
    resetAndRelease(a);
    closeSound(a);
    EXPECT_EQ(a.device, nullptr);
    for (uint32_t i = 0; i < a.bufferCount; ++i)
        EXPECT_EQ(a.headers[i].dwFlags & (WHDR_PREPARED | WHDR_INQUEUE), 0u);
    // And again, as the next movie does.
    ASSERT_EQ(openSound(a), 1u);
    EXPECT_NE(takeWithin(a, 2000), nullptr);
    AviSoundSource source = soundSourceOf(a);
    source.stop(source.context);
    EXPECT_EQ(a.device, nullptr);
}

TEST(AudioCapture, ADeviceWithoutWaveInputGivesNoSound) {
    DeviceProfile p = profile();
    p.waveInput = false;
    CaptureState state(p);
    AudioCapture a;
    ASSERT_TRUE(configure(a, 4, 1000));
    EXPECT_EQ(openSound(a), 0u);
    EXPECT_EQ(a.device, nullptr);
    AudioCapture unconfigured;
    EXPECT_EQ(openSound(unconfigured), 0u);
}

TEST(Microphone, BeepsExactlyWhileTheSceneShowsItsMarker) {
    // Sample n of a recording started at tick 990 belongs to tick 990 + n / 8.
    for (uint64_t n = 0; n < 8 * 3000; n += 4) {
        const uint32_t tick = 990 + uint32_t(n / 8);
        const int level = std::abs(int(microphoneSample(n, 990)));
        if (sceneMarkerVisible(tick))
            ASSERT_LE(level, kMicrophoneBeepLevel) << n;
        else
            ASSERT_LE(level, kMicrophoneToneLevel) << n;
    }
    // The beep is loud somewhere in every marker window, the tone quiet everywhere else.
    int beepPeak = 0;
    for (uint64_t n = 80; n < 80 + 800; ++n)  // ticks 1000..1099
        beepPeak = std::max(beepPeak, std::abs(int(microphoneSample(n, 990))));
    EXPECT_GE(beepPeak, kMicrophoneBeepLevel - 1);
}

TEST(Microphone, DeliversInRealTimeAndNothingAfterStop) {
    uint32_t clockMs = 5000;
    static std::atomic<uint32_t>* clock = nullptr;
    std::atomic<uint32_t> now{clockMs};
    clock = &now;
    SimulatedMicrophone mic([] { return clock->load(); });
    std::atomic<size_t> samples{0};
    ASSERT_TRUE(mic.start([&](const int16_t*, size_t count) { samples += count; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(samples.load(), 0u) << "no time has passed on its clock";
    now += 100;  // 100 ms: ten blocks are due
    for (int i = 0; i < 200 && samples.load() < 800; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(samples.load(), 800u);
    mic.stop();
    const size_t stopped = samples.load();
    now += 1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(samples.load(), stopped);
    mic.stop();  // twice is harmless
}

}  // namespace
