// AVX2 building blocks shared by the AVX2 kernel variants (*_avx2.cpp): the studio-range colour
// equations on sixteen 16-bit lanes and byte gathers that never read beyond the sample. Every
// function carries the avx2 target attribute, so the rest of the program builds for baseline
// x86-64; only code chosen after simd::level() reports AVX2 calls them. Internal to the preview
// kernels.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "preview/kernel_simd_x86.h"
#include "preview/kernel_variants.h"

#define LUMO_AVX2 __attribute__((target("avx2")))

namespace preview_kernels::x86 {
namespace {

// The studio-range equations of kernel_variants.h on sixteen pixels, as studioToRgb565x8 does on
// eight: exact 32-bit multiply-adds of lane pairs, arithmetic shifts, clamps. All operations work
// within each 128-bit half, so lane order is kept.
template <const StudioCoefficients& C>
LUMO_AVX2 inline __m256i studioToRgb565x16(__m256i y, __m256i u, __m256i v) {
    constexpr int kShiftRB = C.fractionBits + 3;
    constexpr int kShiftG = C.fractionBits + 2;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i yr = _mm256_set1_epi32(lanePair(C.y, C.rv));
    const __m256i yb = _mm256_set1_epi32(lanePair(C.y, C.bu));
    const __m256i yg = _mm256_set1_epi32(lanePair(C.y, -C.gu));
    const __m256i vg = _mm256_set1_epi32(lanePair(-C.gv, 0));
    const __m256i luma = _mm256_sub_epi16(y, _mm256_set1_epi16(16));
    const __m256i lumaVLo = _mm256_unpacklo_epi16(luma, v);
    const __m256i lumaVHi = _mm256_unpackhi_epi16(luma, v);
    const __m256i lumaULo = _mm256_unpacklo_epi16(luma, u);
    const __m256i lumaUHi = _mm256_unpackhi_epi16(luma, u);
    const __m256i vLo = _mm256_unpacklo_epi16(v, zero);
    const __m256i vHi = _mm256_unpackhi_epi16(v, zero);
    __m256i r = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(lumaVLo, yr), kShiftRB),
                                   _mm256_srai_epi32(_mm256_madd_epi16(lumaVHi, yr), kShiftRB));
    __m256i g = _mm256_packs_epi32(
        _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(lumaULo, yg), _mm256_madd_epi16(vLo, vg)), kShiftG),
        _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(lumaUHi, yg), _mm256_madd_epi16(vHi, vg)), kShiftG));
    __m256i b = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(lumaULo, yb), kShiftRB),
                                   _mm256_srai_epi32(_mm256_madd_epi16(lumaUHi, yb), kShiftRB));
    r = _mm256_min_epi16(_mm256_max_epi16(r, zero), _mm256_set1_epi16(31));
    g = _mm256_min_epi16(_mm256_max_epi16(g, zero), _mm256_set1_epi16(63));
    b = _mm256_min_epi16(_mm256_max_epi16(b, zero), _mm256_set1_epi16(31));
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(r, 11), _mm256_slli_epi16(g, 5)), b);
}

// Eight bytes from `row`, byte k at row[at[k]], as 32-bit lanes. Each lane loads the 32-bit word
// that ends at its byte (or starts the row), so nothing past the byte is read.
struct ByteGather {
    __m256i wordOffset;  // max(at - 3, 0)
    __m256i shift;       // 8 * (at - wordOffset)
};

LUMO_AVX2 inline ByteGather planByteGather(__m256i at) {
    const __m256i word =
        _mm256_max_epi32(_mm256_sub_epi32(at, _mm256_set1_epi32(3)), _mm256_setzero_si256());
    return {word, _mm256_slli_epi32(_mm256_sub_epi32(at, word), 3)};
}

LUMO_AVX2 inline __m256i gatherBytes(const uint8_t* row, const ByteGather& g) {
    const __m256i words =
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), g.wordOffset, 1);
    return _mm256_and_si256(_mm256_srlv_epi32(words, g.shift), _mm256_set1_epi32(0xFF));
}

// 32-bit lane k of v to `at` (one extract-to-memory instruction).
template <int kLane>
LUMO_AVX2 inline void storeLane32(uint8_t* at, __m128i v) {
    const int32_t word = _mm_extract_epi32(v, kLane);
    std::memcpy(at, &word, sizeof word);
}

// The high eight bytes of v to `at`, which may have any alignment (one extract-to-memory
// instruction).
LUMO_AVX2 inline void storeHigh8BytesDirect(uint8_t* at, __m128i v) {
    const int64_t high = _mm_extract_epi64(v, 1);
    std::memcpy(at, &high, sizeof high);
}

// storeBlock4x4Bytes (kernel_simd_x86.h) with extract-to-memory stores from one walking pointer.
template <uint32_t kTurn>
LUMO_AVX2 inline void storeBlock4x4BytesAvx2(uint8_t* plane, const TurnedPlacement& at, int32_t x0,
                                             int32_t y0, __m128i block) {
    constexpr bool kColumns = kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp;
    if constexpr (kColumns) {
        const __m128i t = _mm_unpacklo_epi8(block, _mm_srli_si128(block, 8));
        block = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));  // now its columns, in order
    }
    int32_t x = x0;
    int32_t y = y0;
    if constexpr (kTurn == TurnLeftEdgeUp) y = y0 + 3;
    if constexpr (kTurn == TurnUpsideDown) x = x0 + 3;
    if constexpr (kTurn == TurnLeftEdgeUp || kTurn == TurnUpsideDown)
        block = reverseBytesPerWord(block);
    uint8_t* p = placed(plane, at, x, y);
    const ptrdiff_t step = kColumns ? at.xStep : at.yStep;
    storeLane32<0>(p, block);
    storeLane32<1>(p + step, block);
    storeLane32<2>(p + 2 * step, block);
    storeLane32<3>(p + 3 * step, block);
}

}  // namespace
}  // namespace preview_kernels::x86

#endif  // __x86_64__
