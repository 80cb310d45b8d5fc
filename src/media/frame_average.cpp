// The averaging kernels: plain loops over independent bytes, which the compiler vectorises.
#include "media/frame_average.h"

static_assert(255u * 256u <= 0xFFFFu, "the sums of 256 frames fit 16 bits");

void accumulateFrame(uint8_t* low, uint8_t* high, const uint8_t* frame, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t sum = frame[i] + (uint32_t{high[i]} << 8 | low[i]);
        low[i] = static_cast<uint8_t>(sum);
        high[i] = static_cast<uint8_t>(sum >> 8);
    }
}

void finishAverage(uint8_t* frame, const uint8_t* low, const uint8_t* high, uint32_t bytes,
                   uint32_t log2Frames) {
    for (uint32_t i = 0; i < bytes; ++i)
        frame[i] = static_cast<uint8_t>((uint32_t{high[i]} << 8 | low[i]) >> log2Frames);
}
