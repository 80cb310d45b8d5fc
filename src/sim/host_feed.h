// The contract between the simulated sensors and a host camera: what a sensor may ask of the
// host's newest frame. Standard library only, so the OEM camera library (a shared object of its
// own, loaded by the program) compiles against it without FFmpeg; it finds the process's feed by
// the symbol kHostCameraFeedSymbol, which the simulated handheld exports from the executable.
#pragma once

#include <cstdint>

struct HostCameraFeed {
    void* context;
    // The number of the newest host frame (frames count from 1); 0 before the first.
    uint64_t (*newest)(void* context);
    // Waits up to timeoutMs for a frame newer than `seen`, then returns the newest number.
    uint64_t (*waitNewer)(void* context, uint64_t seen, uint32_t timeoutMs);
    // Writes the newest frame into `uyvy` as width x height packed 4:2:2 (Cb Y0 Cr Y1, BT.601
    // studio levels): its centre cut to that aspect, then scaled, never stretched. Returns the
    // frame's number, or 0 (and writes nothing) when there is no frame yet.
    uint64_t (*read)(void* context, uint8_t* uyvy, uint32_t width, uint32_t height);
};

// extern "C" const HostCameraFeed* lumoHostCameraFeed(): the host camera of this process, or
// null while the sensors show the simulated scene.
constexpr const char* kHostCameraFeedSymbol = "lumoHostCameraFeed";
using HostCameraFeedLookup = const HostCameraFeed* (*)();

// How long a sensor waits for a host frame before it looks at its stop request again, ms.
constexpr uint32_t kHostFrameWaitMs = 50;
