// Sound for movies through the platform's wave input: 8 kHz mono 16-bit PCM in buffers of one
// video tick each, so that the movie writer takes one filled buffer per tick and writes it as one
// sound chunk. The record is the movie writer's sound source (AviSoundSource).
#pragma once

#include <cstdint>
#include <mutex>

#include "media/avi_writer.h"
#include "platform/windows.h"

constexpr uint32_t kSoundBytesPerMs = 16;  // 8000 samples of 2 bytes per second
constexpr uint32_t kSoundBufferMs = 4000;  // the buffers together cover four seconds
constexpr uint32_t kStartSyncPolls = 500;  // polls for the first buffer when a movie starts
constexpr DWORD kStartSyncPollMs = 1;
constexpr DWORD kUnprepareLimitMs = 1536;  // per header, when the device holds on to it

struct AudioCapture {
    uint32_t periodMs = 0;  // tick length the buffers were made for; 0 until configured
    HWAVEIN device = nullptr;
    WAVEFORMATEX waveFormat{};
    uint32_t bufferBytes = 0;  // periodMs x 16
    uint32_t bufferCount = 0;
    WAVEHDR* headers = nullptr;  // bufferCount headers, each with its own data block
    // The queue of filled buffers, oldest first, linked through lpNext. The device's callback
    // thread appends and the consumer removes: both hold `queueLock`, for a few instructions.
    WAVEHDR* head = nullptr;
    WAVEHDR* tail = nullptr;
    std::mutex queueLock;
    uint8_t* copyBuffer = nullptr;  // a filled buffer's samples, copied before it goes back
    uint32_t copiedBytes = 0;
    // When set, the next buffers taken are aligned to `alignTick` (ms): buffers filled before it
    // are thrown away and the part of the next one recorded before it is skipped, so that the
    // movie's sound starts with its first video tick.
    uint8_t aligning = 0;
    uint32_t alignTick = 0;
    // Set when the device could not be closed: its buffers may still be written, so they are
    // never freed.
    uint8_t buffersAbandoned = 0;

    AudioCapture() = default;
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;
    ~AudioCapture();
};

// The one sound capture of the process, the movie writer's sound source.
extern AudioCapture gAudioCapture;

// Makes `count` buffers of `periodMs` of sound each (freeing the previous ones). Nothing happens
// when count is 0 or while the device is open. False when the memory cannot be had; the capture
// then has no buffers and cannot be opened.
bool configure(AudioCapture& capture, uint32_t count, uint32_t periodMs);
// Opens the wave input, queues every buffer and starts recording. 1 when recording; otherwise
// whatever was opened has been let go again.
uint32_t openSound(AudioCapture& capture);
// The oldest filled buffer's samples copied into copyBuffer (copiedBytes set), the buffer given
// back to the device; null when no filled buffer waits. Buffers that came back empty are given
// back and skipped.
const uint8_t* takeBuffer(AudioCapture& capture);
// Stops recording and takes every buffer back from the device.
void resetAndRelease(AudioCapture& capture);
// Closes the device.
void closeSound(AudioCapture& capture);
// The wave input's callback (the device's thread): appends a filled buffer to the queue.
void onWaveInput(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                 DWORD_PTR param2);

// Right after a movie with sound was opened: polls takeBuffer up to 500 times, 1 ms apart,
// until a buffer has been filled, then throws away whatever is waiting, so that the sound starts
// with the movie. Returns the number of polls made.
uint32_t synchronizeSoundStart(AudioCapture& capture);
// Asks the next buffers taken to start at `tick` (the movie clock's start after opening or
// resuming).
void alignSoundStart(AudioCapture& capture, uint32_t tick);

// The record as the movie writer's sound source.
AviSoundSource soundSourceOf(AudioCapture& capture);
