// Inside the transform: the AVX2 transform and quantisation of two blocks, kept in registers so
// that the fused transform-and-code kernel (huffman_simd.cpp) reads the quantised coefficients
// without a store and a reload. Internal to src/jpeg; fdct_avx2.cpp has the account.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

#include "jpeg/fdct.h"

// Everything has internal linkage, so that each user inlines it.
namespace {

#define LUMO_AVX2 __attribute__((target("avx2")))

LUMO_AVX2 inline __m256i add(__m256i a, __m256i b) {
    return _mm256_adds_epi16(a, b);
}
LUMO_AVX2 inline __m256i sub(__m256i a, __m256i b) {
    return _mm256_subs_epi16(a, b);
}
LUMO_AVX2 inline __m256i mulHigh(__m256i a, __m256i k) {
    return _mm256_mulhi_epi16(a, k);
}

LUMO_AVX2 inline __attribute__((always_inline)) void transform8(__m256i v[8]) {
    const __m256i c1 = _mm256_set1_epi16(23170);  // 0.707106781 in Q15
    const __m256i c2 = _mm256_set1_epi16(25080);  // 0.765366865 in Q15
    const __m256i c3 = _mm256_set1_epi16(21407);  // 0.653281482 in Q15
    const __m256i c4 = _mm256_set1_epi16(17734);  // 0.541196100 in Q15

    const __m256i t0 = add(v[0], v[7]), t7 = sub(v[0], v[7]);
    const __m256i t1 = add(v[1], v[6]), t6 = sub(v[1], v[6]);
    const __m256i t2 = add(v[2], v[5]), t5 = sub(v[2], v[5]);
    const __m256i t3 = add(v[3], v[4]), t4 = sub(v[3], v[4]);

    const __m256i t10 = add(t0, t3), t13 = sub(t0, t3);
    const __m256i t11 = add(t1, t2), t12 = sub(t1, t2);
    const __m256i z1 = mulHigh(_mm256_slli_epi16(add(t12, t13), 1), c1);

    const __m256i p10 = add(t4, t5), p11 = add(t5, t6), p12 = add(t6, t7);
    const __m256i z3 = mulHigh(_mm256_slli_epi16(p11, 1), c1);
    const __m256i z5 = mulHigh(sub(p10, p12), c2);
    const __m256i z4 = add(mulHigh(_mm256_slli_epi16(p12, 2), c3), z5);
    const __m256i z2 = add(mulHigh(_mm256_slli_epi16(p10, 1), c4), z5);
    const __m256i z11 = add(t7, z3), z13 = sub(t7, z3);

    v[0] = add(t10, t11);
    v[1] = add(z11, z4);
    v[2] = add(t13, z1);
    v[3] = sub(z13, z2);
    v[4] = sub(t10, t11);
    v[5] = add(z13, z2);
    v[6] = sub(t13, z1);
    v[7] = sub(z11, z4);
}

// Transposes both 8 x 8 halves.
LUMO_AVX2 inline __attribute__((always_inline)) void transpose(const __m256i r[8], __m256i c[8]) {
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    c[0] = _mm256_unpacklo_epi64(b0, b4);
    c[1] = _mm256_unpackhi_epi64(b0, b4);
    c[2] = _mm256_unpacklo_epi64(b1, b5);
    c[3] = _mm256_unpackhi_epi64(b1, b5);
    c[4] = _mm256_unpacklo_epi64(b2, b6);
    c[5] = _mm256_unpackhi_epi64(b2, b6);
    c[6] = _mm256_unpacklo_epi64(b3, b7);
    c[7] = _mm256_unpackhi_epi64(b3, b7);
}

LUMO_AVX2 inline __m256i loadPair(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

// The quantised coefficients of both blocks: q[v] holds frequency v of the first block (u across
// the low eight lanes) and of the second (the high eight), the order of the stored blocks.
LUMO_AVX2 inline __attribute__((always_inline)) void quantizePairAvx2(
    const int16_t* first, const uint16_t* firstReciprocals, const int16_t* second,
    const uint16_t* secondReciprocals, __m256i q[8]) {
    __m256i rows[8], columns[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) rows[i] = loadPair(first + 8 * i, second + 8 * i);
    transform8(rows);
    transpose(rows, columns);
    transform8(columns);
    const __m256i one = _mm256_set1_epi16(1);
#pragma GCC unroll 8
    for (int v = 0; v < 8; ++v) {
        const __m256i shift = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(kPreShiftMultipliers.m + 8 * v)));
        const __m256i r = loadPair(firstReciprocals + 8 * v, secondReciprocals + 8 * v);
        const __m256i m = _mm256_mulhi_epi16(_mm256_mullo_epi16(columns[v], shift), r);
        q[v] = _mm256_srai_epi16(_mm256_adds_epi16(m, one), 1);
    }
}

}  // namespace

#endif
