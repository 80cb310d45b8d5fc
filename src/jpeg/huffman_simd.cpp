// Vector variants of encodeBlock: compares against zero find the non-zero coefficients of the
// whole block at once (one bit per coefficient by block index), a table lookup per byte moves the
// bits to their zigzag positions, and encodeBlockMasked codes only those coefficients.
#include "jpeg/huffman.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

uint64_t nonZeroByIndexSse2(const int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t zeros = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
        const __m128i packed = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        zeros |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(packed))} << (16 * i);
    }
    return ~zeros;
}

__attribute__((target("avx2"))) uint64_t nonZeroByIndexAvx2(const int16_t* block) {
    const __m256i zero = _mm256_setzero_si256();
    uint64_t zeros = 0;
    for (int i = 0; i < 2; ++i) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * i + 16));
        // The in-lane pack interleaves 8-coefficient groups as 0, 2, 1, 3; the permute restores.
        const __m256i packed = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(_mm256_cmpeq_epi16(a, zero), _mm256_cmpeq_epi16(b, zero)), 0xD8);
        zeros |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(packed))} << (32 * i);
    }
    return ~zeros;
}

}  // namespace

void encodeBlockSse2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable) {
    encodeBlockMasked(block, zigzagMask(nonZeroByIndexSse2(block)), output, cursor, dcPredictor,
                      dcTable, acTable);
}

void encodeBlockAvx2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable) {
    encodeBlockMasked(block, zigzagMask(nonZeroByIndexAvx2(block)), output, cursor, dcPredictor,
                      dcTable, acTable);
}

#endif
