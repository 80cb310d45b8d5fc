// Preview conversion kernels: camera frames in packed YCbCr 4:2:2 (bytes Cb, Y0, Cr, Y1 per pixel
// pair) to RGB565 display pixels, or to the planar 4:2:0 scratch of the general path.
//
//   drawFullColour, drawGray   portable nearest-sample kernels, JFIF full-range colour
//   scaleDownByFactor          exact 2x, 4x, 8x reduction, studio-range BT.601 colour
//   convertToPlanar            packed 4:2:2 to planar 4:2:0 in 8 x 8 blocks, turned
//
// All are pure functions of their arguments: no state, no allocation, no failure reporting. The
// frame must start on a 4-byte boundary (a pixel pair is one aligned 32-bit word) and every
// stride and pitch must be even. Variants with vector instructions are chosen once per process
// (simd::level()); they give exactly the scalar results.
#pragma once

#include <cstdint>

#include "preview/kernel_types.h"

// Portable kernels. Output pixel (c, r) reads the source pixel floor(c * step) steps of stepC
// and floor(r * step) steps of stepR (pixels, signed) from `src`; `step` is 16.16. Rows of the
// output are dstPitch bytes apart.
void drawFullColour(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH, const uint8_t* src,
                    int32_t stepC, int32_t stepR, int32_t step);
void drawGray(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH, const uint8_t* src,
              int32_t stepC, int32_t stepR, int32_t step);

// Reduces srcW x srcH by `factor` (2, 4 or 8; any other value draws nothing): output pixel (i, k)
// samples source pixel (factor * i, factor * k); the (srcW / factor) x (srcH / factor) result is
// placed through `turn`.
void scaleDownByFactor(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                       int32_t srcW, int32_t srcH, int32_t factor, KernelTurn turn);

// Converts the (srcW / 8) x (srcH / 8) whole 8 x 8 blocks of the frame to planar 4:2:0, turned
// (the placement uses w = srcW, h = srcH; chroma w / 2, h / 2). A remainder of fewer than eight
// columns or rows is not converted and its place in the planes is left as it was.
void convertToPlanar(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes, int32_t srcW,
                     int32_t srcH, KernelTurn turn);

// The part of convertToPlanar(turn 0) that the rotate-resizer reads when it makes oh output rows
// at vertical step stepV (16.16): only the luma rows (2j stepV + 0x8000) >> 16 and
// (2j stepV + 0x8000 + stepV) >> 16 and the chroma rows (2j stepV + 0x10000) >> 17 of each block
// row j < oh / 2, each across the whole 8 x 8 blocks. Every byte it writes is the byte
// convertToPlanar writes there; the rest of the planes (rows not sampled, and the remainder
// outside whole blocks) is left as it was.
void convertSampledRows(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                        int32_t srcW, int32_t srcH, int32_t oh, int32_t stepV);
