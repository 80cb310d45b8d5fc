// AVX2 variants of the sampling kernels (arithmetic in sample.h), on 16-bit lanes: one register
// holds a whole 16-pixel output line, the left block's eight samples in the low half and the
// right block's in the high half. The operations are those of sample_sse2.cpp; the in-lane packs
// and unpacks of AVX2 interleave the two halves, and one 64-bit permute (0xD8: chunks 0, 2, 1, 3)
// puts them back in order. Bgr24 pixels are gathered with byte shuffles.
#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/kernels.h"
#include "jpeg/rotate_block.h"
#include "jpeg/sample.h"

#if defined(__x86_64__)
#include <immintrin.h>

#define LUMO_AVX2 __attribute__((target("avx2")))

namespace {

constexpr int kChunkOrder = 0xD8;  // 64-bit chunks 0, 2, 1, 3

struct UyvyLine {
    __m256i y;  // pixels 0..7 | 8..15; 0..255
    __m256i c;  // (Cb, Cr) of pairs 0..3 | 4..7
};

struct RgbLine {
    __m256i r, g, b;  // pixels 0..7 | 8..15; widened to 0..255
};

LUMO_AVX2 inline __m256i load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
LUMO_AVX2 inline void store(int16_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
LUMO_AVX2 inline __m256i lowWords() {
    return _mm256_set1_epi32(0x0000FFFF);
}
LUMO_AVX2 inline __m256i levelShift(__m256i v) {
    return _mm256_sub_epi16(v, _mm256_set1_epi16(128));
}

// Rounded average of each lane pair (2i, 2i + 1): sixteen results from two vectors, in order.
LUMO_AVX2 inline __m256i halvePairs(__m256i a, __m256i b) {
    const __m256i ha = _mm256_and_si256(_mm256_avg_epu16(a, _mm256_srli_epi32(a, 16)), lowWords());
    const __m256i hb = _mm256_and_si256(_mm256_avg_epu16(b, _mm256_srli_epi32(b, 16)), lowWords());
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(ha, hb), kChunkOrder);
}

// Chroma of neighbouring source pairs averaged; the two output pairs of each 128-bit half land in
// its low 64 bits.
LUMO_AVX2 inline __m256i halveChroma(__m256i v) {
    const __m256i c = _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
    const __m256i averaged = _mm256_avg_epu16(c, _mm256_srli_epi64(c, 32));
    return _mm256_shuffle_epi32(averaged, _MM_SHUFFLE(3, 1, 2, 0));
}

template <uint32_t Scale>
LUMO_AVX2 inline UyvyLine fetchUyvyLine(const uint8_t* source, uint32_t stride, uint32_t row) {
    UyvyLine line;
    if constexpr (Scale == 1) {
        const __m256i v = load(source + row * stride);
        line.y = _mm256_srli_epi16(v, 8);
        line.c = _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* b = a + stride;
        const __m256i p = _mm256_avg_epu8(load(a), load(b));            // source pixels 0..15
        const __m256i q = _mm256_avg_epu8(load(a + 32), load(b + 32));  // source pixels 16..31
        line.y = halvePairs(_mm256_srli_epi16(p, 8), _mm256_srli_epi16(q, 8));
        line.c = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(halveChroma(p), halveChroma(q)),
                                          kChunkOrder);
    }
    return line;
}

template <SourcePixelFormat Format>
LUMO_AVX2 inline void widen16(const uint8_t* s, __m256i& r, __m256i& g, __m256i& b) {
    if constexpr (Format == Bgr24) {
        // Eight pixels per half: bytes 0..15 and 16..23 of each 24-byte group.
        const __m256i lo = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 24)), 1);
        const __m256i hi = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 16))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 40)), 1);
        const int8_t z = -128;  // shuffle index with the top bit set: a zero byte
        const __m256i rLo = _mm256_setr_epi8(2, z, 5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z, 2, z,
                                             5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z);
        const __m256i rHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, 1, z, 4, z, 7, z, z, z,
                                             z, z, z, z, z, z, z, z, 1, z, 4, z, 7, z);
        const __m256i gLo = _mm256_setr_epi8(1, z, 4, z, 7, z, 10, z, 13, z, z, z, z, z, z, z, 1, z,
                                             4, z, 7, z, 10, z, 13, z, z, z, z, z, z, z);
        const __m256i gHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, 0, z, 3, z, 6, z, z, z,
                                             z, z, z, z, z, z, z, z, 0, z, 3, z, 6, z);
        const __m256i bLo = _mm256_setr_epi8(0, z, 3, z, 6, z, 9, z, 12, z, 15, z, z, z, z, z, 0, z,
                                             3, z, 6, z, 9, z, 12, z, 15, z, z, z, z, z);
        const __m256i bHi = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, 2, z, 5, z, z, z,
                                             z, z, z, z, z, z, z, z, z, z, 2, z, 5, z);
        r = _mm256_or_si256(_mm256_shuffle_epi8(lo, rLo), _mm256_shuffle_epi8(hi, rHi));
        g = _mm256_or_si256(_mm256_shuffle_epi8(lo, gLo), _mm256_shuffle_epi8(hi, gHi));
        b = _mm256_or_si256(_mm256_shuffle_epi8(lo, bLo), _mm256_shuffle_epi8(hi, bHi));
    } else {
        const __m256i w = load(s);
        const __m256i five = _mm256_set1_epi16(31);
        if constexpr (Format == Rgb565) {
            r = _mm256_slli_epi16(_mm256_srli_epi16(w, 11), 3);
            g = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(w, 5), _mm256_set1_epi16(63)),
                                  2);
        } else {
            r = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(w, 10), five), 3);
            g = _mm256_slli_epi16(_mm256_and_si256(_mm256_srli_epi16(w, 5), five), 3);
        }
        b = _mm256_slli_epi16(_mm256_and_si256(w, five), 3);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
LUMO_AVX2 inline RgbLine fetchRgbLine(const uint8_t* source, uint32_t stride, uint32_t row) {
    constexpr uint32_t bpp = bytesPerPixel(Format);
    RgbLine line;
    if constexpr (Scale == 1) {
        widen16<Format>(source + row * stride, line.r, line.g, line.b);
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* bl = a + stride;
        __m256i r[2], g[2], b[2];
        for (int k = 0; k < 2; ++k) {
            __m256i r1, g1, b1;
            widen16<Format>(a + 16 * k * bpp, r[k], g[k], b[k]);
            widen16<Format>(bl + 16 * k * bpp, r1, g1, b1);
            r[k] = _mm256_avg_epu16(r[k], r1);
            g[k] = _mm256_avg_epu16(g[k], g1);
            b[k] = _mm256_avg_epu16(b[k], b1);
        }
        line.r = halvePairs(r[0], r[1]);
        line.g = halvePairs(g[0], g[1]);
        line.b = halvePairs(b[0], b[1]);
    }
    return line;
}

// Y = ((77 R + 150 G + 29 B) >> 8) - 128; the sum fits 16 unsigned bits.
LUMO_AVX2 inline __m256i rgbLuma(const RgbLine& p) {
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(p.r, _mm256_set1_epi16(kYr)),
                                          _mm256_mullo_epi16(p.g, _mm256_set1_epi16(kYg))),
                         _mm256_mullo_epi16(p.b, _mm256_set1_epi16(kYb)));
    return levelShift(_mm256_srli_epi16(sum, 8));
}

// Cb | Cr of eight horizontal pairs, shifted right by `Shift` = 8 + k.
template <int Shift>
LUMO_AVX2 inline __m256i rgbChroma(__m256i r, __m256i g, __m256i b) {
    const __m256i cb =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(b, _mm256_set1_epi16(kCbB)),
                                          _mm256_madd_epi16(g, _mm256_set1_epi16(-kCbG))),
                         _mm256_madd_epi16(r, _mm256_set1_epi16(-kCbR)));
    const __m256i cr =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(r, _mm256_set1_epi16(kCrR)),
                                          _mm256_madd_epi16(g, _mm256_set1_epi16(-kCrG))),
                         _mm256_madd_epi16(b, _mm256_set1_epi16(-kCrB)));
    return _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(cb, Shift), _mm256_srai_epi32(cr, Shift)),
        kChunkOrder);
}

// (Cb, Cr) pairs to Cb | Cr rows, level-shifted.
LUMO_AVX2 inline __m256i splitChroma(__m256i c) {
    const __m256i packed =
        _mm256_packs_epi32(_mm256_and_si256(c, lowWords()), _mm256_srli_epi32(c, 16));
    return levelShift(_mm256_permute4x64_epi64(packed, kChunkOrder));
}

// Two lines' luma (left | right each) into rows `row` and `row + 1` of both blocks.
LUMO_AVX2 inline void storeLumaRows(__m256i first, __m256i second, int16_t* luma, uint32_t row) {
    first = levelShift(first);
    second = levelShift(second);
    store(luma + row * 8, _mm256_permute2x128_si256(first, second, 0x20));
    store(luma + 64 + row * 8, _mm256_permute2x128_si256(first, second, 0x31));
}

// Two rows of Cb | Cr into rows `row` and `row + 1` of both chroma blocks.
LUMO_AVX2 inline void storeChromaRows(__m256i first, __m256i second, int16_t* cb, int16_t* cr,
                                      uint32_t row) {
    store(cb + row * 8, _mm256_permute2x128_si256(first, second, 0x20));
    store(cr + row * 8, _mm256_permute2x128_si256(first, second, 0x31));
}

template <uint32_t Scale>
LUMO_AVX2 void sampleUyvy422Avx2(const uint8_t* source, uint32_t stride, int16_t* luma,
                                 int16_t* chroma) {
    for (uint32_t row = 0; row < 8; row += 2) {
        const UyvyLine first = fetchUyvyLine<Scale>(source, stride, row);
        const UyvyLine second = fetchUyvyLine<Scale>(source, stride, row + 1);
        storeLumaRows(first.y, second.y, luma, row);
        storeChromaRows(splitChroma(first.c), splitChroma(second.c), chroma, chroma + 64, row);
    }
}

template <uint32_t Scale>
LUMO_AVX2 void sampleUyvy420HalfAvx2(const uint8_t* source, uint32_t stride, int16_t* luma,
                                     int16_t* chroma) {
    __m256i c[4];
    for (uint32_t pair = 0; pair < 4; ++pair) {
        const UyvyLine even = fetchUyvyLine<Scale>(source, stride, 2 * pair);
        const UyvyLine odd = fetchUyvyLine<Scale>(source, stride, 2 * pair + 1);
        storeLumaRows(even.y, odd.y, luma, 2 * pair);
        c[pair] = splitChroma(_mm256_avg_epu16(even.c, odd.c));
    }
    storeChromaRows(c[0], c[1], chroma, chroma + 64, 0);
    storeChromaRows(c[2], c[3], chroma, chroma + 64, 2);
}

template <SourcePixelFormat Format, uint32_t Scale>
LUMO_AVX2 void sampleRgb422Avx2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb,
                                int16_t* cr) {
    for (uint32_t row = 0; row < 8; row += 2) {
        const RgbLine first = fetchRgbLine<Format, Scale>(source, stride, row);
        const RgbLine second = fetchRgbLine<Format, Scale>(source, stride, row + 1);
        store(luma + row * 8, _mm256_permute2x128_si256(rgbLuma(first), rgbLuma(second), 0x20));
        store(luma + 64 + row * 8,
              _mm256_permute2x128_si256(rgbLuma(first), rgbLuma(second), 0x31));
        storeChromaRows(rgbChroma<9>(first.r, first.g, first.b),
                        rgbChroma<9>(second.r, second.g, second.b), cb, cr, row);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
LUMO_AVX2 void sampleRgb420Avx2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb,
                                int16_t* cr) {
    __m256i c[8];
    for (uint32_t pair = 0; pair < 8; ++pair) {
        const RgbLine even = fetchRgbLine<Format, Scale>(source, stride, 2 * pair);
        const RgbLine odd = fetchRgbLine<Format, Scale>(source, stride, 2 * pair + 1);
        const uint32_t row = 2 * pair;  // rows 0..7 in the top blocks, 8..15 in the bottom ones
        int16_t* top = luma + (row >> 3) * 128 + (row & 7) * 8;
        const __m256i ye = rgbLuma(even), yo = rgbLuma(odd);
        store(top, _mm256_permute2x128_si256(ye, yo, 0x20));
        store(top + 64, _mm256_permute2x128_si256(ye, yo, 0x31));
        c[pair] = rgbChroma<10>(_mm256_add_epi16(even.r, odd.r), _mm256_add_epi16(even.g, odd.g),
                                _mm256_add_epi16(even.b, odd.b));
    }
    for (uint32_t pair = 0; pair < 8; pair += 2)
        storeChromaRows(c[pair], c[pair + 1], cb, cr, pair);
}

template <SourcePixelFormat Format, uint32_t Scale>
LUMO_AVX2 void sampleLumaAvx2(const uint8_t* source, uint32_t stride, int16_t* luma) {
    for (uint32_t row = 0; row < 8; row += 2) {
        if constexpr (Format == Uyvy) {
            storeLumaRows(fetchUyvyLine<Scale>(source, stride, row).y,
                          fetchUyvyLine<Scale>(source, stride, row + 1).y, luma, row);
        } else {
            const __m256i first = rgbLuma(fetchRgbLine<Format, Scale>(source, stride, row));
            const __m256i second = rgbLuma(fetchRgbLine<Format, Scale>(source, stride, row + 1));
            store(luma + row * 8, _mm256_permute2x128_si256(first, second, 0x20));
            store(luma + 64 + row * 8, _mm256_permute2x128_si256(first, second, 0x31));
        }
    }
}

}  // namespace

const JpegKernels kAvx2JpegKernels = {
    .name = "avx2",
    .uyvy422 = {sampleUyvy422Avx2<1>, sampleUyvy422Avx2<2>},
    .uyvy420 = {sampleUyvy420HalfAvx2<1>, sampleUyvy420HalfAvx2<2>},
    .rgb422 = {{sampleRgb422Avx2<Bgr24, 1>, sampleRgb422Avx2<Bgr24, 2>},
               {sampleRgb422Avx2<Rgb565, 1>, sampleRgb422Avx2<Rgb565, 2>},
               {sampleRgb422Avx2<Rgb555, 1>, sampleRgb422Avx2<Rgb555, 2>}},
    .rgb420 = {{sampleRgb420Avx2<Bgr24, 1>, sampleRgb420Avx2<Bgr24, 2>},
               {sampleRgb420Avx2<Rgb565, 1>, sampleRgb420Avx2<Rgb565, 2>},
               {sampleRgb420Avx2<Rgb555, 1>, sampleRgb420Avx2<Rgb555, 2>}},
    .luma = {{sampleLumaAvx2<Bgr24, 1>, sampleLumaAvx2<Bgr24, 2>},
             {sampleLumaAvx2<Rgb565, 1>, sampleLumaAvx2<Rgb565, 2>},
             {sampleLumaAvx2<Rgb555, 1>, sampleLumaAvx2<Rgb555, 2>},
             {sampleLumaAvx2<Uyvy, 1>, sampleLumaAvx2<Uyvy, 2>}},
    .fdct = forwardDctQuantizeAvx2,
    .fdctPair = forwardDctQuantizePairAvx2,
    .encodeBlock = encodeBlockAvx2,
    .transformCode = transformCodeAvx2,
    .rotate = {rotateBlock90Sse2, rotateBlock180Sse2, rotateBlock270Sse2},
};

#endif
