// Vector variants of encodeBlock: compares against zero find the non-zero coefficients of the
// whole block at once, the flags are put in zigzag order, and encodeBlockWide codes only those
// coefficients.
//
// SSE2 has no byte shuffle: it builds the mask by block index and moves each byte's bits to
// their zigzag positions with a table. AVX2 packs the 64 compare results to bytes and puts them in
// zigzag order with eight in-lane byte shuffles (each output byte picks its flag from whichever of
// the four 16-byte source lanes holds it), then reads the mask with two byte-sign moves.
#include "jpeg/huffman.h"
#include "jpeg/huffman_wide.h"

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

// The packs of the AVX2 variant leave the flag of block index n in 16-byte lane
// kLane[n / 8] at byte n % 8 + kHalf[n / 8] (lanes 0, 1 from the first pack, 2, 3 from the
// second; each pack interleaves its two inputs' halves).
constexpr int kLane[8] = {0, 1, 0, 1, 2, 3, 2, 3};
constexpr int kHalf[8] = {0, 0, 8, 8, 0, 0, 8, 8};

// Shuffle controls: for output half h (zigzag positions 32h..32h+31) and source lane j, the byte
// of that lane each output byte takes, or 0x80 (zero) where the flag lies in another lane.
struct ZigzagShuffles {
    alignas(32) int8_t control[2][4][32];
};
constexpr ZigzagShuffles makeZigzagShuffles() {
    ZigzagShuffles s{};
    for (int h = 0; h < 2; ++h)
        for (int j = 0; j < 4; ++j)
            for (int b = 0; b < 32; ++b) {
                const int n = kReadOrder.index[32 * h + b];
                const bool here = kLane[n / 8] == j;
                // Within a 256-bit shuffle each 128-bit half indexes its own copy of the lane.
                s.control[h][j][b] = static_cast<int8_t>(here ? n % 8 + kHalf[n / 8] : 0x80);
            }
    return s;
}
constexpr ZigzagShuffles kZigzagShuffles = makeZigzagShuffles();

#define LUMO_AVX2_BMI2 __attribute__((target("avx2,bmi,bmi2")))

LUMO_AVX2_BMI2 inline uint64_t nonZeroByZigzagAvx2(const int16_t* block) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i z[4];
    for (int i = 0; i < 4; ++i) {
        // Two 16-byte loads: the transform stored the block in 16-byte rows, and a wider load
        // across two of them would wait for both stores to retire instead of forwarding.
        const __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8)), 1);
        z[i] = _mm256_cmpeq_epi16(v, zero);
    }
    const __m256i first = _mm256_packs_epi16(z[0], z[1]);   // lanes 0 | 1
    const __m256i second = _mm256_packs_epi16(z[2], z[3]);  // lanes 2 | 3
    const __m256i lanes[4] = {
        _mm256_permute2x128_si256(first, first, 0x00),
        _mm256_permute2x128_si256(first, first, 0x11),
        _mm256_permute2x128_si256(second, second, 0x00),
        _mm256_permute2x128_si256(second, second, 0x11),
    };
    uint64_t zeros = 0;
    for (int h = 0; h < 2; ++h) {
        __m256i flags = _mm256_setzero_si256();
        for (int j = 0; j < 4; ++j) {
            const __m256i control =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(kZigzagShuffles.control[h][j]));
            flags = _mm256_or_si256(flags, _mm256_shuffle_epi8(lanes[j], control));
        }
        zeros |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(flags))} << (32 * h);
    }
    return ~zeros;
}

}  // namespace

void encodeBlockSse2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable) {
    encodeBlockWide(block, zigzagMaskOf(nonZeroByIndexSse2(block)), output, cursor, dcPredictor,
                    dcTable, acTable);
}

// Compiled for BMI2 too (flag-free variable shifts); the kernel table asks for both.
LUMO_AVX2_BMI2 void encodeBlockAvx2(const int16_t* block, uint8_t* output, uint32_t* cursor,
                                    int16_t* dcPredictor, const uint32_t* dcTable,
                                    const uint32_t* acTable) {
    encodeBlockWide(block, nonZeroByZigzagAvx2(block), output, cursor, dcPredictor, dcTable,
                    acTable);
}

#endif
