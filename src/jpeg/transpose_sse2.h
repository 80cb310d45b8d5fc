// 8 x 8 transpose of signed 16-bit samples held as eight rows of eight lanes, shared by the
// SSE2 kernels. Internal to src/jpeg; x86-64 only.
#pragma once

#if defined(__x86_64__)
#include <emmintrin.h>

// c[i] = column i of the rows r[0..7]; c may not alias r.
inline void transpose8x8Epi16(const __m128i r[8], __m128i c[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    c[0] = _mm_unpacklo_epi64(b0, b4);
    c[1] = _mm_unpackhi_epi64(b0, b4);
    c[2] = _mm_unpacklo_epi64(b1, b5);
    c[3] = _mm_unpackhi_epi64(b1, b5);
    c[4] = _mm_unpacklo_epi64(b2, b6);
    c[5] = _mm_unpackhi_epi64(b2, b6);
    c[6] = _mm_unpacklo_epi64(b3, b7);
    c[7] = _mm_unpackhi_epi64(b3, b7);
}

#endif
