// Sound capture: the queue of filled buffers, the alignment of a movie's first sound to its
// first tick, the start synchronisation, and the simulated microphone behind the platform's wave
// input. (The buffer sizes per "Max FPS" are checked with the dispatcher; a device without wave
// input, and the microphone's tone and beeps against the scene's marker, end to end.)
#include <chrono>
#include <cstring>
#include <thread>

#include "media/audio_capture.h"
#include "media/capture_test_support.h"
#include "support/wait_until.h"

namespace {

using namespace capturetest;

// Hands a buffer back as the device would, holding `bytes` bytes.
void fill(AudioCapture& a, WAVEHDR& h, uint32_t bytes, uint8_t value) {
    std::memset(h.lpData, value, bytes);
    h.dwBytesRecorded = bytes;
    onWaveInput(nullptr, WIM_DATA, reinterpret_cast<DWORD_PTR>(&a), reinterpret_cast<DWORD_PTR>(&h),
                0);
}

TEST(AudioCapture, FilledBuffersAreTakenOldestFirstAndTheStartSynchronisationGivesUp) {
    AudioCapture a;
    ASSERT_TRUE(configure(a, 4, 200));
    EXPECT_EQ(synchronizeSoundStart(a), 500u) << "gives up after 500 polls";
    fill(a, a.headers[0], 3200, 1);
    fill(a, a.headers[1], 0, 2);  // came back empty
    fill(a, a.headers[2], 100, 3);
    for (const auto& [bytes, value] : {std::pair{3200u, 1}, {100u, 3}}) {
        const uint8_t* p = takeBuffer(a);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(a.copiedBytes, bytes);
        EXPECT_EQ(p[bytes - 1], value);
    }
    EXPECT_EQ(takeBuffer(a), nullptr);
    EXPECT_EQ(a.head, nullptr);
    EXPECT_EQ(a.tail, nullptr);
    fill(a, a.headers[3], 10, 4);
    fill(a, a.headers[0], 3200, 5);
    EXPECT_EQ(synchronizeSoundStart(a), 1u);
    EXPECT_EQ(takeBuffer(a), nullptr) << "what was waiting is thrown away";
}

TEST(AudioCapture, TheFirstSoundOfAMovieStartsAtItsFirstTick) {
    AudioCapture a;
    ASSERT_TRUE(configure(a, 4, 40));
    // Buffers of 40 ms stamped when they came back at 1000, 1040 and 1080: the first covers
    // 960..999, the second 1000..1039, the third 1040..1079. Each sample holds its time.
    for (int i = 0; i < 3; ++i) {
        for (int s = 0; s < 320; ++s) {
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

TEST(AudioCapture, RecordsTheMicrophoneThroughTheWaveInputTwice) {
    CaptureState state(profile());
    AudioCapture a;
    ASSERT_TRUE(configure(a, kSoundBufferMs / 40, 40));
    for (int movie = 0; movie < 2; ++movie) {
        ASSERT_EQ(openSound(a), 1u);
        const uint8_t* p = nullptr;
        ASSERT_TRUE(
            waitUntil([&] { return (p = takeBuffer(a)) != nullptr; }, std::chrono::seconds(2)));
        EXPECT_EQ(a.copiedBytes, 640u);
        if (movie == 0) {
            resetAndRelease(a);
            closeSound(a);
            for (uint32_t i = 0; i < a.bufferCount; ++i)
                EXPECT_EQ(a.headers[i].dwFlags & (WHDR_PREPARED | WHDR_INQUEUE), 0u);
        } else {
            AviSoundSource source = soundSourceOf(a);
            source.stop(source.context);
        }
        EXPECT_EQ(a.device, nullptr);
    }
}

}  // namespace
