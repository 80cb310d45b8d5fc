// Block rotations. The reference turns in place by exchanging four samples at a time (the four
// positions one quarter turn carries into each other); a distinct destination gets a copy first.
#include "jpeg/rotate_block.h"

#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>

#include "jpeg/transpose_sse2.h"
#endif

namespace {

// Cycles the four samples of each quarter-turn orbit (i, j), (j, 7 - i), (7 - i, 7 - j),
// (7 - j, i) one step, in the direction the turn asks for.
template <bool Clockwise>
void turnInPlace(int16_t* b) {
    for (int i = 0; i < 4; ++i) {
        for (int j = i; j < 7 - i; ++j) {
            int16_t& p0 = b[i * 8 + j];
            int16_t& p1 = b[j * 8 + (7 - i)];
            int16_t& p2 = b[(7 - i) * 8 + (7 - j)];
            int16_t& p3 = b[(7 - j) * 8 + i];
            const int16_t t = p0;
            if (Clockwise) {  // out(i, j) = in(7 - j, i)
                p0 = p3;
                p3 = p2;
                p2 = p1;
                p1 = t;
            } else {  // out(i, j) = in(j, 7 - i)
                p0 = p1;
                p1 = p2;
                p2 = p3;
                p3 = t;
            }
        }
    }
}

}  // namespace

void rotateBlock90(int16_t* destination, const int16_t* source) {
    if (destination != source) std::memcpy(destination, source, 64 * sizeof(int16_t));
    turnInPlace<false>(destination);
}

void rotateBlock180(int16_t* destination, const int16_t* source) {
    if (destination != source) std::memcpy(destination, source, 64 * sizeof(int16_t));
    for (int k = 0; k < 32; ++k) {
        const int16_t t = destination[k];
        destination[k] = destination[63 - k];
        destination[63 - k] = t;
    }
}

void rotateBlock270(int16_t* destination, const int16_t* source) {
    if (destination != source) std::memcpy(destination, source, 64 * sizeof(int16_t));
    turnInPlace<true>(destination);
}

#if defined(__x86_64__)

namespace {

void loadRows(const int16_t* s, __m128i r[8]) {
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * i));
}

__m128i reverseLanes(__m128i v) {
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
}

void storeRow(int16_t* d, int i, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8 * i), v);
}

}  // namespace

void rotateBlock90Sse2(int16_t* destination, const int16_t* source) {
    __m128i r[8], c[8];
    loadRows(source, r);
    transpose8x8Epi16(r, c);
    for (int i = 0; i < 8; ++i) storeRow(destination, i, c[7 - i]);  // row i = column 7 - i
}

void rotateBlock180Sse2(int16_t* destination, const int16_t* source) {
    __m128i r[8];
    loadRows(source, r);
    for (int i = 0; i < 8; ++i) storeRow(destination, i, reverseLanes(r[7 - i]));
}

void rotateBlock270Sse2(int16_t* destination, const int16_t* source) {
    __m128i r[8], c[8];
    loadRows(source, r);
    transpose8x8Epi16(r, c);
    for (int i = 0; i < 8; ++i) storeRow(destination, i, reverseLanes(c[i]));  // column i, upward
}

#endif
