// AVX2 variant of forwardDctQuantize: two blocks at once, the first in the low and the second in
// the high 128-bit half of every register. The in-lane unpacks of AVX2 transpose both halves
// independently, so each half follows fdct_sse2.cpp operation for operation and gives the
// reference's bits.
#include "jpeg/fdct.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "jpeg/fdct_avx2.h"

LUMO_AVX2 void forwardDctQuantizePairAvx2(int16_t* first, const uint16_t* firstReciprocals,
                                          int16_t* second, const uint16_t* secondReciprocals) {
    __m256i q[8];
    quantizePairAvx2(first, firstReciprocals, second, secondReciprocals, q);
    for (int v = 0; v < 8; ++v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(first + 8 * v), _mm256_castsi256_si128(q[v]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(second + 8 * v),
                         _mm256_extracti128_si256(q[v], 1));
    }
}

// One block alone fills both halves with itself; both halves store the same result.
LUMO_AVX2 void forwardDctQuantizeAvx2(int16_t* block, const uint16_t* reciprocals) {
    forwardDctQuantizePairAvx2(block, reciprocals, block, reciprocals);
}

#endif
