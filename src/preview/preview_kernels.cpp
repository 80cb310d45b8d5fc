// Preview conversion kernels, scalar reference versions, and the choice of variant.
//
// Source layout: packed 4:2:2, a pixel pair is one 32-bit word holding Cb, Y0, Cr, Y1 (byte 0 to
// 3). A pixel at byte address p takes its luma from p + 1 and its chroma from the word at p
// rounded down to a multiple of 4, so both pixels of a pair share one Cb and Cr.
//
// drawFullColour / drawGray: nearest-sample walk with one 16.16 step for both axes. A column
// accumulator ax starts at 0 for every row; after each output pixel ax += step, the source
// advances by (ax >> 16) * stepC pixels and ax keeps its low 16 bits; rows advance the same way
// through stepR. So output (c, r) reads the source floor(c * step) columns and floor(r * step)
// rows (in output axes) from the start. Colour: JFIF full range with 8-bit fractions
// (kernel_variants.h); gray uses luma alone.
//
// scaleDownByFactor: output (i, k) samples source (factor * i, factor * k). Pixels come in pairs
// (i, i + 1), i even, that share the chroma word of the first sample; the second takes its own
// luma (byte 2 * factor + 1 of the group). An odd last column is a single pixel with its own
// chroma. Colour: studio-range BT.601 with 10-bit fractions, truncated once per channel.
//
// convertToPlanar: whole 8 x 8 blocks; luma copied, chroma averaged vertically over each pixel
// pair and the pair below it, rounded: (upper + lower + 1) >> 1. Each block is placed through
// the turn as a whole (luma with w = srcW, h = srcH; chroma with w / 2, h / 2).
//
// The variants for each factor and turn are instances of one template; the turn is a template
// argument so that the placement steps are constants.
#include "preview/preview_kernels.h"

#include <cstddef>
#include <cstring>

#include "preview/kernel_variants.h"
#include "simd/cpu.h"

namespace preview_kernels {
namespace {

constexpr int32_t kOne = 1 << 16;  // 1.0 in 16.16
constexpr int32_t kFractionMask = kOne - 1;

inline void storePixel(uint8_t* at, uint16_t pixel) {
    std::memcpy(at, &pixel, sizeof pixel);
}

// The chroma word of the pixel at `p`: p rounded down to a multiple of 4.
inline const uint8_t* pairWord(const uint8_t* p) {
    return p - (reinterpret_cast<uintptr_t>(p) & 2);
}

template <bool kGray>
void drawPortable(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH, const uint8_t* src,
                  int32_t stepC, int32_t stepR, int32_t step) {
    // Offsets rather than pointers: the walk may step beyond the frame after its last pixel.
    const ptrdiff_t columnBytes = ptrdiff_t{stepC} * 2;
    const ptrdiff_t rowBytes = ptrdiff_t{stepR} * 2;
    uint8_t* out = reinterpret_cast<uint8_t*>(dst);
    ptrdiff_t rowStart = 0;
    int32_t ay = 0;
    for (int32_t r = 0; r < outH; ++r) {
        ptrdiff_t at = rowStart;
        int32_t ax = 0;
        uint8_t* o = out;
        for (int32_t c = 0; c < outW; ++c) {
            const uint8_t* p = src + at;
            uint16_t pixel;
            if constexpr (kGray) {
                pixel = grayToRgb565(p[1]);
            } else {
                const uint8_t* word = pairWord(p);
                pixel = jfifToRgb565(p[1], word[0], word[2]);
            }
            storePixel(o, pixel);
            o += 2;
            ax += step;
            at += (ax >> 16) * columnBytes;
            ax &= kFractionMask;
        }
        out += dstPitch;
        ay += step;
        rowStart += (ay >> 16) * rowBytes;
        ay &= kFractionMask;
    }
}

template <int kFactor, uint32_t kTurn>
void scaleDownScalar(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                     int32_t srcW, int32_t srcH) {
    static_assert(kFactor == 2 || kFactor == 4 || kFactor == 8);
    constexpr int kGroup = 2 * kFactor;  // bytes from one sample to the next
    const int32_t q = srcW / kFactor;
    const int32_t p = srcH / kFactor;
    const TurnedPlacement at = placeTurned(kTurn, q, p, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    for (int32_t k = 0; k < p; ++k) {
        const uint8_t* s = src + ptrdiff_t{kFactor} * k * srcStride;
        uint8_t* o = out + k * at.yStep;
        int32_t i = 0;
        for (; i + 1 < q; i += 2) {
            const uint8_t cb = s[0];
            const uint8_t cr = s[2];
            storePixel(o, studioToRgb565<kReducerColour>(s[1], cb, cr));
            storePixel(o + at.xStep, studioToRgb565<kReducerColour>(s[kGroup + 1], cb, cr));
            s += 2 * kGroup;
            o += 2 * at.xStep;
        }
        if (i < q) storePixel(o, studioToRgb565<kReducerColour>(s[1], s[0], s[2]));
    }
}

template <uint32_t kTurn>
void convertToPlanarScalar(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                           int32_t srcW, int32_t srcH) {
    const TurnedPlacement luma = placeTurned(kTurn, srcW, srcH, planes.yStride, 1);
    const TurnedPlacement cbAt = placeTurned(kTurn, srcW / 2, srcH / 2, planes.cbStride, 1);
    const TurnedPlacement crAt = placeTurned(kTurn, srcW / 2, srcH / 2, planes.crStride, 1);
    const int32_t blocksAcross = srcW / 8;
    const int32_t blocksDown = srcH / 8;
    for (int32_t by = 0; by < blocksDown; ++by) {
        for (int32_t bx = 0; bx < blocksAcross; ++bx) {
            const uint8_t* block = src + ptrdiff_t{8} * by * srcStride + bx * 16;
            const int32_t x0 = 8 * bx;
            const int32_t y0 = 8 * by;
            for (int32_t yy = 0; yy < 8; ++yy) {
                const uint8_t* row = block + ptrdiff_t{yy} * srcStride;
                uint8_t* o = planes.y + luma.origin + (y0 + yy) * luma.yStep + x0 * luma.xStep;
                for (int32_t xx = 0; xx < 8; ++xx) o[xx * luma.xStep] = row[2 * xx + 1];
            }
            for (int32_t cy = 0; cy < 4; ++cy) {
                const uint8_t* upper = block + ptrdiff_t{2} * cy * srcStride;
                const uint8_t* lower = upper + srcStride;
                const int32_t row = 4 * by + cy;
                uint8_t* ob = planes.cb + cbAt.origin + row * cbAt.yStep + 4 * bx * cbAt.xStep;
                uint8_t* orr = planes.cr + crAt.origin + row * crAt.yStep + 4 * bx * crAt.xStep;
                for (int32_t cx = 0; cx < 4; ++cx) {
                    ob[cx * cbAt.xStep] =
                        static_cast<uint8_t>((upper[4 * cx] + lower[4 * cx] + 1) >> 1);
                    orr[cx * crAt.xStep] =
                        static_cast<uint8_t>((upper[4 * cx + 2] + lower[4 * cx + 2] + 1) >> 1);
                }
            }
        }
    }
}

void lumaRowScalar(const uint8_t* src, uint8_t* y, int32_t pixels) {
    for (int32_t x = 0; x < pixels; ++x) y[x] = src[2 * x + 1];
}

void chromaRowScalar(const uint8_t* upper, const uint8_t* lower, uint8_t* cb, uint8_t* cr,
                     int32_t pairs) {
    for (int32_t k = 0; k < pairs; ++k) {
        cb[k] = static_cast<uint8_t>((upper[4 * k] + lower[4 * k] + 1) >> 1);
        cr[k] = static_cast<uint8_t>((upper[4 * k + 2] + lower[4 * k + 2] + 1) >> 1);
    }
}

// Keeps each entry of `base` unless `better` has one.
template <class Fn>
void prefer(Fn& base, Fn better) {
    if (better) base = better;
}

void preferAll(KernelSet& set, const KernelSet& better) {
    set.name = better.name;
    prefer(set.drawFullColour, better.drawFullColour);
    prefer(set.drawGray, better.drawGray);
    for (int f = 0; f < kFactorCount; ++f)
        for (int t = 0; t < 4; ++t) prefer(set.scaleDown[f][t], better.scaleDown[f][t]);
    for (int t = 0; t < 4; ++t) prefer(set.convertToPlanar[t], better.convertToPlanar[t]);
    prefer(set.lumaRow, better.lumaRow);
    prefer(set.chromaRow, better.chromaRow);
}

KernelSet chooseKernels() {
    KernelSet set = kScalarKernels;
    const simd::Level level = simd::level();
    if (level == simd::Level::Sse2 || level == simd::Level::Avx2) preferAll(set, kSse2Kernels);
    if (level == simd::Level::Avx2) preferAll(set, kAvx2Kernels);
    return set;
}

}  // namespace

const KernelSet kScalarKernels = {
    .name = "scalar",
    .drawFullColour = drawPortable<false>,
    .drawGray = drawPortable<true>,
    .scaleDown =
        {
            {scaleDownScalar<2, 0>, scaleDownScalar<2, 1>, scaleDownScalar<2, 2>,
             scaleDownScalar<2, 3>},
            {scaleDownScalar<4, 0>, scaleDownScalar<4, 1>, scaleDownScalar<4, 2>,
             scaleDownScalar<4, 3>},
            {scaleDownScalar<8, 0>, scaleDownScalar<8, 1>, scaleDownScalar<8, 2>,
             scaleDownScalar<8, 3>},
        },
    .convertToPlanar = {convertToPlanarScalar<0>, convertToPlanarScalar<1>,
                        convertToPlanarScalar<2>, convertToPlanarScalar<3>},
    .lumaRow = lumaRowScalar,
    .chromaRow = chromaRowScalar,
};

const KernelSet& activeKernels() {
    static const KernelSet chosen = chooseKernels();
    return chosen;
}

}  // namespace preview_kernels

using namespace preview_kernels;

void drawFullColour(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH, const uint8_t* src,
                    int32_t stepC, int32_t stepR, int32_t step) {
    activeKernels().drawFullColour(dst, dstPitch, outW, outH, src, stepC, stepR, step);
}

void drawGray(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH, const uint8_t* src,
              int32_t stepC, int32_t stepR, int32_t step) {
    activeKernels().drawGray(dst, dstPitch, outW, outH, src, stepC, stepR, step);
}

void scaleDownByFactor(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                       int32_t srcW, int32_t srcH, int32_t factor, KernelTurn turn) {
    const int f = factorIndex(factor);
    if (f < 0) return;
    const int32_t q = srcW / factor;
    const int32_t p = srcH / factor;
    const bool vectorShape = q % 4 == 0 && p % 4 == 0;
    const KernelSet& set = vectorShape ? activeKernels() : kScalarKernels;
    set.scaleDown[f][turn & 3](src, srcStride, dst, dstPitch, srcW, srcH);
}

void convertToPlanar(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes, int32_t srcW,
                     int32_t srcH, KernelTurn turn) {
    activeKernels().convertToPlanar[turn & 3](src, srcStride, planes, srcW, srcH);
}

void convertSampledRows(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                        int32_t srcW, int32_t srcH, int32_t oh, int32_t stepV) {
    constexpr int64_t kHalf = 0x8000;  // 0.5 in 16.16
    const KernelSet& set = activeKernels();
    // Whole 8 x 8 blocks only, as convertToPlanar.
    const int32_t columns = srcW / 8 * 8;
    const int32_t lumaRows = srcH / 8 * 8;
    if (columns <= 0 || lumaRows <= 0) return;
    // Sampled rows never decrease with j for a step of 0 or more, so each row is converted once
    // by keeping the last one done. A negative step samples at most row 0 inside the planes.
    int32_t lumaDone = -1, chromaDone = -1;
    auto luma = [&](int64_t r) {
        if (r <= lumaDone || r < 0 || r >= lumaRows) return;
        lumaDone = static_cast<int32_t>(r);
        set.lumaRow(src + r * srcStride, planes.y + r * planes.yStride, columns);
    };
    for (int32_t j = 0; j < oh / 2; ++j) {
        const int64_t a = int64_t{2} * j * stepV;
        luma((a + kHalf) >> 16);
        luma((a + kHalf + stepV) >> 16);
        const int64_t c = (a + 2 * kHalf) >> 17;
        if (c <= chromaDone || c < 0 || c >= lumaRows / 2) continue;
        chromaDone = static_cast<int32_t>(c);
        const uint8_t* upper = src + 2 * c * srcStride;
        set.chromaRow(upper, upper + srcStride, planes.cb + c * planes.cbStride,
                      planes.cr + c * planes.crStride, columns / 2);
    }
}
