// The rotate-resize kernel: the last stage of the general preview path. Scales a planar 4:2:0
// picture by independent 16.16 steps, turns it, converts it to RGB565 (studio-range BT.601) and
// writes it to the destination. A vector variant, chosen once per process, serves output widths
// that are multiples of 4 with even heights; it gives exactly the scalar results.
#pragma once

#include <cstdint>

#include "preview/kernel_types.h"

// Output size ow x oh is in the source's axes (turns 1 and 2 fill oh columns and ow rows of the
// destination). Output pixels are made in 2 x 2 blocks sharing one chroma sample; block (i, j)
// reads luma columns (0x8000 + 2i stepH) >> 16 and (0x8000 + (2i+1) stepH) >> 16, rows
// (2j stepV + 0x8000) >> 16 and (2j stepV + 0x8000 + stepV) >> 16, and chroma
// ((0x8000 + i stepH) >> 16, (2j stepV + 0x10000) >> 17). An odd last column or row repeats the
// one before it. Every sampled position must lie inside the planes, which the preview loop's steps
// ((even source size - 1) << 16) / (even output size - 1) guarantee. Outputs smaller than 2 x 2
// hold no whole block and are left untouched. Returns 0.
int resizeRotate(const PlanarYuv& planes, int32_t sw, int32_t sh, uint16_t* dst, int32_t dstPitch,
                 int32_t ow, int32_t oh, KernelTurn turn, int32_t stepH, int32_t stepV);
