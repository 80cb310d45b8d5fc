// Inside the preview kernels: the colour equations in fixed point, and the per-processor tables
// of kernel variants from which the public entries pick. Tests include this to run each variant
// directly; the rest of the program uses preview_kernels.h and resize_rotate.h.
#pragma once

#include <cstdint>

#include "preview/kernel_types.h"

namespace preview_kernels {

constexpr int32_t clampInt(int32_t v, int32_t lo, int32_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// ---- Studio-range ITU-R BT.601 (Y 16..235, chroma 16..240 around 128) to RGB565 ----
//
// With Y' = (Y - 16) * y, U = Cb - 128, V = Cr - 128 and f fraction bits:
//   R5 = clamp((Y' + rv V) >> (f + 3), 0, 31)
//   G6 = clamp((Y' - gu U - gv V) >> (f + 2), 0, 63)
//   B5 = clamp((Y' + bu U) >> (f + 3), 0, 31)
// The extra 3 and 2 bits of shift take the 8-bit channel to its 5 or 6 packed bits, so each channel
// is truncated once, after the whole multiply-add. Every intermediate fits in 32 bits (and in the
// 32-bit sums of 16 x 16-bit products that vector code uses).
struct StudioCoefficients {
    int32_t y, rv, gu, gv, bu;  // real value << fractionBits
    int32_t fractionBits;
};

// The integer-factor reducer: 10-bit fractions.
inline constexpr StudioCoefficients kReducerColour{
    .y = 1192,   // 1.164 in Q10
    .rv = 1634,  // 1.596 in Q10
    .gu = 401,   // 0.392 in Q10
    .gv = 833,   // 0.813 in Q10
    .bu = 2065,  // 2.017 in Q10
    .fractionBits = 10,
};

// The rotate-resizer: 8-bit fractions.
inline constexpr StudioCoefficients kResizerColour{
    .y = 298,   // 1.164 in Q8
    .rv = 409,  // 1.598 in Q8
    .gu = 100,  // 0.391 in Q8
    .gv = 208,  // 0.813 in Q8
    .bu = 516,  // 2.016 in Q8
    .fractionBits = 8,
};

template <const StudioCoefficients& C>
constexpr uint16_t studioToRgb565(int32_t y, int32_t cb, int32_t cr) {
    const int32_t luma = (y - 16) * C.y;
    const int32_t u = cb - 128;
    const int32_t v = cr - 128;
    const int32_t r5 = clampInt((luma + C.rv * v) >> (C.fractionBits + 3), 0, 31);
    const int32_t g6 = clampInt((luma - C.gu * u - C.gv * v) >> (C.fractionBits + 2), 0, 63);
    const int32_t b5 = clampInt((luma + C.bu * u) >> (C.fractionBits + 3), 0, 31);
    return static_cast<uint16_t>((r5 << 11) | (g6 << 5) | b5);
}

static_assert(studioToRgb565<kReducerColour>(16, 128, 128) == 0x0000, "studio black");
static_assert(studioToRgb565<kReducerColour>(235, 128, 128) == 0xFFFF, "studio white");
static_assert(studioToRgb565<kReducerColour>(128, 128, 128) == 0x8410, "studio mid-gray");
static_assert(studioToRgb565<kResizerColour>(16, 128, 128) == 0x0000, "studio black");
static_assert(studioToRgb565<kResizerColour>(235, 128, 128) == 0xFFFF, "studio white");

// ---- Full-range JFIF to RGB565 (the portable kernels) ----
//
//   G = Y - ((183 V + 88 U) >> 8)      183/256 = 0.714, 88/256 = 0.344
//   B = Y + U + ((197 U) >> 8)         1 + 197/256 = 1.770
//   R = Y + V + ((103 V) >> 8)         1 + 103/256 = 1.402
// each clamped to 0..255 and then truncated to 5/6/5 bits by masking.
constexpr int32_t kJfifGv = 183;  // 0.714 in Q8
constexpr int32_t kJfifGu = 88;   // 0.344 in Q8
constexpr int32_t kJfifBu = 197;  // 0.770 in Q8 (plus 1.0 as U itself)
constexpr int32_t kJfifRv = 103;  // 0.402 in Q8 (plus 1.0 as V itself)

constexpr uint16_t packRgb888To565(int32_t r, int32_t g, int32_t b) {
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

constexpr uint16_t jfifToRgb565(int32_t y, int32_t cb, int32_t cr) {
    const int32_t u = cb - 128;
    const int32_t v = cr - 128;
    const int32_t g = clampInt(y - ((kJfifGv * v + kJfifGu * u) >> 8), 0, 255);
    const int32_t b = clampInt(y + u + ((kJfifBu * u) >> 8), 0, 255);
    const int32_t r = clampInt(y + v + ((kJfifRv * v) >> 8), 0, 255);
    return packRgb888To565(r, g, b);
}

constexpr uint16_t grayToRgb565(int32_t y) {
    return packRgb888To565(y, y, y);
}

static_assert(jfifToRgb565(255, 255, 128) == 0xFEBF, "R 255, G 212, B clamped");
static_assert(jfifToRgb565(0, 0, 0) == 0x0440, "G 136: the shift of -34688 rounds down");
static_assert(jfifToRgb565(128, 128, 128) == 0x8410, "mid-gray");
static_assert(grayToRgb565(128) == 0x8410, "gray mid-gray");

// ---- Variant tables ----

using PortableFn = void (*)(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH,
                            const uint8_t* src, int32_t stepC, int32_t stepR, int32_t step);
using ScaleDownFn = void (*)(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                             int32_t srcW, int32_t srcH);
using ConvertToPlanarFn = void (*)(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                                   int32_t srcW, int32_t srcH);
// One row of the unturned planar conversion: the luma of `pixels` pixels (a multiple of 8) of a
// frame row, and the vertically averaged chroma of `pairs` pixel pairs (a multiple of 4) of a
// row pair.
using LumaRowFn = void (*)(const uint8_t* src, uint8_t* y, int32_t pixels);
using ChromaRowFn = void (*)(const uint8_t* upper, const uint8_t* lower, uint8_t* cb, uint8_t* cr,
                             int32_t pairs);
using ResizeRotateFn = void (*)(const PlanarYuv& planes, int32_t sw, int32_t sh, uint16_t* dst,
                                int32_t dstPitch, int32_t ow, int32_t oh, int32_t stepH,
                                int32_t stepV);

constexpr int kFactorCount = 3;  // 2, 4, 8
constexpr int factorIndex(int32_t factor) {
    return factor == 2 ? 0 : factor == 4 ? 1 : factor == 8 ? 2 : -1;
}

// One processor level's conversion kernels, indexed by turn; null where the level has no variant
// of its own. The vector reducers serve only outputs whose width and height (before the turn)
// are multiples of 4.
struct KernelSet {
    const char* name = "";
    PortableFn drawFullColour = nullptr;
    PortableFn drawGray = nullptr;
    ScaleDownFn scaleDown[kFactorCount][4] = {};
    ConvertToPlanarFn convertToPlanar[4] = {};
    LumaRowFn lumaRow = nullptr;
    ChromaRowFn chromaRow = nullptr;
};

// One processor level's rotate-resizers, indexed by turn; the vector ones serve only output
// widths that are multiples of 4 with even heights.
struct ResizerSet {
    const char* name = "";
    ResizeRotateFn resizeRotate[4] = {};
};

extern const KernelSet kScalarKernels;
extern const KernelSet kSse2Kernels;  // all null where the build has no x86 vector code
extern const KernelSet kAvx2Kernels;
extern const ResizerSet kScalarResizers;
extern const ResizerSet kSse2Resizers;
extern const ResizerSet kAvx2Resizers;

// The kernels in use: for each entry the variant of the best level simd::level() allows, falling
// back a level at a time to scalar. Chosen at first call.
const KernelSet& activeKernels();
const ResizerSet& activeResizers();

}  // namespace preview_kernels
