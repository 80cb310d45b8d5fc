// SSE2 variants of the preview conversion kernels; bit for bit the scalar results
// (preview_kernels.cpp).
//
// scaleDownByFactor (output width and height multiples of 4): the output is made in 4 x 4
// blocks. Each block row's four samples come from one to four 16-byte loads as 32-bit words
// (Cb, Y, Cr, Y); luma is byte 1 of each word, chroma bytes 0 and 2 of the pair's first word.
// The colour equations run on eight 16-bit lanes with exact 32-bit multiply-adds (madd of lane
// pairs (Y - 16, V) x (1192, 1634), (Y - 16, U) x (1192, 2065), (Y - 16, U) x (1192, -401) plus
// V x -833), then arithmetic shifts 13 and 12, clamps 31 and 63 and the 11/5/0 field positions.
// Turns 1 and 2 transpose each block in registers so that every store is a destination row.
//
// convertToPlanar: each 8 x 8 block is eight 16-byte loads. Luma is the odd bytes; chroma the
// even bytes of a row pair averaged by pavgw, which computes (a + b + 1) >> 1 exactly. Luma blocks
// are turned as 8 x 8 byte transposes (three unpack stages) and byte reversals, chroma as 4 x 4.
//
// convertSampledRows: a luma row is the odd bytes of the frame row, sixteen pixels per step; a
// chroma row is pavgb of the two frame rows (exact rounded average), its even bytes packed and
// split into Cb and Cr.
#include "preview/kernel_variants.h"

#if defined(__x86_64__)

#include "preview/kernel_simd_x86.h"

namespace preview_kernels {
namespace {

using namespace x86;

template <int kFactor, uint32_t kTurn>
void scaleDownSse2(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                   int32_t srcW, int32_t srcH) {
    const int32_t q = srcW / kFactor;
    const int32_t p = srcH / kFactor;
    const TurnedPlacement at = placeTurned(kTurn, q, p, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    const ptrdiff_t sampleRow = ptrdiff_t{kFactor} * srcStride;
    for (int32_t k = 0; k + 4 <= p; k += 4) {
        const uint8_t* row0 = src + k * sampleRow;
        for (int32_t i = 0; i + 4 <= q; i += 4) {
            const uint8_t* s = row0 + ptrdiff_t{2 * kFactor} * i;
            const ReducerSamples a = splitSampleWords(sampleWords<kFactor>(s));
            const ReducerSamples b = splitSampleWords(sampleWords<kFactor>(s + sampleRow));
            const ReducerSamples c = splitSampleWords(sampleWords<kFactor>(s + 2 * sampleRow));
            const ReducerSamples d = splitSampleWords(sampleWords<kFactor>(s + 3 * sampleRow));
            const Lanes8 ab = joinRows(a, b);
            const Lanes8 cd = joinRows(c, d);
            storeBlock4x4<kTurn>(out, at, i, k, studioToRgb565x8<kReducerColour>(ab.y, ab.u, ab.v),
                                 studioToRgb565x8<kReducerColour>(cd.y, cd.u, cd.v));
        }
    }
}

template <uint32_t kTurn>
void convertToPlanarSse2(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                         int32_t srcW, int32_t srcH) {
    const PlanarPlacement at = placePlanar(kTurn, planes, srcW, srcH);
    for (int32_t by = 0; by < srcH / 8; ++by)
        for (int32_t bx = 0; bx < srcW / 8; ++bx)
            convertBlock8x8<kTurn>(src + ptrdiff_t{8} * by * srcStride + bx * 16, srcStride, at, bx,
                                   by);
}

}  // namespace

const KernelSet kSse2Kernels = {
    .name = "sse2",
    .scaleDown =
        {
            {scaleDownSse2<2, 0>, scaleDownSse2<2, 1>, scaleDownSse2<2, 2>, scaleDownSse2<2, 3>},
            {scaleDownSse2<4, 0>, scaleDownSse2<4, 1>, scaleDownSse2<4, 2>, scaleDownSse2<4, 3>},
            {scaleDownSse2<8, 0>, scaleDownSse2<8, 1>, scaleDownSse2<8, 2>, scaleDownSse2<8, 3>},
        },
    .convertToPlanar = {convertToPlanarSse2<0>, convertToPlanarSse2<1>, convertToPlanarSse2<2>,
                        convertToPlanarSse2<3>},
    .lumaRow = lumaRowSse2,
    .chromaRow = chromaRowSse2,
};

}  // namespace preview_kernels

#else

namespace preview_kernels {
const KernelSet kSse2Kernels = {.name = "sse2"};
}

#endif
