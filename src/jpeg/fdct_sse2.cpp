// SSE2 variant of forwardDctQuantize: the arithmetic of fdct.cpp on eight 16-bit lanes. Pass 1
// takes the block's rows as vectors, so the eight columns are transformed side by side; after the
// transpose, pass 2 leaves frequency v in vector v with u across the lanes, which is exactly the
// transposed order the coefficients are stored in. Saturating adds (paddsw/psubsw), the high half
// of the signed product (pmulhw) and plain shifts (psllw) are the operations of the reference.
#include "jpeg/fdct.h"

#if defined(__x86_64__)
#include <emmintrin.h>

#include "jpeg/transpose_sse2.h"

namespace {

inline __m128i add(__m128i a, __m128i b) {
    return _mm_adds_epi16(a, b);
}
inline __m128i sub(__m128i a, __m128i b) {
    return _mm_subs_epi16(a, b);
}
inline __m128i mulHigh(__m128i a, __m128i k) {
    return _mm_mulhi_epi16(a, k);
}

inline __attribute__((always_inline)) void transform8(__m128i v[8]) {
    const __m128i c1 = _mm_set1_epi16(23170);  // 0.707106781 in Q15
    const __m128i c2 = _mm_set1_epi16(25080);  // 0.765366865 in Q15
    const __m128i c3 = _mm_set1_epi16(21407);  // 0.653281482 in Q15
    const __m128i c4 = _mm_set1_epi16(17734);  // 0.541196100 in Q15

    const __m128i t0 = add(v[0], v[7]), t7 = sub(v[0], v[7]);
    const __m128i t1 = add(v[1], v[6]), t6 = sub(v[1], v[6]);
    const __m128i t2 = add(v[2], v[5]), t5 = sub(v[2], v[5]);
    const __m128i t3 = add(v[3], v[4]), t4 = sub(v[3], v[4]);

    const __m128i t10 = add(t0, t3), t13 = sub(t0, t3);
    const __m128i t11 = add(t1, t2), t12 = sub(t1, t2);
    const __m128i z1 = mulHigh(_mm_slli_epi16(add(t12, t13), 1), c1);

    const __m128i p10 = add(t4, t5), p11 = add(t5, t6), p12 = add(t6, t7);
    const __m128i z3 = mulHigh(_mm_slli_epi16(p11, 1), c1);
    const __m128i z5 = mulHigh(sub(p10, p12), c2);
    const __m128i z4 = add(mulHigh(_mm_slli_epi16(p12, 2), c3), z5);
    const __m128i z2 = add(mulHigh(_mm_slli_epi16(p10, 1), c4), z5);
    const __m128i z11 = add(t7, z3), z13 = sub(t7, z3);

    v[0] = add(t10, t11);
    v[1] = add(z11, z4);
    v[2] = add(t13, z1);
    v[3] = sub(z13, z2);
    v[4] = sub(t10, t11);
    v[5] = add(z13, z2);
    v[6] = sub(t13, z1);
    v[7] = sub(z11, z4);
}

void transformQuantize(int16_t* block, const uint16_t* reciprocals) {
    __m128i rows[8], columns[8];
    for (int i = 0; i < 8; ++i)
        rows[i] = _mm_loadu_si128(reinterpret_cast<__m128i*>(block + 8 * i));
    transform8(rows);
    transpose8x8Epi16(rows, columns);
    transform8(columns);
    const __m128i one = _mm_set1_epi16(1);
    for (int v = 0; v < 8; ++v) {
        const __m128i shift =
            _mm_load_si128(reinterpret_cast<const __m128i*>(kPreShiftMultipliers.m + 8 * v));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reciprocals + 8 * v));
        const __m128i m = _mm_mulhi_epi16(_mm_mullo_epi16(columns[v], shift), r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * v),
                         _mm_srai_epi16(_mm_adds_epi16(m, one), 1));
    }
}

}  // namespace

void forwardDctQuantizeSse2(int16_t* block, const uint16_t* reciprocals) {
    transformQuantize(block, reciprocals);
}

void forwardDctQuantizePairSse2(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                                const uint16_t* secondReciprocals) {
    transformQuantize(first, firstReciprocals);
    transformQuantize(second, secondReciprocals);
}

#endif
