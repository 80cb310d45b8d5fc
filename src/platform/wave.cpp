// Wave input over the device's sound source, and system sounds.
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/mmsystem.h"

namespace {

struct WaveIn {
    std::unique_ptr<WaveSource> source;
    WAVEINPROC callback = nullptr;
    DWORD_PTR instance = 0;
    std::mutex mutex;  // guards `queued` and `running`; never held while calling back
    std::deque<WAVEHDR*> queued;
    bool running = false;
};

std::mutex devicesMutex;
std::set<WaveIn*> devices;

WaveIn* waveInOf(HWAVEIN handle) {
    auto* w = reinterpret_cast<WaveIn*>(handle);
    std::lock_guard lock(devicesMutex);
    return devices.count(w) ? w : nullptr;
}

void handBack(WaveIn* w, WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (w->callback)
        w->callback(reinterpret_cast<HWAVEIN>(w), WIM_DATA, w->instance,
                    reinterpret_cast<DWORD_PTR>(header), 0);
}

// Runs on the source's thread: fills the oldest queued buffer and hands it back when full.
void deliver(WaveIn* w, const int16_t* samples, size_t count) {
    auto* bytes = reinterpret_cast<const char*>(samples);
    size_t left = count * sizeof(int16_t);
    while (left > 0) {
        WAVEHDR* full = nullptr;
        {
            std::lock_guard lock(w->mutex);
            if (!w->running || w->queued.empty()) return;  // overrun: the samples are lost
            WAVEHDR* h = w->queued.front();
            size_t room = h->dwBufferLength - h->dwBytesRecorded;
            size_t n = std::min(room, left);
            memcpy(h->lpData + h->dwBytesRecorded, bytes, n);
            h->dwBytesRecorded += static_cast<DWORD>(n);
            bytes += n;
            left -= n;
            if (h->dwBytesRecorded == h->dwBufferLength) {
                w->queued.pop_front();
                full = h;
            }
        }
        if (full) handBack(w, full);
    }
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    trace("waveInOpen");
    if (!handle || !format || (flags & CALLBACK_FUNCTION) != CALLBACK_FUNCTION)
        return MMSYSERR_INVALPARAM;
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels != 1 ||
        format->nSamplesPerSec != 8000 || format->wBitsPerSample != 16 || format->nBlockAlign != 2)
        return WAVERR_BADFORMAT;
    std::unique_ptr<WaveSource> source = deviceInstalled() ? device().openWaveInput() : nullptr;
    if (!source) return MMSYSERR_BADDEVICEID;
    auto* w = new WaveIn;
    w->source = std::move(source);
    w->callback = reinterpret_cast<WAVEINPROC>(callback);
    w->instance = instance;
    {
        std::lock_guard lock(devicesMutex);
        devices.insert(w);
    }
    *handle = reinterpret_cast<HWAVEIN>(w);
    if (w->callback) w->callback(*handle, WIM_OPEN, instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size) {
    if (!waveInOf(handle)) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(WAVEHDR) || !header->lpData) return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size) {
    WaveIn* w = waveInOf(handle);
    if (!w) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard lock(w->mutex);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, UINT size) {
    WaveIn* w = waveInOf(handle);
    if (!w) return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    std::lock_guard lock(w->mutex);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    w->queued.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN handle) {
    WaveIn* w = waveInOf(handle);
    if (!w) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(w->mutex);
        if (w->running) return MMSYSERR_NOERROR;
        w->running = true;
    }
    trace("waveInStart");
    if (!w->source->start([w](const int16_t* s, size_t n) { deliver(w, s, n); })) {
        std::lock_guard lock(w->mutex);
        w->running = false;
        return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN handle) {
    WaveIn* w = waveInOf(handle);
    if (!w) return MMSYSERR_INVALHANDLE;
    trace("waveInReset");
    bool wasRunning;
    {
        std::lock_guard lock(w->mutex);
        wasRunning = w->running;
        w->running = false;
    }
    if (wasRunning) w->source->stop();  // no delivery runs after this returns
    std::deque<WAVEHDR*> pending;
    {
        std::lock_guard lock(w->mutex);
        pending.swap(w->queued);
    }
    for (WAVEHDR* h : pending) handBack(w, h);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN handle) {
    WaveIn* w = waveInOf(handle);
    if (!w) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(w->mutex);
        if (!w->queued.empty()) return WAVERR_STILLPLAYING;
        if (w->running) {
            w->running = false;
        }
    }
    w->source->stop();
    trace("waveInClose");
    if (w->callback) w->callback(handle, WIM_CLOSE, w->instance, 0, 0);
    {
        std::lock_guard lock(devicesMutex);
        devices.erase(w);
    }
    delete w;
    return MMSYSERR_NOERROR;
}

BOOL PlaySoundW(LPCWSTR sound, HMODULE, DWORD flags) {
    std::u16string name = sound ? sound : u"";
    trace("PlaySoundW " + toUtf8(name) + ((flags & SND_ASYNC) ? " async" : ""));
    return TRUE;
}
