// What the overlay shows of the webcam link while streaming runs: whether the link's socket is
// connected, the throughput and the connection attempts. The webcam sender thread writes these
// words; the overlay reads them once per frame. Each is one word with one writer, so relaxed
// loads and stores are enough: the overlay only shows the values.
#pragma once

#include <atomic>
#include <cstdint>

struct WebcamStatus {
    std::atomic<uint8_t> connected{0};         // 1 while the link's socket is valid
    std::atomic<uint32_t> bytesSent{0};        // bytes sent since streaming started
    std::atomic<uint32_t> elapsedMs{0};        // ms of streaming those bytes took
    std::atomic<uint32_t> connectAttempts{0};  // failed connection attempts so far
};

extern WebcamStatus gWebcamStatus;
