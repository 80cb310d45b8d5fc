// Sound capture over the wave input.
//
// Buffer life: configure allocates the buffers; opening prepares and queues all of them with the
// device; the device fills them in order and hands each back through onWaveInput, which appends
// it to the queue of filled buffers; takeBuffer copies the oldest out and queues it with the
// device again; stopping resets the device (which hands back the queued ones) and unprepares
// them. A buffer is thus either the device's or the queue's, never both.
//
// Each filled buffer is stamped (its user word) with the tick at which it came back, so the
// movie's first sound chunk can be cut to start at the movie clock's first tick: the buffer's
// samples span the periodMs before that stamp.
#include "media/audio_capture.h"

#include <cstring>
#include <new>

namespace {

constexpr WORD kChannels = 1;
constexpr DWORD kSamplesPerSecond = 8000;
constexpr WORD kBitsPerSample = 16;
constexpr WORD kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr UINT kHeaderBytes = sizeof(WAVEHDR);
static_assert(kSamplesPerSecond * kBlockAlign == kSoundBytesPerMs * 1000);

void freeBuffers(AudioCapture& a) {
    if (!a.buffersAbandoned && a.headers) {
        for (uint32_t i = 0; i < a.bufferCount; ++i) delete[] a.headers[i].lpData;
        delete[] a.headers;
    }
    delete[] a.copyBuffer;
    a.headers = nullptr;
    a.copyBuffer = nullptr;
    a.bufferCount = 0;
    a.bufferBytes = 0;
    a.periodMs = 0;
    a.buffersAbandoned = 0;
    std::lock_guard<std::mutex> lock(a.queueLock);
    a.head = a.tail = nullptr;
}

// Whether tick `a` is at or before tick `b` on the wrapping counter.
bool notAfter(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) <= 0;
}

}  // namespace

AudioCapture::~AudioCapture() {
    // A device still open at exit may go on filling the buffers from its own thread: they are
    // left alone then.
    if (device == nullptr) freeBuffers(*this);
}

bool configure(AudioCapture& a, uint32_t count, uint32_t periodMs) {
    if (count == 0 || a.device != nullptr) return false;
    freeBuffers(a);
    const uint32_t bytes = periodMs * kSoundBytesPerMs;
    if (bytes == 0) return false;
    a.headers = new (std::nothrow) WAVEHDR[count]();
    a.copyBuffer = new (std::nothrow) uint8_t[bytes];
    if (!a.headers || !a.copyBuffer) {
        freeBuffers(a);
        return false;
    }
    a.bufferCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        WAVEHDR& h = a.headers[i];
        h.lpData = new (std::nothrow) char[bytes];
        if (!h.lpData) {
            freeBuffers(a);
            return false;
        }
        h.dwBufferLength = bytes;
        h.dwBytesRecorded = 0;
        h.dwUser = 0;
        h.dwFlags = 0;
        h.dwLoops = 0;
        h.lpNext = nullptr;
    }
    a.periodMs = periodMs;
    a.bufferBytes = bytes;
    a.waveFormat = WAVEFORMATEX{
        .wFormatTag = WAVE_FORMAT_PCM,
        .nChannels = kChannels,
        .nSamplesPerSec = kSamplesPerSecond,
        .nAvgBytesPerSec = kSamplesPerSecond * kBlockAlign,
        .nBlockAlign = kBlockAlign,
        .wBitsPerSample = kBitsPerSample,
        .cbSize = 0,
    };
    return true;
}

void onWaveInput(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto* a = reinterpret_cast<AudioCapture*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    if (!a || !header) return;
    header->dwUser = GetTickCount();  // the samples span the periodMs before this
    std::lock_guard<std::mutex> lock(a->queueLock);
    header->lpNext = nullptr;
    if (a->tail) a->tail->lpNext = header;
    a->tail = header;
    if (!a->head) a->head = header;
}

uint32_t openSound(AudioCapture& a) {
    if (a.device != nullptr || a.bufferCount == 0 || a.buffersAbandoned) return 0;
    if (waveInOpen(&a.device, WAVE_MAPPER, &a.waveFormat, reinterpret_cast<DWORD_PTR>(onWaveInput),
                   reinterpret_cast<DWORD_PTR>(&a), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        a.device = nullptr;
        return 0;
    }
    bool queued = true;
    for (uint32_t i = 0; i < a.bufferCount && queued; ++i) {
        WAVEHDR* h = &a.headers[i];
        h->dwBytesRecorded = 0;
        h->lpNext = nullptr;
        queued = waveInPrepareHeader(a.device, h, kHeaderBytes) == MMSYSERR_NOERROR &&
                 waveInAddBuffer(a.device, h, kHeaderBytes) == MMSYSERR_NOERROR;
    }
    {
        std::lock_guard<std::mutex> lock(a.queueLock);
        a.head = a.tail = nullptr;
        a.aligning = 0;
    }
    if (!queued || waveInStart(a.device) != MMSYSERR_NOERROR) {
        resetAndRelease(a);
        closeSound(a);
        return 0;
    }
    return 1;
}

const uint8_t* takeBuffer(AudioCapture& a) {
    while (true) {
        WAVEHDR* h;
        uint32_t skip = 0;
        bool keep;
        {
            std::lock_guard<std::mutex> lock(a.queueLock);
            h = a.head;
            if (!h) return nullptr;
            WAVEHDR* next = h->lpNext;
            h->lpNext = nullptr;
            if (h == a.tail) {
                next = nullptr;
                a.tail = nullptr;
            }
            a.head = next;
            const uint32_t recorded = h->dwBytesRecorded;
            keep = recorded != 0;
            if (keep && a.aligning) {
                const uint32_t completed = static_cast<uint32_t>(h->dwUser);
                const uint32_t recordedMs = recorded / kSoundBytesPerMs;
                if (notAfter(completed, a.alignTick)) {
                    keep = false;  // all of it was recorded before the movie's first tick
                } else {
                    const uint32_t began = completed - recordedMs;
                    if (!notAfter(a.alignTick, began))
                        skip = (a.alignTick - began) * kSoundBytesPerMs;
                    if (skip >= recorded) skip = 0;
                    a.aligning = 0;
                }
            }
        }
        if (keep) {
            a.copiedBytes = h->dwBytesRecorded - skip;
            std::memcpy(a.copyBuffer, h->lpData + skip, a.copiedBytes);
        }
        // Back to the device; it may come back through onWaveInput at once.
        if (a.device) waveInAddBuffer(a.device, h, kHeaderBytes);
        if (keep) return a.copyBuffer;
    }
}

void resetAndRelease(AudioCapture& a) {
    if (!a.device) return;
    waveInReset(a.device);
    for (uint32_t i = 0; i < a.bufferCount; ++i) {
        const DWORD start = GetTickCount();
        while (waveInUnprepareHeader(a.device, &a.headers[i], kHeaderBytes) != MMSYSERR_NOERROR) {
            if (GetTickCount() - start >= kUnprepareLimitMs) break;  // left as it is
            waveInReset(a.device);
            Sleep(1);
        }
    }
}

void closeSound(AudioCapture& a) {
    if (!a.device) return;
    // A device that cannot be closed may still write into the buffers: they are kept for good.
    if (waveInClose(a.device) != MMSYSERR_NOERROR) a.buffersAbandoned = 1;
    a.device = nullptr;
    std::lock_guard<std::mutex> lock(a.queueLock);
    a.head = a.tail = nullptr;
    a.aligning = 0;
}

uint32_t synchronizeSoundStart(AudioCapture& a) {
    uint32_t polls = 0;
    while (polls < kStartSyncPolls) {
        ++polls;
        if (takeBuffer(a)) break;
        if (polls < kStartSyncPolls) Sleep(kStartSyncPollMs);
    }
    while (takeBuffer(a)) {
    }
    return polls;
}

void alignSoundStart(AudioCapture& a, uint32_t tick) {
    std::lock_guard<std::mutex> lock(a.queueLock);
    a.aligning = 1;
    a.alignTick = tick;
}

AviSoundSource soundSourceOf(AudioCapture& capture) {
    AviSoundSource source;
    source.context = &capture;
    source.start = [](void* context) { return openSound(*static_cast<AudioCapture*>(context)); };
    source.take = [](void* context, uint32_t* bytes) {
        auto* a = static_cast<AudioCapture*>(context);
        const uint8_t* samples = takeBuffer(*a);
        *bytes = samples ? a->copiedBytes : 0;
        return samples;
    };
    source.stop = [](void* context) {
        auto* a = static_cast<AudioCapture*>(context);
        resetAndRelease(*a);
        closeSound(*a);
    };
    return source;
}
