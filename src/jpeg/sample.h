// Colour conversion and chroma sampling of one macroblock: the scalar reference kernels. Each
// reads a source region 16 output pixels wide (times the scale) and writes level-shifted signed
// 16-bit samples (sample - 128) straight into 8 x 8 blocks in row-major order.
//
// Uyvy sources (Cb, Y0, Cr, Y1 per pixel pair):
//   Y = Y byte - 128. 4:2:2 keeps one Cb and one Cr per pixel pair and line. 4:2:0 averages the
//   chroma of line pairs (2j, 2j + 1): ((a + b + 1) >> 1) - 128.
//   Scale 2 halves the picture while sampling: every output byte is the rounded average of the
//   two source lines, byte by byte ((a + b + 1) >> 1), then of the two horizontal neighbours:
//   Y of the two pixels of a source pair, chroma of two neighbouring source pairs. The output
//   keeps one chroma sample per output pixel pair.
// RGB sources (Bgr24, Rgb565, Rgb555; 16-bit words little-endian, bit 15 of Rgb555 ignored):
//   components are widened to 8 bits by left shifts (5-bit fields by 3, the 6-bit green by 2), so
//   the low bits are zero. With arithmetic shifts:
//     Y  = ((77 R + 150 G + 29 B) >> 8) - 128                      (77 + 150 + 29 = 256)
//     Cb = (128 sumB - 85 sumG - 43 sumR) >> (8 + k)               (already centred on 0)
//     Cr = (128 sumR - 107 sumG - 21 sumB) >> (8 + k)
//   the sums over a chroma group of 2^k pixels: k = 1 for the horizontal pair of 4:2:2, k = 2 for
//   the 2 x 2 square of 4:2:0. The products stay below 2^17 in magnitude, the luma sum below 2^16.
//   Scale 2 first halves the RGB picture as the Uyvy kernels halve theirs (rounded pairwise
//   averages of the widened components, lines first), then applies the same equations.
//
// Kernel modules of the handheld's encoder, for reference: screen_w (all Uyvy kernels), IJECC232
// and IJECC233 (Rgb565 16- and 8-line), IJECC132 and IJECC131 (Rgb555), IJECC032 and IJECC033
// (Bgr24). Those had no 2:1 RGB variant; the 2:1 RGB kernels here are this encoder's own.
#pragma once

#include <cstdint>

#include "core/pixel_format.h"

// Y coefficients of the RGB equations (Q8, sum 256) and the chroma coefficients (Q8).
constexpr int kYr = 77, kYg = 150, kYb = 29;      // 0.299, 0.587, 0.114
constexpr int kCbB = 128, kCbG = 85, kCbR = 43;   // 0.5, 0.331, 0.169
constexpr int kCrR = 128, kCrG = 107, kCrB = 21;  // 0.5, 0.419, 0.081
static_assert(kYr + kYg + kYb == 256);

// 8-line Uyvy macroblock (4:2:2): Y 2 blocks, Cb and Cr 8 rows each.
template <uint32_t Scale>
void sampleUyvy422(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma);

// One 8-line half of a 16-line Uyvy macroblock (4:2:0): Y 2 blocks, Cb and Cr 4 rows each (the
// caller points `chroma` 32 samples further for the lower half).
template <uint32_t Scale>
void sampleUyvy420Half(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma);

// 8-line RGB macroblock (4:2:2): Y 2 blocks, Cb and Cr 1 block each.
template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb422(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb, int16_t* cr);

// 16-line RGB macroblock (4:2:0): Y 4 blocks, Cb and Cr 1 block each.
template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb420(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb, int16_t* cr);

// The two luminance blocks of a 16 x 8 region, for grey pictures.
template <SourcePixelFormat Format, uint32_t Scale>
void sampleLuma(const uint8_t* source, uint32_t stride, int16_t* luma);
