// SSE2 building blocks shared by the x86 kernel variants (*_sse2.cpp, *_avx2.cpp): the
// studio-range colour equations on eight 16-bit lanes, sample gathering for the reducer, and the
// turned stores of small pixel blocks. Everything here is baseline x86-64 (SSE2), so AVX2
// functions may inline it. Internal to the preview kernels.
#pragma once

#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "preview/kernel_variants.h"

namespace preview_kernels::x86 {
namespace {

// A 32-bit lane holding `low` in its low 16 bits and `high` in its high 16 bits: the constant
// operand of _mm_madd_epi16, which gives low * a + high * b for a lane pair (a, b).
constexpr int32_t lanePair(int32_t low, int32_t high) {
    return static_cast<int32_t>((static_cast<uint32_t>(high) << 16) |
                                (static_cast<uint32_t>(low) & 0xFFFF));
}

// The studio-range equations of kernel_variants.h on eight pixels: y is raw luma, u = Cb - 128 and
// v = Cr - 128, all as signed 16-bit lanes. Products are summed exactly in 32 bits by
// _mm_madd_epi16, shifted arithmetically, then clamped: bit for bit the scalar result.
template <const StudioCoefficients& C>
inline __m128i studioToRgb565x8(__m128i y, __m128i u, __m128i v) {
    constexpr int kShiftRB = C.fractionBits + 3;
    constexpr int kShiftG = C.fractionBits + 2;
    const __m128i zero = _mm_setzero_si128();
    const __m128i yr = _mm_set1_epi32(lanePair(C.y, C.rv));
    const __m128i yb = _mm_set1_epi32(lanePair(C.y, C.bu));
    const __m128i yg = _mm_set1_epi32(lanePair(C.y, -C.gu));
    const __m128i vg = _mm_set1_epi32(lanePair(-C.gv, 0));
    const __m128i luma = _mm_sub_epi16(y, _mm_set1_epi16(16));
    const __m128i lumaVLo = _mm_unpacklo_epi16(luma, v);
    const __m128i lumaVHi = _mm_unpackhi_epi16(luma, v);
    const __m128i lumaULo = _mm_unpacklo_epi16(luma, u);
    const __m128i lumaUHi = _mm_unpackhi_epi16(luma, u);
    const __m128i vLo = _mm_unpacklo_epi16(v, zero);
    const __m128i vHi = _mm_unpackhi_epi16(v, zero);
    __m128i r = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(lumaVLo, yr), kShiftRB),
                                _mm_srai_epi32(_mm_madd_epi16(lumaVHi, yr), kShiftRB));
    __m128i g = _mm_packs_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lumaULo, yg), _mm_madd_epi16(vLo, vg)),
                       kShiftG),
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lumaUHi, yg), _mm_madd_epi16(vHi, vg)),
                       kShiftG));
    __m128i b = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(lumaULo, yb), kShiftRB),
                                _mm_srai_epi32(_mm_madd_epi16(lumaUHi, yb), kShiftRB));
    r = _mm_min_epi16(_mm_max_epi16(r, zero), _mm_set1_epi16(31));
    g = _mm_min_epi16(_mm_max_epi16(g, zero), _mm_set1_epi16(63));
    b = _mm_min_epi16(_mm_max_epi16(b, zero), _mm_set1_epi16(31));
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
}

// ---- Reducer sampling ----

// The 32-bit words of four consecutive reducer samples of one row (2 * factor bytes apart),
// starting at `p`. Reads only within the 8 * factor bytes the four samples cover.
template <int kFactor>
inline __m128i sampleWords(const uint8_t* p) {
    if constexpr (kFactor == 2) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (kFactor == 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        return _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
    } else {
        static_assert(kFactor == 8);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
        return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
    }
}

// Luma, Cb and Cr (32-bit lanes) of four reducer samples: each its own luma (byte 1 of its word),
// the chroma of its pair's first word (bytes 0 and 2 of words 0 and 2).
struct ReducerSamples {
    __m128i y, cb, cr;
};

inline ReducerSamples splitSampleWords(__m128i words) {
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i pairFirst = _mm_shuffle_epi32(words, _MM_SHUFFLE(2, 2, 0, 0));
    return {_mm_and_si128(_mm_srli_epi32(words, 8), byteMask), _mm_and_si128(pairFirst, byteMask),
            _mm_and_si128(_mm_srli_epi32(pairFirst, 16), byteMask)};
}

// Two rows of four samples as eight 16-bit lanes (row a in lanes 0-3): luma, Cb - 128, Cr - 128.
struct Lanes8 {
    __m128i y, u, v;
};

inline Lanes8 joinRows(const ReducerSamples& a, const ReducerSamples& b) {
    const __m128i bias = _mm_set1_epi16(128);
    return {_mm_packs_epi32(a.y, b.y), _mm_sub_epi16(_mm_packs_epi32(a.cb, b.cb), bias),
            _mm_sub_epi16(_mm_packs_epi32(a.cr, b.cr), bias)};
}

// ---- Turned stores ----

inline void store8Bytes(uint8_t* at, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), v);
}
inline void storeHigh8Bytes(uint8_t* at, __m128i v) {
    store8Bytes(at, _mm_unpackhi_epi64(v, v));
}
inline void store4Bytes(uint8_t* at, __m128i v) {
    const int32_t word = _mm_cvtsi128_si32(v);
    std::memcpy(at, &word, sizeof word);
}

// Reverses the four 16-bit lanes in each 64-bit half.
inline __m128i reverseWordsPerHalf(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3)),
                               _MM_SHUFFLE(0, 1, 2, 3));
}
inline __m128i swapBytesInWords(__m128i v) {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
// Reverses the eight bytes in each 64-bit half.
inline __m128i reverseBytesPerHalf(__m128i v) {
    return swapBytesInWords(reverseWordsPerHalf(v));
}
// Reverses the four bytes in each 32-bit lane.
inline __m128i reverseBytesPerWord(__m128i v) {
    return swapBytesInWords(_mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)),
                                                _MM_SHUFFLE(2, 3, 0, 1)));
}

// Address of block-relative pixel (x, y) under a placement.
inline uint8_t* placed(uint8_t* out, const TurnedPlacement& at, int32_t x, int32_t y) {
    return out + x * at.xStep + y * at.yStep;
}

// A 4 x 4 block of 16-bit pixels, rows01 = rows 0 and 1 (four pixels each), rows23 = rows 2 and 3,
// whose pixel (x, y) belongs at placed(out, at, x0 + x, y0 + y). Turns 0 and 3 keep the block's
// rows as destination rows; turns 1 and 2 make its columns the destination rows.
template <uint32_t kTurn>
inline void storeBlock4x4(uint8_t* out, const TurnedPlacement& at, int32_t x0, int32_t y0,
                          __m128i rows01, __m128i rows23) {
    if constexpr (kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp) {
        const __m128i t0 = _mm_unpacklo_epi16(rows01, _mm_srli_si128(rows01, 8));
        const __m128i t1 = _mm_unpacklo_epi16(rows23, _mm_srli_si128(rows23, 8));
        const __m128i columns01 = _mm_unpacklo_epi32(t0, t1);
        const __m128i columns23 = _mm_unpackhi_epi32(t0, t1);
        if constexpr (kTurn == TurnRightEdgeUp) {  // column x runs rightwards from (x, y0)
            store8Bytes(placed(out, at, x0, y0), columns01);
            storeHigh8Bytes(placed(out, at, x0 + 1, y0), columns01);
            store8Bytes(placed(out, at, x0 + 2, y0), columns23);
            storeHigh8Bytes(placed(out, at, x0 + 3, y0), columns23);
        } else {  // column x runs leftwards from (x, y0): stored reversed from (x, y0 + 3)
            const __m128i r01 = reverseWordsPerHalf(columns01);
            const __m128i r23 = reverseWordsPerHalf(columns23);
            store8Bytes(placed(out, at, x0, y0 + 3), r01);
            storeHigh8Bytes(placed(out, at, x0 + 1, y0 + 3), r01);
            store8Bytes(placed(out, at, x0 + 2, y0 + 3), r23);
            storeHigh8Bytes(placed(out, at, x0 + 3, y0 + 3), r23);
        }
    } else if constexpr (kTurn == TurnNone) {
        store8Bytes(placed(out, at, x0, y0), rows01);
        storeHigh8Bytes(placed(out, at, x0, y0 + 1), rows01);
        store8Bytes(placed(out, at, x0, y0 + 2), rows23);
        storeHigh8Bytes(placed(out, at, x0, y0 + 3), rows23);
    } else {
        const __m128i r01 = reverseWordsPerHalf(rows01);
        const __m128i r23 = reverseWordsPerHalf(rows23);
        store8Bytes(placed(out, at, x0 + 3, y0), r01);
        storeHigh8Bytes(placed(out, at, x0 + 3, y0 + 1), r01);
        store8Bytes(placed(out, at, x0 + 3, y0 + 2), r23);
        storeHigh8Bytes(placed(out, at, x0 + 3, y0 + 3), r23);
    }
}

// A 4 x 2 block of 16-bit pixels (row 0 in lanes 0-3, row 1 in lanes 4-7) whose pixel (x, y)
// belongs at placed(out, at, x0 + x, y0 + y).
template <uint32_t kTurn>
inline void storeBlock4x2(uint8_t* out, const TurnedPlacement& at, int32_t x0, int32_t y0,
                          __m128i rows01) {
    if constexpr (kTurn == TurnNone) {
        store8Bytes(placed(out, at, x0, y0), rows01);
        storeHigh8Bytes(placed(out, at, x0, y0 + 1), rows01);
    } else if constexpr (kTurn == TurnUpsideDown) {
        const __m128i r = reverseWordsPerHalf(rows01);
        store8Bytes(placed(out, at, x0 + 3, y0), r);
        storeHigh8Bytes(placed(out, at, x0 + 3, y0 + 1), r);
    } else {
        // Each column x becomes two adjacent destination pixels: (x, y0) then (x, y0 + 1) for
        // turn 1, the other way round for turn 2.
        const __m128i high = _mm_srli_si128(rows01, 8);
        const bool down = kTurn == TurnRightEdgeUp;
        const __m128i pairs =
            down ? _mm_unpacklo_epi16(rows01, high) : _mm_unpacklo_epi16(high, rows01);
        const int32_t y = down ? y0 : y0 + 1;
        store4Bytes(placed(out, at, x0, y), pairs);
        store4Bytes(placed(out, at, x0 + 1, y), _mm_shuffle_epi32(pairs, _MM_SHUFFLE(1, 1, 1, 1)));
        store4Bytes(placed(out, at, x0 + 2, y), _mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 2, 2, 2)));
        store4Bytes(placed(out, at, x0 + 3, y), _mm_shuffle_epi32(pairs, _MM_SHUFFLE(3, 3, 3, 3)));
    }
}

// ---- convertToPlanar ----

// Where the three planes of a converted picture go: each plane's first-pixel pointer (already
// moved to the placement's origin) and its placement.
struct PlanarPlacement {
    uint8_t* y;
    uint8_t* cb;
    uint8_t* cr;
    TurnedPlacement luma, cbAt, crAt;
};

inline PlanarPlacement placePlanar(uint32_t turn, const PlanarYuv& planes, int32_t srcW,
                                   int32_t srcH) {
    const TurnedPlacement luma = placeTurned(turn, srcW, srcH, planes.yStride, 1);
    const TurnedPlacement cbAt = placeTurned(turn, srcW / 2, srcH / 2, planes.cbStride, 1);
    const TurnedPlacement crAt = placeTurned(turn, srcW / 2, srcH / 2, planes.crStride, 1);
    return {
        planes.y + luma.origin, planes.cb + cbAt.origin, planes.cr + crAt.origin, luma, cbAt, crAt};
}

// Eight rows of eight bytes (low half of each register) whose byte (x, y) belongs at
// placed(plane, at, x0 + x, y0 + y).
template <uint32_t kTurn>
inline void storeBlock8x8(uint8_t* plane, const TurnedPlacement& at, int32_t x0, int32_t y0,
                          const __m128i (&rows)[8]) {
    if constexpr (kTurn == TurnNone) {
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) store8Bytes(placed(plane, at, x0, y0 + r), rows[r]);
    } else if constexpr (kTurn == TurnUpsideDown) {
#pragma GCC unroll 8
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
#pragma GCC unroll 8
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
#pragma GCC unroll 8
    for (int n = 0; n < 4; ++n) {
        if constexpr (kTurn == TurnNone || kTurn == TurnUpsideDown) {
            store4Bytes(placed(plane, at, x, y + n), block);
        } else {
            store4Bytes(placed(plane, at, x + n, y), block);
        }
        block = _mm_srli_si128(block, 4);
    }
}

// Chroma of an 8 x 8 block from its eight rows (16 bytes each): per row pair the (Cb, Cr) of
// four pixel pairs, rounded vertical average ((a + b + 1) >> 1 is exactly pavgw), as two 4 x 4
// byte blocks in row order.
inline void chromaBlocks(const __m128i (&rows)[8], __m128i& cb, __m128i& cr) {
    const __m128i evenBytes = _mm_set1_epi16(0x00FF);
    const __m128i lowWords = _mm_set1_epi32(0xFFFF);
    __m128i average[4];
#pragma GCC unroll 8
    for (int c = 0; c < 4; ++c)
        average[c] = _mm_avg_epu16(_mm_and_si128(rows[2 * c], evenBytes),
                                   _mm_and_si128(rows[2 * c + 1], evenBytes));
    cb = _mm_packus_epi16(
        _mm_packs_epi32(_mm_and_si128(average[0], lowWords), _mm_and_si128(average[1], lowWords)),
        _mm_packs_epi32(_mm_and_si128(average[2], lowWords), _mm_and_si128(average[3], lowWords)));
    cr = _mm_packus_epi16(
        _mm_packs_epi32(_mm_srli_epi32(average[0], 16), _mm_srli_epi32(average[1], 16)),
        _mm_packs_epi32(_mm_srli_epi32(average[2], 16), _mm_srli_epi32(average[3], 16)));
}

// Converts the 8 x 8 block (bx, by) whose first row starts at `block`.
template <uint32_t kTurn>
inline void convertBlock8x8(const uint8_t* block, int32_t srcStride, const PlanarPlacement& at,
                            int32_t bx, int32_t by) {
    __m128i rows[8];
    __m128i lumaRows[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        rows[r] =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + ptrdiff_t{r} * srcStride));
        const __m128i odd = _mm_srli_epi16(rows[r], 8);
        lumaRows[r] = _mm_packus_epi16(odd, odd);
    }
    storeBlock8x8<kTurn>(at.y, at.luma, 8 * bx, 8 * by, lumaRows);
    __m128i cb, cr;
    chromaBlocks(rows, cb, cr);
    storeBlock4x4Bytes<kTurn>(at.cb, at.cbAt, 4 * bx, 4 * by, cb);
    storeBlock4x4Bytes<kTurn>(at.cr, at.crAt, 4 * bx, 4 * by, cr);
}

// ---- Unturned rows of the planar conversion (convertSampledRows) ----

// Luma of eight pixels (16 frame bytes, the odd ones) or of sixteen.
inline void lumaRow8(const uint8_t* src, uint8_t* y) {
    const __m128i odd = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), 8);
    store8Bytes(y, _mm_packus_epi16(odd, odd));
}

inline void lumaRowSse2(const uint8_t* src, uint8_t* y, int32_t pixels) {
    int32_t x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x),
                         _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
    if (x < pixels) lumaRow8(src + 2 * x, y + x);  // pixels is a multiple of 8
}

// (Cb, Cr) of the four pixel pairs of a 16-byte frame run, averaged with the run below it:
// pavgb computes the rounded (a + b + 1) >> 1 exactly. Result: 16-bit lanes Cb, Cr, Cb, Cr...
inline __m128i averagedChroma4(const uint8_t* upper, const uint8_t* lower) {
    const __m128i average = _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower)));
    return _mm_and_si128(average, _mm_set1_epi16(0x00FF));
}

inline void chromaRowSse2(const uint8_t* upper, const uint8_t* lower, uint8_t* cb, uint8_t* cr,
                          int32_t pairs) {
    const __m128i evenBytes = _mm_set1_epi16(0x00FF);
    const __m128i zero = _mm_setzero_si128();
    int32_t k = 0;
    for (; k + 8 <= pairs; k += 8) {
        // Bytes Cb, Cr of eight pairs in order, then split into the two planes.
        const __m128i both =
            _mm_packus_epi16(averagedChroma4(upper + 4 * k, lower + 4 * k),
                             averagedChroma4(upper + 4 * k + 16, lower + 4 * k + 16));
        store8Bytes(cb + k, _mm_packus_epi16(_mm_and_si128(both, evenBytes), zero));
        store8Bytes(cr + k, _mm_packus_epi16(_mm_srli_epi16(both, 8), zero));
    }
    if (k < pairs) {  // pairs is a multiple of 4
        const __m128i both = _mm_packus_epi16(averagedChroma4(upper + 4 * k, lower + 4 * k), zero);
        store4Bytes(cb + k, _mm_packus_epi16(_mm_and_si128(both, evenBytes), zero));
        store4Bytes(cr + k, _mm_packus_epi16(_mm_srli_epi16(both, 8), zero));
    }
}

}  // namespace
}  // namespace preview_kernels::x86

#endif  // __x86_64__
