// Averaging of interval shots. Each frame byte is added into a 16-bit sum held in two byte
// planes, the low bytes and the high bytes; the last frame of a shot is then replaced by the
// sums shifted right by log2 of the frame count (truncating). Sums of up to 256 frames of 8-bit
// samples fit the 16 bits, so nothing saturates.
#pragma once

#include <cstdint>

// low[i] | high[i] << 8 += frame[i], for `bytes` bytes.
void accumulateFrame(uint8_t* low, uint8_t* high, const uint8_t* frame, uint32_t bytes);
// frame[i] = (high[i] << 8 | low[i]) >> log2Frames, for `bytes` bytes.
void finishAverage(uint8_t* frame, const uint8_t* low, const uint8_t* high, uint32_t bytes,
                   uint32_t log2Frames);
