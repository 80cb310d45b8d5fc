// Vector variants of encodeBlock: compares against zero find the non-zero coefficients of the
// whole block at once, the flags are put in zigzag order, and encodeBlockWide codes only those
// coefficients, with the sizes and extra bits the same vectors computed for the whole block.
//
// Extra bits and size of a coefficient v without a branch or a bit scan: with s the sign
// (0 or -1), |v| = (v ^ s) - s (one instruction in AVX2) and the mask m = |v| smeared right (all
// ones below its top bit, 2^size - 1). The extra bits are |v| ^ (s & m): |v| itself, or for
// negative v its complement within size bits, which is the low size bits of v - 1. The size is the
// population count of m. The fused AVX2 kernel skips the mask: it reads the size from the exponent
// of |v| in single precision and leaves v + s for the coder to cut to size bits.
//
// SSE2 has no byte shuffle: it builds the mask by block index and moves each byte's bits to
// their zigzag positions with a table. AVX2 packs the 64 compare results to bytes and puts them in
// zigzag order with eight in-lane byte shuffles (each output byte picks its flag from whichever of
// the four 16-byte source lanes holds it), then reads the mask with two byte-sign moves.
//
// The loops over a block's vectors are unrolled by request: rolled, GCC keeps the intermediate
// vectors on the stack and pays a store, a load and the loop counter for each.
#include "jpeg/huffman.h"
#include "jpeg/huffman_wide.h"
#include "jpeg/kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "jpeg/fdct_avx2.h"

namespace {

// The smeared magnitude mask and the extra bits of eight coefficients.
inline void maskAndBitsSse2(__m128i v, __m128i* mask, __m128i* bits) {
    const __m128i sign = _mm_srai_epi16(v, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
    __m128i m = _mm_or_si128(magnitude, _mm_srli_epi16(magnitude, 1));
    m = _mm_or_si128(m, _mm_srli_epi16(m, 2));
    m = _mm_or_si128(m, _mm_srli_epi16(m, 4));
    m = _mm_or_si128(m, _mm_srli_epi16(m, 8));
    *mask = m;
    *bits = _mm_xor_si128(magnitude, _mm_and_si128(sign, m));
}

// Population count of each 16-bit lane (at most 16), by bit pairs, nibbles and bytes.
inline __m128i popcount16Sse2(__m128i x) {
    x = _mm_sub_epi16(x, _mm_and_si128(_mm_srli_epi16(x, 1), _mm_set1_epi16(0x5555)));
    x = _mm_add_epi16(_mm_and_si128(x, _mm_set1_epi16(0x3333)),
                      _mm_and_si128(_mm_srli_epi16(x, 2), _mm_set1_epi16(0x3333)));
    x = _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(x, 4)), _mm_set1_epi16(0x0f0f));
    return _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), _mm_set1_epi16(0x001f));
}

// Fills `coded` and returns the non-zero coefficients by block index.
uint64_t codeBlockSse2(const int16_t* block, BlockBits* coded) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t zeros = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 4; ++i) {
        __m128i v[2];
#pragma GCC unroll 8
        for (int h = 0; h < 2; ++h) {
            const int at = 16 * i + 8 * h;
            v[h] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + at));
            __m128i mask, bits;
            maskAndBitsSse2(v[h], &mask, &bits);
            _mm_store_si128(reinterpret_cast<__m128i*>(coded->size + at), popcount16Sse2(mask));
            _mm_store_si128(reinterpret_cast<__m128i*>(coded->bits + at), bits);
        }
        const __m128i packed =
            _mm_packs_epi16(_mm_cmpeq_epi16(v[0], zero), _mm_cmpeq_epi16(v[1], zero));
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

// The smeared magnitude mask and the extra bits of sixteen coefficients.
LUMO_AVX2_BMI2 inline void maskAndBitsAvx2(__m256i v, __m256i* mask, __m256i* bits) {
    const __m256i sign = _mm256_srai_epi16(v, 15);
    const __m256i magnitude = _mm256_abs_epi16(v);
    __m256i m = _mm256_or_si256(magnitude, _mm256_srli_epi16(magnitude, 1));
    m = _mm256_or_si256(m, _mm256_srli_epi16(m, 2));
    m = _mm256_or_si256(m, _mm256_srli_epi16(m, 4));
    m = _mm256_or_si256(m, _mm256_srli_epi16(m, 8));
    *mask = m;
    *bits = _mm256_xor_si256(magnitude, _mm256_and_si256(sign, m));
}

// Population count of each 16-bit lane: a nibble table per byte, then the two bytes summed.
LUMO_AVX2_BMI2 inline __m256i popcount16Avx2(__m256i x) {
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                           2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i low = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble));
    const __m256i high =
        _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
    return _mm256_maddubs_epi16(_mm256_add_epi8(low, high), _mm256_set1_epi8(1));
}

// The fused kernel's sizes without the smeared mask: |v| converted to single precision has the
// biased exponent 127 + floor(log2 |v|), so size = exponent - 126 (saturating: 0 stays 0); exact,
// since every 16-bit magnitude is a single-precision number. The extra bits are left untruncated,
// v + s (v, or v - 1 for negative v), for the coder to keep the low size bits.
LUMO_AVX2_BMI2 inline __m256i sizeAvx2(__m256i magnitude) {
    constexpr int kMantissaBits = 23;
    constexpr int kExponentBiasMinusOne = 126;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low =
        _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(magnitude, zero)));
    const __m256i high =
        _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(magnitude, zero)));
    // The in-lane unpacks and the pack undo each other's order.
    const __m256i exponent = _mm256_packus_epi32(_mm256_srli_epi32(low, kMantissaBits),
                                                 _mm256_srli_epi32(high, kMantissaBits));
    return _mm256_subs_epu16(exponent, _mm256_set1_epi16(kExponentBiasMinusOne));
}

// The 64 flag bytes of four lanes (each copied to both halves) gathered by `table` into one bit
// per zigzag position: bit k is the top bit of the flag byte table.control[k / 32][j] picks.
LUMO_AVX2_BMI2 inline uint64_t gatherByZigzag(const __m256i lanes[4], const ZigzagShuffles& table) {
    uint64_t gathered = 0;
#pragma GCC unroll 8
    for (int h = 0; h < 2; ++h) {
        __m256i flags = _mm256_setzero_si256();
#pragma GCC unroll 8
        for (int j = 0; j < 4; ++j) {
            const __m256i control =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(table.control[h][j]));
            flags = _mm256_or_si256(flags, _mm256_shuffle_epi8(lanes[j], control));
        }
        gathered |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(flags))} << (32 * h);
    }
    return gathered;
}

// Fills `coded` and returns the non-zero coefficients by zigzag position.
LUMO_AVX2_BMI2 inline uint64_t codeBlockAvx2(const int16_t* block, BlockBits* coded) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i z[4];
#pragma GCC unroll 8
    for (int i = 0; i < 4; ++i) {
        // Two 16-byte loads: the transform stored the block in 16-byte rows, and a wider load
        // across two of them would wait for both stores to retire instead of forwarding.
        const __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8)), 1);
        z[i] = _mm256_cmpeq_epi16(v, zero);
        __m256i mask, bits;
        maskAndBitsAvx2(v, &mask, &bits);
        _mm256_store_si256(reinterpret_cast<__m256i*>(coded->size + 16 * i), popcount16Avx2(mask));
        _mm256_store_si256(reinterpret_cast<__m256i*>(coded->bits + 16 * i), bits);
    }
    const __m256i first = _mm256_packs_epi16(z[0], z[1]);   // lanes 0 | 1
    const __m256i second = _mm256_packs_epi16(z[2], z[3]);  // lanes 2 | 3
    const __m256i lanes[4] = {
        _mm256_permute2x128_si256(first, first, 0x00),
        _mm256_permute2x128_si256(first, first, 0x11),
        _mm256_permute2x128_si256(second, second, 0x00),
        _mm256_permute2x128_si256(second, second, 0x11),
    };
    return ~gatherByZigzag(lanes, kZigzagShuffles);
}

// The fused kernel's layout of a transformed pair: row v (16 entries) holds frequency v of the
// first block (u = 0..7) and then of the second, as the quantised vectors have them.
struct PairBits {
    alignas(32) uint16_t size[128];
    alignas(32) uint16_t bits[128];
};
constexpr int kPairRow = 16;

// For zigzag position k, the place of its coefficient in a PairBits array for the first block;
// the second block's is 8 further.
constexpr ReadOrder kPairOrder = [] {
    ReadOrder order{};
    for (int k = 0; k < 64; ++k) {
        const int n = kReadOrder.index[k];
        order.index[k] = static_cast<uint8_t>(n / 8 * kPairRow + n % 8);
    }
    return order;
}();

// The packed zero flags of a pair: packs of vectors 2i and 2i + 1 leave flags 16i..16i+15 of the
// first block in the low 16-byte lane and of the second in the high lane. Shuffle controls for
// output half h (zigzag positions 32h..32h+31) from lane i (flags 16i..16i+15, copied to both
// halves): the byte each output byte takes, or 0x80 where its flag lies in another lane.
constexpr ZigzagShuffles makePairShuffles() {
    ZigzagShuffles s{};
    for (int h = 0; h < 2; ++h)
        for (int j = 0; j < 4; ++j)
            for (int b = 0; b < 32; ++b) {
                const int n = kReadOrder.index[32 * h + b];
                s.control[h][j][b] = static_cast<int8_t>(n / 16 == j ? n % 16 : 0x80);
            }
    return s;
}
constexpr ZigzagShuffles kPairShuffles = makePairShuffles();

// The zero flags of one block of the pair (Second: the high lanes) by zigzag position.
template <bool Second>
LUMO_AVX2_BMI2 inline uint64_t pairZeros(const __m256i packed[4]) {
    constexpr int kSelect = Second ? 0x11 : 0x00;  // both halves from the high or the low lane
    __m256i lanes[4];
#pragma GCC unroll 8
    for (int j = 0; j < 4; ++j) lanes[j] = _mm256_permute2x128_si256(packed[j], packed[j], kSelect);
    return gatherByZigzag(lanes, kPairShuffles);
}

}  // namespace

void encodeBlockSse2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable) {
    BlockBits coded;
    const uint64_t nonZero = zigzagMaskOf(codeBlockSse2(block, &coded));
    encodeBlockWide(block, nonZero, coded, output, cursor, dcPredictor, dcTable, acTable);
}

// Compiled for BMI2 too (flag-free variable shifts); the kernel table asks for both.
LUMO_AVX2_BMI2 void encodeBlockAvx2(const int16_t* block, uint8_t* output, uint32_t* cursor,
                                    int16_t* dcPredictor, const uint32_t* dcTable,
                                    const uint32_t* acTable) {
    BlockBits coded;
    const uint64_t nonZero = codeBlockAvx2(block, &coded);
    encodeBlockWide(block, nonZero, coded, output, cursor, dcPredictor, dcTable, acTable);
}

// The sizes, extra bits and zigzag masks come from the quantised vectors while they are still in
// registers; the two blocks are then coded one after the other into one packer, which stays open
// from the first job to the last.
LUMO_AVX2_BMI2 void transformCodeAvx2(const BlockJob* jobs, uint32_t count, uint8_t* output,
                                      uint32_t* cursor) {
    WidePacker packer = openPacker(output, *cursor);
    for (uint32_t j = 0; j + 1 < count; j += 2) {
        const ComponentCoding& first = *jobs[j].coding;
        const ComponentCoding& second = *jobs[j + 1].coding;
        __m256i q[8];
        quantizePairAvx2(jobs[j].block, first.reciprocals, jobs[j + 1].block, second.reciprocals,
                         q);
        PairBits coded;
        const __m256i zero = _mm256_setzero_si256();
        __m256i packed[4];
#pragma GCC unroll 8
        for (int v = 0; v < 8; ++v) {
            const __m256i sign = _mm256_srai_epi16(q[v], 15);
            _mm256_store_si256(reinterpret_cast<__m256i*>(coded.size + kPairRow * v),
                               sizeAvx2(_mm256_abs_epi16(q[v])));
            _mm256_store_si256(reinterpret_cast<__m256i*>(coded.bits + kPairRow * v),
                               _mm256_add_epi16(q[v], sign));
        }
#pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
            packed[i] = _mm256_packs_epi16(_mm256_cmpeq_epi16(q[2 * i], zero),
                                           _mm256_cmpeq_epi16(q[2 * i + 1], zero));
        const uint64_t firstNonZero = ~pairZeros<false>(packed);
        const uint64_t secondNonZero = ~pairZeros<true>(packed);
        const auto firstDc = static_cast<int16_t>(_mm256_extract_epi16(q[0], 0));
        const auto secondDc = static_cast<int16_t>(_mm256_extract_epi16(q[0], 8));
        appendBlock<true>(packer, firstDc, firstNonZero, coded.size, coded.bits, kPairOrder.index,
                          first.dcPredictor, first.dcTable, first.acTable);
        appendBlock<true>(packer, secondDc, secondNonZero, coded.size + 8, coded.bits + 8,
                          kPairOrder.index, second.dcPredictor, second.dcTable, second.acTable);
    }
    closePacker(packer, output, cursor);
}

#endif
