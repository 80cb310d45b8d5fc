// SSE2 variants of the sampling kernels (arithmetic in sample.h), on 16-bit lanes.
//
// Every kernel first fetches one output line of 16 pixels into registers, then converts it:
// - Uyvy lines: luma as two vectors of eight pixels, chroma as two vectors of four (Cb, Cr)
//   pairs. Scale 2 averages the two source lines byte by byte (pavgb is the rounded
//   (a + b + 1) >> 1 of the reference), then averages horizontal neighbours (pavgw) and packs.
// - RGB lines: widened R, G, B as two vectors of eight pixels each.
// The luma equation fits 16 unsigned bits exactly (at most 255 x 256), so wrapping 16-bit
// multiplies and adds give the reference's value before the logical shift. The chroma sums need
// 17 bits and go through pmaddwd, which also adds the horizontal pair for free.
#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/kernels.h"
#include "jpeg/rotate_block.h"
#include "jpeg/sample.h"

#if defined(__x86_64__)
#include <emmintrin.h>

namespace {

struct UyvyLine {
    __m128i y[2];  // pixels 0..7, 8..15; 0..255
    __m128i c[2];  // (Cb, Cr) of pairs 0..3, 4..7
};

struct RgbLine {
    __m128i r[2], g[2], b[2];  // pixels 0..7, 8..15; widened to 0..255
};

inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(int16_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline __m128i lowWords() {
    return _mm_set1_epi32(0x0000FFFF);
}

// Rounded average of each lane pair (2i, 2i + 1), packed: eight results from two vectors.
inline __m128i halvePairs(__m128i a, __m128i b) {
    const __m128i ha = _mm_and_si128(_mm_avg_epu16(a, _mm_srli_epi32(a, 16)), lowWords());
    const __m128i hb = _mm_and_si128(_mm_avg_epu16(b, _mm_srli_epi32(b, 16)), lowWords());
    return _mm_packs_epi32(ha, hb);
}

// Four source pixel pairs (16 Uyvy bytes, lines already averaged) to two output pairs: luma of
// the two pixels of each source pair, chroma of neighbouring source pairs.
inline __m128i halveChroma(__m128i v) {
    const __m128i c = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
    const __m128i averaged = _mm_avg_epu16(c, _mm_srli_epi64(c, 32));
    return _mm_shuffle_epi32(averaged, _MM_SHUFFLE(3, 1, 2, 0));  // pairs in the low 64 bits
}

template <uint32_t Scale>
inline UyvyLine fetchUyvyLine(const uint8_t* source, uint32_t stride, uint32_t row) {
    UyvyLine line;
    if constexpr (Scale == 1) {
        const uint8_t* s = source + row * stride;
        const __m128i v0 = load(s), v1 = load(s + 16);
        line.y[0] = _mm_srli_epi16(v0, 8);
        line.y[1] = _mm_srli_epi16(v1, 8);
        line.c[0] = _mm_and_si128(v0, _mm_set1_epi16(0x00FF));
        line.c[1] = _mm_and_si128(v1, _mm_set1_epi16(0x00FF));
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* b = a + stride;
        __m128i v[4];
        for (int k = 0; k < 4; ++k) v[k] = _mm_avg_epu8(load(a + 16 * k), load(b + 16 * k));
        for (int h = 0; h < 2; ++h) {
            const __m128i p = v[2 * h], q = v[2 * h + 1];
            line.y[h] = halvePairs(_mm_srli_epi16(p, 8), _mm_srli_epi16(q, 8));
            line.c[h] = _mm_unpacklo_epi64(halveChroma(p), halveChroma(q));
        }
    }
    return line;
}

template <SourcePixelFormat Format>
inline void widen8(const uint8_t* s, __m128i& r, __m128i& g, __m128i& b) {
    if constexpr (Format == Bgr24) {
        r = _mm_setr_epi16(s[2], s[5], s[8], s[11], s[14], s[17], s[20], s[23]);
        g = _mm_setr_epi16(s[1], s[4], s[7], s[10], s[13], s[16], s[19], s[22]);
        b = _mm_setr_epi16(s[0], s[3], s[6], s[9], s[12], s[15], s[18], s[21]);
    } else {
        const __m128i w = load(s);
        const __m128i five = _mm_set1_epi16(31);
        if constexpr (Format == Rgb565) {
            r = _mm_slli_epi16(_mm_srli_epi16(w, 11), 3);
            g = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 5), _mm_set1_epi16(63)), 2);
        } else {
            r = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 10), five), 3);
            g = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 5), five), 3);
        }
        b = _mm_slli_epi16(_mm_and_si128(w, five), 3);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
inline RgbLine fetchRgbLine(const uint8_t* source, uint32_t stride, uint32_t row) {
    constexpr uint32_t bpp = bytesPerPixel(Format);
    RgbLine line;
    if constexpr (Scale == 1) {
        const uint8_t* s = source + row * stride;
        for (int h = 0; h < 2; ++h)
            widen8<Format>(s + 8 * h * bpp, line.r[h], line.g[h], line.b[h]);
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* bl = a + stride;
        __m128i r[4], g[4], b[4];
        for (int k = 0; k < 4; ++k) {
            __m128i r1, g1, b1;
            widen8<Format>(a + 8 * k * bpp, r[k], g[k], b[k]);
            widen8<Format>(bl + 8 * k * bpp, r1, g1, b1);
            r[k] = _mm_avg_epu16(r[k], r1);
            g[k] = _mm_avg_epu16(g[k], g1);
            b[k] = _mm_avg_epu16(b[k], b1);
        }
        for (int h = 0; h < 2; ++h) {
            line.r[h] = halvePairs(r[2 * h], r[2 * h + 1]);
            line.g[h] = halvePairs(g[2 * h], g[2 * h + 1]);
            line.b[h] = halvePairs(b[2 * h], b[2 * h + 1]);
        }
    }
    return line;
}

inline __m128i levelShift(__m128i v) {
    return _mm_sub_epi16(v, _mm_set1_epi16(128));
}

// Y = ((77 R + 150 G + 29 B) >> 8) - 128.
inline __m128i rgbLuma(__m128i r, __m128i g, __m128i b) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(kYr)),
                                                    _mm_mullo_epi16(g, _mm_set1_epi16(kYg))),
                                      _mm_mullo_epi16(b, _mm_set1_epi16(kYb)));
    return levelShift(_mm_srli_epi16(sum, 8));
}

// Cb and Cr of four horizontal pairs per vector (the pair sums come from pmaddwd), shifted right
// by `shift` = 8 + k; eight results from two vectors each.
inline void rgbChroma(const __m128i r[2], const __m128i g[2], const __m128i b[2], int shift,
                      __m128i& cb, __m128i& cr) {
    __m128i cbHalf[2], crHalf[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i cbSum =
            _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(b[h], _mm_set1_epi16(kCbB)),
                                        _mm_madd_epi16(g[h], _mm_set1_epi16(-kCbG))),
                          _mm_madd_epi16(r[h], _mm_set1_epi16(-kCbR)));
        const __m128i crSum =
            _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(r[h], _mm_set1_epi16(kCrR)),
                                        _mm_madd_epi16(g[h], _mm_set1_epi16(-kCrG))),
                          _mm_madd_epi16(b[h], _mm_set1_epi16(-kCrB)));
        const __m128i count = _mm_cvtsi32_si128(shift);
        cbHalf[h] = _mm_sra_epi32(cbSum, count);
        crHalf[h] = _mm_sra_epi32(crSum, count);
    }
    cb = _mm_packs_epi32(cbHalf[0], cbHalf[1]);
    cr = _mm_packs_epi32(crHalf[0], crHalf[1]);
}

// (Cb, Cr) pairs to a Cb row and a Cr row, level-shifted.
inline void storeChroma(const __m128i c[2], int16_t* cb, int16_t* cr) {
    store(cb, levelShift(_mm_packs_epi32(_mm_and_si128(c[0], lowWords()),
                                         _mm_and_si128(c[1], lowWords()))));
    store(cr, levelShift(_mm_packs_epi32(_mm_srli_epi32(c[0], 16), _mm_srli_epi32(c[1], 16))));
}

inline void storeLumaRow(const __m128i y[2], int16_t* luma, uint32_t row) {
    store(luma + row * 8, levelShift(y[0]));
    store(luma + 64 + row * 8, levelShift(y[1]));
}

template <uint32_t Scale>
void sampleUyvy422Sse2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma) {
    for (uint32_t row = 0; row < 8; ++row) {
        const UyvyLine line = fetchUyvyLine<Scale>(source, stride, row);
        storeLumaRow(line.y, luma, row);
        storeChroma(line.c, chroma + row * 8, chroma + 64 + row * 8);
    }
}

template <uint32_t Scale>
void sampleUyvy420HalfSse2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma) {
    for (uint32_t pair = 0; pair < 4; ++pair) {
        const UyvyLine even = fetchUyvyLine<Scale>(source, stride, 2 * pair);
        const UyvyLine odd = fetchUyvyLine<Scale>(source, stride, 2 * pair + 1);
        storeLumaRow(even.y, luma, 2 * pair);
        storeLumaRow(odd.y, luma, 2 * pair + 1);
        const __m128i c[2] = {_mm_avg_epu16(even.c[0], odd.c[0]),
                              _mm_avg_epu16(even.c[1], odd.c[1])};
        storeChroma(c, chroma + pair * 8, chroma + 64 + pair * 8);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb422Sse2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb,
                      int16_t* cr) {
    for (uint32_t row = 0; row < 8; ++row) {
        const RgbLine line = fetchRgbLine<Format, Scale>(source, stride, row);
        store(luma + row * 8, rgbLuma(line.r[0], line.g[0], line.b[0]));
        store(luma + 64 + row * 8, rgbLuma(line.r[1], line.g[1], line.b[1]));
        __m128i cbRow, crRow;
        rgbChroma(line.r, line.g, line.b, 9, cbRow, crRow);
        store(cb + row * 8, cbRow);
        store(cr + row * 8, crRow);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb420Sse2(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb,
                      int16_t* cr) {
    for (uint32_t pair = 0; pair < 8; ++pair) {
        const RgbLine even = fetchRgbLine<Format, Scale>(source, stride, 2 * pair);
        const RgbLine odd = fetchRgbLine<Format, Scale>(source, stride, 2 * pair + 1);
        for (uint32_t half = 0; half < 2; ++half) {
            const uint32_t row = 2 * pair + half;
            const RgbLine& line = half ? odd : even;
            int16_t* top = luma + (row >> 3) * 128 + (row & 7) * 8;
            store(top, rgbLuma(line.r[0], line.g[0], line.b[0]));
            store(top + 64, rgbLuma(line.r[1], line.g[1], line.b[1]));
        }
        __m128i r[2], g[2], b[2];
        for (int h = 0; h < 2; ++h) {
            r[h] = _mm_add_epi16(even.r[h], odd.r[h]);
            g[h] = _mm_add_epi16(even.g[h], odd.g[h]);
            b[h] = _mm_add_epi16(even.b[h], odd.b[h]);
        }
        __m128i cbRow, crRow;
        rgbChroma(r, g, b, 10, cbRow, crRow);
        store(cb + pair * 8, cbRow);
        store(cr + pair * 8, crRow);
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleLumaSse2(const uint8_t* source, uint32_t stride, int16_t* luma) {
    for (uint32_t row = 0; row < 8; ++row) {
        if constexpr (Format == Uyvy) {
            storeLumaRow(fetchUyvyLine<Scale>(source, stride, row).y, luma, row);
        } else {
            const RgbLine line = fetchRgbLine<Format, Scale>(source, stride, row);
            store(luma + row * 8, rgbLuma(line.r[0], line.g[0], line.b[0]));
            store(luma + 64 + row * 8, rgbLuma(line.r[1], line.g[1], line.b[1]));
        }
    }
}

}  // namespace

const JpegKernels kSse2JpegKernels = {
    .name = "sse2",
    .uyvy422 = {sampleUyvy422Sse2<1>, sampleUyvy422Sse2<2>},
    .uyvy420 = {sampleUyvy420HalfSse2<1>, sampleUyvy420HalfSse2<2>},
    .rgb422 = {{sampleRgb422Sse2<Bgr24, 1>, sampleRgb422Sse2<Bgr24, 2>},
               {sampleRgb422Sse2<Rgb565, 1>, sampleRgb422Sse2<Rgb565, 2>},
               {sampleRgb422Sse2<Rgb555, 1>, sampleRgb422Sse2<Rgb555, 2>}},
    .rgb420 = {{sampleRgb420Sse2<Bgr24, 1>, sampleRgb420Sse2<Bgr24, 2>},
               {sampleRgb420Sse2<Rgb565, 1>, sampleRgb420Sse2<Rgb565, 2>},
               {sampleRgb420Sse2<Rgb555, 1>, sampleRgb420Sse2<Rgb555, 2>}},
    .luma = {{sampleLumaSse2<Bgr24, 1>, sampleLumaSse2<Bgr24, 2>},
             {sampleLumaSse2<Rgb565, 1>, sampleLumaSse2<Rgb565, 2>},
             {sampleLumaSse2<Rgb555, 1>, sampleLumaSse2<Rgb555, 2>},
             {sampleLumaSse2<Uyvy, 1>, sampleLumaSse2<Uyvy, 2>}},
    .fdct = forwardDctQuantizeSse2,
    .fdctPair = forwardDctQuantizePairSse2,
    .encodeBlock = encodeBlockSse2,
    .transformCode = transformThenCode<forwardDctQuantizePairSse2, encodeBlockSse2>,
    .rotate = {rotateBlock90Sse2, rotateBlock180Sse2, rotateBlock270Sse2},
};

#endif
