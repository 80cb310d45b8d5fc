// Frame conversions of the raw and external encoder paths: screen-capture layouts to packed
// Uyvy, halving of a packed frame, and the split of a packed frame into planes (I420, planar
// 4:2:2 or grey), turned by quarter turns like the built-in encoder turns its pictures.
#pragma once

#include <cstdint>

// Converts `byteCount` bytes of Uyvy output (rounded down to a multiple of 4: one pixel pair per
// 4 bytes) from the RGB pixels at `source`; destination may be the source. `bits` 16 reads
// Rgb565, 24 reads Bgr24 (3 bytes per pixel, so the source is 1.5 times the output), any other
// value Rgb555. Per pair, with components widened to 8 bits and arithmetic shifts:
//   Y_i = (77 R_i + 150 G_i + 29 B_i) >> 8
//   Cr  = ((((R0 - Y0) * 183) >> 8) + (((R1 - Y1) * 183) >> 8) + 256) >> 1
//   Cb  = ((((B0 - Y0) * 145) >> 8) + (((B1 - Y1) * 145) >> 8) + 256) >> 1
// clamped to 0..255 (only full-range blue from Bgr24 reaches 256).
void convertRgbToUyvy(uint8_t* destination, const uint8_t* source, uint32_t byteCount,
                      uint32_t bits);

// Halves a packed Uyvy frame of (2 width) x (2 height) pixels in place into width x height
// pixels from its start: each output sample is (sum of its 2 x 2 source samples + 2) >> 2, the
// chroma taken from the two pixel pairs side by side in both lines.
void halveUyvy(uint8_t* frame, uint32_t width, uint32_t height);

// Splits the packed Uyvy frame at `source` (width x height output pixels, or twice that in both
// directions when scaleX is 2, in which case the source is halved in place first) into planes at
// `destination`: Y (width x height bytes; the chroma planes start at that length rounded down to
// a multiple of 4), then Cb, then Cr: width x height / 4 bytes each for 4:2:0 (chroma of a line
// pair averaged, (even + odd + 1) >> 1), width x height / 2 for 4:2:2; grey writes Y only. The
// planes hold the picture turned by `rotation`, as the built-in encoder turns it (1 and 3
// exchange width and height). 4:2:2 is not done at a quarter turn, nor is an unknown format:
// those return 0 without writing. Returns 1 otherwise.
uint32_t convertFrameToPlanes(uint8_t* destination, uint8_t* source, uint32_t width,
                              uint32_t height, uint32_t scaleX, uint32_t format, uint32_t rotation);
