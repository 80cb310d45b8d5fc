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

// ---- convertToPlanar ----

// Eight rows of eight bytes (low half of each register) whose byte (x, y) belongs at
// placed(plane, at, x0 + x, y0 + y).
template <uint32_t kTurn>
inline void storeBlock8x8(uint8_t* plane, const TurnedPlacement& at, int32_t x0, int32_t y0,
                          const __m128i (&rows)[8]) {
    if constexpr (kTurn == TurnNone) {
        for (int r = 0; r < 8; ++r) store8Bytes(placed(plane, at, x0, y0 + r), rows[r]);
    } else if constexpr (kTurn == TurnUpsideDown) {
        for (int r = 0; r < 8; ++r)
            store8Bytes(placed(plane, at, x0 + 7, y0 + r), reverseBytesPerHalf(rows[r]));
    } else {
        // Transpose: columns[n] holds block columns 2n and 2n + 1, each top to bottom.
        const __m128i b0 = _mm_unpacklo_epi8(rows[0], rows[1]);
        const __m128i b1 = _mm_unpacklo_epi8(rows[2], rows[3]);
        const __m128i b2 = _mm_unpacklo_epi8(rows[4], rows[5]);
        const __m128i b3 = _mm_unpacklo_epi8(rows[6], rows[7]);
        const __m128i c0 = _mm_unpacklo_epi16(b0, b1);
        const __m128i c1 = _mm_unpackhi_epi16(b0, b1);
        const __m128i c2 = _mm_unpacklo_epi16(b2, b3);
        const __m128i c3 = _mm_unpackhi_epi16(b2, b3);
        __m128i columns[4] = {_mm_unpacklo_epi32(c0, c2), _mm_unpackhi_epi32(c0, c2),
                              _mm_unpacklo_epi32(c1, c3), _mm_unpackhi_epi32(c1, c3)};
        for (int n = 0; n < 4; ++n) {
            if constexpr (kTurn == TurnRightEdgeUp) {  // a column runs rightwards from (x, y0)
                store8Bytes(placed(plane, at, x0 + 2 * n, y0), columns[n]);
                storeHigh8Bytes(placed(plane, at, x0 + 2 * n + 1, y0), columns[n]);
            } else {  // leftwards: stored reversed from (x, y0 + 7)
                const __m128i reversed = reverseBytesPerHalf(columns[n]);
                store8Bytes(placed(plane, at, x0 + 2 * n, y0 + 7), reversed);
                storeHigh8Bytes(placed(plane, at, x0 + 2 * n + 1, y0 + 7), reversed);
            }
        }
    }
}

// A 4 x 4 byte block, rows in order (four bytes each), whose byte (x, y) belongs at
// placed(plane, at, x0 + x, y0 + y).
template <uint32_t kTurn>
inline void storeBlock4x4Bytes(uint8_t* plane, const TurnedPlacement& at, int32_t x0, int32_t y0,
                               __m128i block) {
    if constexpr (kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp) {
        const __m128i t = _mm_unpacklo_epi8(block, _mm_srli_si128(block, 8));
        block = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));  // now its columns, in order
    }
    int32_t x = x0;
    int32_t y = y0;
    if constexpr (kTurn == TurnLeftEdgeUp) y = y0 + 3;
    if constexpr (kTurn == TurnUpsideDown) x = x0 + 3;
    if constexpr (kTurn == TurnLeftEdgeUp || kTurn == TurnUpsideDown)
        block = reverseBytesPerWord(block);
    for (int n = 0; n < 4; ++n) {
        if constexpr (kTurn == TurnNone || kTurn == TurnUpsideDown) {
            store4Bytes(placed(plane, at, x, y + n), block);
        } else {
            store4Bytes(placed(plane, at, x + n, y), block);
        }
        block = _mm_srli_si128(block, 4);
    }
}

template <uint32_t kTurn>
void convertToPlanarSse2(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                         int32_t srcW, int32_t srcH) {
    const TurnedPlacement luma = placeTurned(kTurn, srcW, srcH, planes.yStride, 1);
    const TurnedPlacement cbAt = placeTurned(kTurn, srcW / 2, srcH / 2, planes.cbStride, 1);
    const TurnedPlacement crAt = placeTurned(kTurn, srcW / 2, srcH / 2, planes.crStride, 1);
    uint8_t* const yOut = planes.y + luma.origin;
    uint8_t* const cbOut = planes.cb + cbAt.origin;
    uint8_t* const crOut = planes.cr + crAt.origin;
    const __m128i evenBytes = _mm_set1_epi16(0x00FF);
    const __m128i lowWords = _mm_set1_epi32(0xFFFF);
    for (int32_t by = 0; by < srcH / 8; ++by) {
        for (int32_t bx = 0; bx < srcW / 8; ++bx) {
            const uint8_t* block = src + ptrdiff_t{8} * by * srcStride + bx * 16;
            __m128i rows[8];
            __m128i lumaRows[8];
            for (int r = 0; r < 8; ++r) {
                rows[r] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(block + ptrdiff_t{r} * srcStride));
                const __m128i odd = _mm_srli_epi16(rows[r], 8);
                lumaRows[r] = _mm_packus_epi16(odd, odd);
            }
            storeBlock8x8<kTurn>(yOut, luma, 8 * bx, 8 * by, lumaRows);

            // Per row pair: (Cb, Cr) x 4 as 16-bit lanes, rounded vertical average.
            __m128i average[4];
            for (int c = 0; c < 4; ++c)
                average[c] = _mm_avg_epu16(_mm_and_si128(rows[2 * c], evenBytes),
                                           _mm_and_si128(rows[2 * c + 1], evenBytes));
            const __m128i cb =
                _mm_packus_epi16(_mm_packs_epi32(_mm_and_si128(average[0], lowWords),
                                                 _mm_and_si128(average[1], lowWords)),
                                 _mm_packs_epi32(_mm_and_si128(average[2], lowWords),
                                                 _mm_and_si128(average[3], lowWords)));
            const __m128i cr = _mm_packus_epi16(
                _mm_packs_epi32(_mm_srli_epi32(average[0], 16), _mm_srli_epi32(average[1], 16)),
                _mm_packs_epi32(_mm_srli_epi32(average[2], 16), _mm_srli_epi32(average[3], 16)));
            storeBlock4x4Bytes<kTurn>(cbOut, cbAt, 4 * bx, 4 * by, cb);
            storeBlock4x4Bytes<kTurn>(crOut, crAt, 4 * bx, 4 * by, cr);
        }
    }
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
};

}  // namespace preview_kernels

#else

namespace preview_kernels {
const KernelSet kSse2Kernels = {.name = "sse2"};
}

#endif
