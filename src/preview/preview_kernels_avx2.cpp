// AVX2 variants of the preview conversion kernels; bit for bit the scalar results
// (preview_kernels.cpp). Processors with AVX2 use the SSE2 variants for the kernels not here.
//
// drawFullColour / drawGray. The walk's accumulators give output pixel (c, r) the source pixel
// X(c) steps of stepC and Y(r) steps of stepR from the start, X(c) = (c * step) >> 16 and
// Y(r) = (r * step) >> 16. A pixel needs the word of its pixel pair (its address rounded down to
// a multiple of 4: Cb, Y0, Cr, Y1) and its own luma. How the samples are fetched depends on the
// walk:
//   - stepC = +-1 ("90L", "90R"): each output row runs along one source row. Its samples are
//     fetched four at a time from 16-byte windows by byte shuffles that rebuild each sample's
//     word as (Cb, Y, Cr, 0); windows and shuffles depend only on the column, so they are planned
//     once per call (for both alignments of a row's first sample), and kept within the bytes the
//     row's samples span, so nothing outside the frame is read.
//   - stepR = +-1 ("None", "180"): each output column runs along one source row, so 8 x 8 tiles
//     are fetched the same way (windows planned along the output rows), converted a column at a
//     time and transposed in registers before the stores.
//   - otherwise, and for steps too large for the windows (about 2), for tile remainders and tiny
//     frames: one 32-bit gather of each pixel's pair word.
// Colour on sixteen 16-bit lanes: the green term 183 V + 88 U needs 32 bits and is one madd of the
// word's (Cb - 128, Cr - 128) halves; (197 U) >> 8 and (103 V) >> 8 fit 16 bits. Shifts are
// arithmetic, clamps and the 5/6/5 masks as in the scalar code.
//
// scaleDownByFactor: 4 x 8 output blocks; each row's eight sample words come from one 32-byte
// load (factor 2) or the SSE2 sample loads, byte shuffles spread luma and the pairs' chroma to
// 16-bit lanes, and the colour runs on sixteen lanes as in the SSE2 variant. A last four columns
// go through the SSE2 step.
//
// convertToPlanar: as the SSE2 variant, two 8 x 8 blocks side by side per step (one 32-byte load
// per row; each 128-bit lane works on one block, so the unpack transposes of turns 1 and 2 serve
// both at once). An odd last block goes through the SSE2 code.
//
// convertSampledRows: as the SSE2 rows, 32 pixels per step; lane-wise packs are put back in order
// by a quad permute.
#include "preview/kernel_variants.h"

#if defined(__x86_64__)

#include <algorithm>

#include "preview/kernel_simd_avx2.h"

namespace preview_kernels {
namespace {

using namespace x86;

constexpr int32_t kColumnChunk = 512;  // columns whose offsets are tabled at a time

// The pixel-pair words of eight output pixels whose byte offsets (from the 4-aligned base; bit 1
// set for the second pixel of a pair) are `at`, and the shift that brings each pixel's luma to the
// low byte (8 or 24).
struct PairWords {
    __m256i words;
    __m256i lumaShift;
};

LUMO_AVX2 inline PairWords gatherPairWords(const uint8_t* base, __m256i at) {
    return {_mm256_i32gather_epi32(reinterpret_cast<const int*>(base),
                                   _mm256_andnot_si256(_mm256_set1_epi32(3), at), 1),
            _mm256_add_epi32(_mm256_slli_epi32(_mm256_and_si256(at, _mm256_set1_epi32(2)), 3),
                             _mm256_set1_epi32(8))};
}

// RGB565 of sixteen pixels (a then b), in order. Luma, U and V go to 16-bit lanes; the green
// term 183 V + 88 U needs 32 bits and is one madd of the word's (U, V) halves; 197 U and 103 V fit
// 16 bits, so their shifted products are exact 16-bit multiplies.
// Words rebuilt by the shuffle windows are (Cb, Y, Cr, 0), so their luma is simply the high
// byte of the low half (kRebuilt); gathered words hold both lumas of the pair.
template <bool kGray, bool kRebuilt = false>
LUMO_AVX2 inline __m256i portablePixels16(const PairWords& a, const PairWords& b) {
    __m256i y;
    if constexpr (kRebuilt) {
        y = _mm256_packus_epi32(_mm256_srli_epi16(a.words, 8), _mm256_srli_epi16(b.words, 8));
    } else {
        const __m256i byteMask = _mm256_set1_epi32(0xFF);
        y = _mm256_packus_epi32(
            _mm256_and_si256(_mm256_srlv_epi32(a.words, a.lumaShift), byteMask),
            _mm256_and_si256(_mm256_srlv_epi32(b.words, b.lumaShift), byteMask));
    }
    __m256i r, g, bl;
    if constexpr (kGray) {
        r = g = bl = y;
    } else {
        // Low 16 bits U = Cb - 128, high 16 bits V = Cr - 128.
        const __m256i evenBytes = _mm256_set1_epi32(0x00FF00FF);
        const __m256i bias = _mm256_set1_epi32(0x00800080);
        const __m256i uvA = _mm256_sub_epi16(_mm256_and_si256(a.words, evenBytes), bias);
        const __m256i uvB = _mm256_sub_epi16(_mm256_and_si256(b.words, evenBytes), bias);
        const __m256i gv = _mm256_set1_epi32(lanePair(kJfifGu, kJfifGv));
        const __m256i gTerm = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(uvA, gv), 8),
                                                 _mm256_srai_epi32(_mm256_madd_epi16(uvB, gv), 8));
        const __m256i lowHalf = _mm256_set1_epi32(lanePair(1, 0));  // madd: U sign-extended
        const __m256i u =
            _mm256_packs_epi32(_mm256_madd_epi16(uvA, lowHalf), _mm256_madd_epi16(uvB, lowHalf));
        const __m256i v =
            _mm256_packs_epi32(_mm256_srai_epi32(uvA, 16), _mm256_srai_epi32(uvB, 16));
        const __m256i bTerm =
            _mm256_srai_epi16(_mm256_mullo_epi16(u, _mm256_set1_epi16(kJfifBu)), 8);
        const __m256i rTerm =
            _mm256_srai_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(kJfifRv)), 8);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i top = _mm256_set1_epi16(255);
        g = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(y, gTerm), zero), top);
        bl = _mm256_min_epi16(
            _mm256_max_epi16(_mm256_add_epi16(_mm256_add_epi16(y, u), bTerm), zero), top);
        r = _mm256_min_epi16(
            _mm256_max_epi16(_mm256_add_epi16(_mm256_add_epi16(y, v), rTerm), zero), top);
    }
    const __m256i pixels = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(r, 8), _mm256_set1_epi16(-2048)),
                        _mm256_slli_epi16(_mm256_and_si256(g, _mm256_set1_epi16(0xFC)), 3)),
        _mm256_srli_epi16(bl, 3));
    return _mm256_permute4x64_epi64(pixels, _MM_SHUFFLE(3, 1, 2, 0));
}

// A portable walk and its output.
struct Walk {
    uint16_t* dst;
    int32_t dstPitch;
    int32_t outW, outH;
    const uint8_t* src;
    int32_t stepC, stepR, step;

    uint16_t* outRow(int32_t r) const {
        return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(dst) +
                                           ptrdiff_t{r} * dstPitch);
    }
};

// Whole source steps after n output pixels: floor(n * step), as the accumulators count them.
inline int32_t wholeSteps(int32_t n, int32_t step) {
    return static_cast<int32_t>((int64_t{n} * step) >> 16);
}

// Output columns c0 .. c1 - 1 of rows r0 .. r1 - 1, one gather per pixel.
template <bool kGray>
LUMO_AVX2 void drawGathered(const Walk& w, int32_t c0, int32_t c1, int32_t r0, int32_t r1) {
    // Offsets count from the 4-aligned word holding the start pixel; the start's own offset in
    // that word (0 or 2) rides along, so bit 1 of an offset says which pixel of its pair it is.
    const int32_t misalign = static_cast<int32_t>(reinterpret_cast<uintptr_t>(w.src) & 3);
    const uint8_t* const base = w.src - misalign;
    alignas(32) int32_t columns[kColumnChunk];
    for (int32_t first = c0; first < c1; first += kColumnChunk) {
        const int32_t count = std::min(kColumnChunk, c1 - first);
        for (int32_t k = 0; k < count; ++k)
            columns[k] = misalign + wholeSteps(first + k, w.step) * w.stepC * 2;
        for (int32_t r = r0; r < r1; ++r) {
            const int32_t rowOffset = wholeSteps(r, w.step) * w.stepR * 2;
            const __m256i row = _mm256_set1_epi32(rowOffset);
            uint16_t* out = w.outRow(r) + first;
            int32_t k = 0;
            for (; k + 16 <= count; k += 16) {
                const __m256i* at = reinterpret_cast<const __m256i*>(columns + k);
                const PairWords a =
                    gatherPairWords(base, _mm256_add_epi32(row, _mm256_load_si256(at)));
                const PairWords b =
                    gatherPairWords(base, _mm256_add_epi32(row, _mm256_load_si256(at + 1)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k),
                                    portablePixels16<kGray>(a, b));
            }
            for (; k < count; ++k) {  // the last few columns, one at a time
                const uint8_t* p = base + rowOffset + columns[k];
                const uint8_t* word = base + ((rowOffset + columns[k]) & ~3);
                out[k] = kGray ? grayToRgb565(p[1]) : jfifToRgb565(p[1], word[0], word[2]);
            }
        }
    }
}

// ---- Shuffle windows along a source row ----

constexpr int32_t kRunSamples = 512;  // samples planned at a time; a multiple of 8
constexpr int32_t kRunGroups = kRunSamples / 8;
constexpr int32_t kWindowBytes = 16;
constexpr uint8_t kZeroByte = 0x80;   // a shuffle index that yields zero
constexpr int32_t kTilesPerBand = 8;  // 8 x 8 tiles side by side, walked down together

// Windows fetching runs of samples along one source row, by pixel offset from the run's origin
// (its pixel at offset 0). Group g is samples 8g .. 8g + 7; its half h comes from the 16 bytes at
// base[..][g][h] from the origin, and bytes 16h .. 16h + 15 of mask[..][g] rebuild the half's
// four words. Planned for both alignments of the origin: index 1 when it is the second pixel of
// its pair.
struct RunPlan {
    int32_t base[2][kRunGroups][2];
    alignas(32) uint8_t mask[2][kRunGroups][32];
};

// Byte offset of the pair word of pixel o, from an origin of the given alignment.
constexpr int32_t pairWordByte(int32_t o, int32_t second) {
    return 2 * o - 2 * ((o + second) & 1);
}

// Plans `groups` groups of samples at offsets[]; false when some half group does not fit one
// window or the run spans fewer bytes than a window.
bool planRun(const int32_t* offsets, int32_t groups, RunPlan& plan) {
    const int32_t samples = 8 * groups;
    for (int32_t second = 0; second < 2; ++second) {
        // Every byte between the run's first and last needed byte is inside the frame.
        int32_t runLo = pairWordByte(offsets[0], second), runHi = runLo;
        for (int32_t k = 0; k < samples; ++k) {
            const int32_t word = pairWordByte(offsets[k], second);
            runLo = std::min(runLo, word);
            runHi = std::max(runHi, std::max(word + 2, 2 * offsets[k] + 1));
        }
        if (runHi - runLo + 1 < kWindowBytes) return false;
        for (int32_t g = 0; g < groups; ++g) {
            for (int32_t h = 0; h < 2; ++h) {
                const int32_t* o = offsets + 8 * g + 4 * h;
                int32_t lo = pairWordByte(o[0], second), hi = lo;
                for (int32_t k = 0; k < 4; ++k) {
                    const int32_t word = pairWordByte(o[k], second);
                    lo = std::min(lo, word);
                    hi = std::max(hi, std::max(word + 2, 2 * o[k] + 1));
                }
                const int32_t base = std::min(lo, runHi - (kWindowBytes - 1));
                if (hi - base >= kWindowBytes) return false;
                plan.base[second][g][h] = base;
                uint8_t* mask = plan.mask[second][g] + 16 * h;
                for (int32_t k = 0; k < 4; ++k) {
                    const int32_t word = pairWordByte(o[k], second) - base;
                    mask[4 * k + 0] = static_cast<uint8_t>(word);                 // Cb
                    mask[4 * k + 1] = static_cast<uint8_t>(2 * o[k] + 1 - base);  // own Y
                    mask[4 * k + 2] = static_cast<uint8_t>(word + 2);             // Cr
                    mask[4 * k + 3] = kZeroByte;
                }
            }
        }
    }
    return true;
}

inline int32_t secondOfPair(const uint8_t* pixel) {
    return static_cast<int32_t>((reinterpret_cast<uintptr_t>(pixel) >> 1) & 1);
}

// The words of group g of the run whose origin is `origin`.
LUMO_AVX2 inline PairWords windowWords(const uint8_t* origin, const RunPlan& plan, int32_t g) {
    const int32_t second = secondOfPair(origin);
    const int32_t* base = plan.base[second][g];
    const __m256i windows = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(origin + base[0]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(origin + base[1])), 1);
    const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.mask[second][g]));
    return {_mm256_shuffle_epi8(windows, mask), _mm256_set1_epi32(8)};
}

// The same from windows at `lo` and `hi` bytes from the origin, shuffled by `mask`: a group's
// windows and mask fetched once for many origins of one alignment.
LUMO_AVX2 inline PairWords windowWordsAt(const uint8_t* origin, int32_t lo, int32_t hi,
                                         __m256i mask) {
    const __m256i windows = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(origin + lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(origin + hi)), 1);
    return {_mm256_shuffle_epi8(windows, mask), _mm256_set1_epi32(8)};
}

// stepC = +-1: output rows along source rows.
template <bool kGray>
LUMO_AVX2 void drawAlongRows(const Walk& w) {
    RunPlan plan;
    int32_t offsets[kRunSamples];
    for (int32_t first = 0; first < w.outW; first += kRunSamples) {
        const int32_t count = std::min(kRunSamples, w.outW - first);
        const int32_t groups = count / 8;
        for (int32_t k = 0; k < 8 * groups; ++k)
            offsets[k] = wholeSteps(first + k, w.step) * w.stepC;
        if (groups == 0 || !planRun(offsets, groups, plan)) {
            drawGathered<kGray>(w, first, first + count, 0, w.outH);
            continue;
        }
        for (int32_t r = 0; r < w.outH; ++r) {
            const uint8_t* origin = w.src + ptrdiff_t{wholeSteps(r, w.step)} * w.stepR * 2;
            uint16_t* out = w.outRow(r) + first;
            int32_t g = 0;
            for (; g + 2 <= groups; g += 2)
                _mm256_storeu_si256(
                    reinterpret_cast<__m256i*>(out + 8 * g),
                    portablePixels16<kGray, true>(windowWords(origin, plan, g),
                                                  windowWords(origin, plan, g + 1)));
            if (g < groups) {
                const PairWords words = windowWords(origin, plan, g);
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(out + 8 * g),
                    _mm256_castsi256_si128(portablePixels16<kGray, true>(words, words)));
            }
        }
        if (count % 8) drawGathered<kGray>(w, first + 8 * groups, first + count, 0, w.outH);
    }
}

// Stores an 8 x 8 tile given as its columns, v0 = [column 0 | column 4], v1 = [1 | 5],
// v2 = [2 | 6], v3 = [3 | 7] (eight rows each), as eight rows from out, `pitch` bytes apart.
LUMO_AVX2 inline void storeTransposed(uint16_t* out, int32_t pitch, __m256i v0, __m256i v1,
                                      __m256i v2, __m256i v3) {
    const __m256i t0 = _mm256_unpacklo_epi16(v0, v1);
    const __m256i t1 = _mm256_unpackhi_epi16(v0, v1);
    const __m256i t2 = _mm256_unpacklo_epi16(v2, v3);
    const __m256i t3 = _mm256_unpackhi_epi16(v2, v3);
    // Each: [rows 2k, 2k + 1 of columns 0-3 | the same of columns 4-7].
    const __m256i pairs[4] = {_mm256_unpacklo_epi32(t0, t2), _mm256_unpackhi_epi32(t0, t2),
                              _mm256_unpacklo_epi32(t1, t3), _mm256_unpackhi_epi32(t1, t3)};
    uint8_t* row = reinterpret_cast<uint8_t*>(out);
#pragma GCC unroll 8
    for (int k = 0; k < 4; ++k) {
        const __m256i rows = _mm256_permute4x64_epi64(pairs[k], _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + pitch),
                         _mm256_extracti128_si256(rows, 1));
        row += 2 * ptrdiff_t{pitch};
    }
}

// stepR = +-1: output columns along source rows, in 8 x 8 tiles.
template <bool kGray>
LUMO_AVX2 void drawTiles(const Walk& w) {
    RunPlan plan;
    int32_t offsets[kRunSamples];
    const int32_t tilesAcross = w.outW / 8;
    // With an even stepC (a whole number of pixel pairs per column, as every frame width gives)
    // all columns' origins share the start's place in its pair.
    const bool sameAlignment = w.stepC % 2 == 0;
    const int32_t second = secondOfPair(w.src);
    for (int32_t first = 0; first < w.outH; first += kRunSamples) {
        const int32_t count = std::min(kRunSamples, w.outH - first);
        const int32_t groups = count / 8;
        for (int32_t k = 0; k < 8 * groups; ++k)
            offsets[k] = wholeSteps(first + k, w.step) * w.stepR;
        if (groups == 0 || tilesAcross == 0 || !planRun(offsets, groups, plan)) {
            drawGathered<kGray>(w, 0, w.outW, first, first + count);
            continue;
        }
        // Bands of tiles, each walked down all row groups: the band's source rows are read
        // along their length while they stay in the cache.
        for (int32_t band = 0; band < tilesAcross; band += kTilesPerBand) {
            const int32_t bandEnd = std::min(tilesAcross, band + kTilesPerBand);
            const uint8_t* origin[8 * kTilesPerBand];  // the source row of each column
            for (int32_t c = 8 * band; c < 8 * bandEnd; ++c)
                origin[c - 8 * band] = w.src + ptrdiff_t{wholeSteps(c, w.step)} * w.stepC * 2;
            for (int32_t g = 0; g < groups; ++g) {
                uint16_t* out = w.outRow(first + 8 * g);
                if (sameAlignment) {
                    // One fetch of the group's windows and mask serves every column.
                    const int32_t lo = plan.base[second][g][0], hi = plan.base[second][g][1];
                    const __m256i mask =
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(plan.mask[second][g]));
                    for (int32_t t = band; t < bandEnd; ++t) {
                        const uint8_t* const* o = origin + 8 * (t - band);
                        const __m256i v0 = portablePixels16<kGray, true>(
                            windowWordsAt(o[0], lo, hi, mask), windowWordsAt(o[4], lo, hi, mask));
                        const __m256i v1 = portablePixels16<kGray, true>(
                            windowWordsAt(o[1], lo, hi, mask), windowWordsAt(o[5], lo, hi, mask));
                        const __m256i v2 = portablePixels16<kGray, true>(
                            windowWordsAt(o[2], lo, hi, mask), windowWordsAt(o[6], lo, hi, mask));
                        const __m256i v3 = portablePixels16<kGray, true>(
                            windowWordsAt(o[3], lo, hi, mask), windowWordsAt(o[7], lo, hi, mask));
                        storeTransposed(out + 8 * t, w.dstPitch, v0, v1, v2, v3);
                    }
                    continue;
                }
                for (int32_t t = band; t < bandEnd; ++t) {
                    const uint8_t* const* o = origin + 8 * (t - band);
                    const __m256i v0 = portablePixels16<kGray, true>(windowWords(o[0], plan, g),
                                                                     windowWords(o[4], plan, g));
                    const __m256i v1 = portablePixels16<kGray, true>(windowWords(o[1], plan, g),
                                                                     windowWords(o[5], plan, g));
                    const __m256i v2 = portablePixels16<kGray, true>(windowWords(o[2], plan, g),
                                                                     windowWords(o[6], plan, g));
                    const __m256i v3 = portablePixels16<kGray, true>(windowWords(o[3], plan, g),
                                                                     windowWords(o[7], plan, g));
                    storeTransposed(out + 8 * t, w.dstPitch, v0, v1, v2, v3);
                }
            }
        }
        if (w.outW % 8) drawGathered<kGray>(w, 8 * tilesAcross, w.outW, first, first + 8 * groups);
        if (count % 8) drawGathered<kGray>(w, 0, w.outW, first + 8 * groups, first + count);
    }
}

// ---- scaleDownByFactor: 4 x 8 output blocks ----

// The words of eight consecutive reducer samples of one row, words 0-3 in the low lane.
template <int kFactor>
LUMO_AVX2 inline __m256i sampleWords8(const uint8_t* p) {
    if constexpr (kFactor == 2) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    } else {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(sampleWords<kFactor>(p)),
                                       sampleWords<kFactor>(p + 8 * kFactor), 1);
    }
}

// Luma and (Cb - 128, Cr - 128) of two rows of eight samples as sixteen 16-bit lanes, [row a
// samples 0-3, row b 0-3 | row a 4-7, row b 4-7]: each sample its own luma (byte 1 of its word),
// both samples of a pair the chroma of the first word (bytes 0 and 2).
struct Lanes16 {
    __m256i y, u, v;
};

LUMO_AVX2 inline Lanes16 reducerLanes(__m256i a, __m256i b) {
    constexpr int8_t z = -128;                                                               // zero
    const __m256i lumaA = _mm256_setr_epi8(1, z, 5, z, 9, z, 13, z, z, z, z, z, z, z, z, z,  //
                                           1, z, 5, z, 9, z, 13, z, z, z, z, z, z, z, z, z);
    const __m256i lumaB = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 1, z, 5, z, 9, z, 13, z,  //
                                           z, z, z, z, z, z, z, z, 1, z, 5, z, 9, z, 13, z);
    const __m256i cbA = _mm256_setr_epi8(0, z, 0, z, 8, z, 8, z, z, z, z, z, z, z, z, z,  //
                                         0, z, 0, z, 8, z, 8, z, z, z, z, z, z, z, z, z);
    const __m256i cbB = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 0, z, 0, z, 8, z, 8, z,  //
                                         z, z, z, z, z, z, z, z, 0, z, 0, z, 8, z, 8, z);
    const __m256i crA = _mm256_setr_epi8(2, z, 2, z, 10, z, 10, z, z, z, z, z, z, z, z, z,  //
                                         2, z, 2, z, 10, z, 10, z, z, z, z, z, z, z, z, z);
    const __m256i crB = _mm256_setr_epi8(z, z, z, z, z, z, z, z, 2, z, 2, z, 10, z, 10, z,  //
                                         z, z, z, z, z, z, z, z, 2, z, 2, z, 10, z, 10, z);
    const __m256i bias = _mm256_set1_epi16(128);
    return {_mm256_or_si256(_mm256_shuffle_epi8(a, lumaA), _mm256_shuffle_epi8(b, lumaB)),
            _mm256_sub_epi16(
                _mm256_or_si256(_mm256_shuffle_epi8(a, cbA), _mm256_shuffle_epi8(b, cbB)), bias),
            _mm256_sub_epi16(
                _mm256_or_si256(_mm256_shuffle_epi8(a, crA), _mm256_shuffle_epi8(b, crB)), bias)};
}

template <int kFactor, uint32_t kTurn>
LUMO_AVX2 void scaleDownAvx2(const uint8_t* src, int32_t srcStride, uint16_t* dst, int32_t dstPitch,
                             int32_t srcW, int32_t srcH) {
    const int32_t q = srcW / kFactor;
    const int32_t p = srcH / kFactor;
    const TurnedPlacement at = placeTurned(kTurn, q, p, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    const ptrdiff_t sampleRow = ptrdiff_t{kFactor} * srcStride;
    for (int32_t k = 0; k + 4 <= p; k += 4) {
        const uint8_t* row0 = src + k * sampleRow;
        int32_t i = 0;
        for (; i + 8 <= q; i += 8) {
            const uint8_t* s = row0 + ptrdiff_t{2 * kFactor} * i;
            const Lanes16 ab =
                reducerLanes(sampleWords8<kFactor>(s), sampleWords8<kFactor>(s + sampleRow));
            const Lanes16 cd = reducerLanes(sampleWords8<kFactor>(s + 2 * sampleRow),
                                            sampleWords8<kFactor>(s + 3 * sampleRow));
            const __m256i top = studioToRgb565x16<kReducerColour>(ab.y, ab.u, ab.v);
            const __m256i bottom = studioToRgb565x16<kReducerColour>(cd.y, cd.u, cd.v);
            storeBlock4x4<kTurn>(out, at, i, k, _mm256_castsi256_si128(top),
                                 _mm256_castsi256_si128(bottom));
            storeBlock4x4<kTurn>(out, at, i + 4, k, _mm256_extracti128_si256(top, 1),
                                 _mm256_extracti128_si256(bottom, 1));
        }
        if (i < q) {  // four columns left: the SSE2 step
            const uint8_t* s = row0 + ptrdiff_t{2 * kFactor} * i;
            const Lanes8 ab = joinRows(splitSampleWords(sampleWords<kFactor>(s)),
                                       splitSampleWords(sampleWords<kFactor>(s + sampleRow)));
            const Lanes8 cd = joinRows(splitSampleWords(sampleWords<kFactor>(s + 2 * sampleRow)),
                                       splitSampleWords(sampleWords<kFactor>(s + 3 * sampleRow)));
            storeBlock4x4<kTurn>(out, at, i, k, studioToRgb565x8<kReducerColour>(ab.y, ab.u, ab.v),
                                 studioToRgb565x8<kReducerColour>(cd.y, cd.u, cd.v));
        }
    }
}

// ---- convertToPlanar: two 8 x 8 blocks side by side per step ----

// Eight rows of two blocks' luma (block A in the low 8 bytes of the low lane, block B in the low 8
// bytes of the high lane) whose byte (x, y) belongs at placed(at.y, at.luma, x0 + x, y0 + y),
// x < 16.
template <uint32_t kTurn>
LUMO_AVX2 inline void storeLumaPair(const PlanarPlacement& at, int32_t x0, int32_t y0,
                                    const __m256i (&luma)[8]) {
    if constexpr (kTurn == TurnNone || kTurn == TurnUpsideDown) {
        const __m128i reverse = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) {
            // Both halves side by side: sixteen bytes of one row in column order.
            const __m128i row =
                _mm256_castsi256_si128(_mm256_permute4x64_epi64(luma[r], _MM_SHUFFLE(3, 1, 2, 0)));
            if constexpr (kTurn == TurnNone) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(placed(at.y, at.luma, x0, y0 + r)),
                                 row);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(placed(at.y, at.luma, x0 + 15, y0 + r)),
                                 _mm_shuffle_epi8(row, reverse));
            }
        }
    } else {
        // Transpose both blocks at once: columns[n] holds columns 2n and 2n + 1 of each block.
        const __m256i b0 = _mm256_unpacklo_epi8(luma[0], luma[1]);
        const __m256i b1 = _mm256_unpacklo_epi8(luma[2], luma[3]);
        const __m256i b2 = _mm256_unpacklo_epi8(luma[4], luma[5]);
        const __m256i b3 = _mm256_unpacklo_epi8(luma[6], luma[7]);
        const __m256i c0 = _mm256_unpacklo_epi16(b0, b1);
        const __m256i c1 = _mm256_unpackhi_epi16(b0, b1);
        const __m256i c2 = _mm256_unpacklo_epi16(b2, b3);
        const __m256i c3 = _mm256_unpackhi_epi16(b2, b3);
        const __m256i columns[4] = {_mm256_unpacklo_epi32(c0, c2), _mm256_unpackhi_epi32(c0, c2),
                                    _mm256_unpacklo_epi32(c1, c3), _mm256_unpackhi_epi32(c1, c3)};
        // Columns x0 .. x0 + 15 in order from one walking pointer: a column runs rightwards from
        // (x, y0) for turn 1, and is stored reversed from (x, y0 + 7) for turn 2.
        const ptrdiff_t step = at.luma.xStep;
        uint8_t* p = placed(at.y, at.luma, x0, kTurn == TurnRightEdgeUp ? y0 : y0 + 7);
#pragma GCC unroll 8
        for (int half = 0; half < 2; ++half) {
#pragma GCC unroll 8
            for (int n = 0; n < 4; ++n) {
                __m128i pair = half ? _mm256_extracti128_si256(columns[n], 1)
                                    : _mm256_castsi256_si128(columns[n]);
                if constexpr (kTurn == TurnLeftEdgeUp) pair = reverseBytesPerHalf(pair);
                store8Bytes(p, pair);
                storeHigh8BytesDirect(p + step, pair);
                p += 2 * step;
            }
        }
    }
}

template <uint32_t kTurn>
LUMO_AVX2 void convertToPlanarAvx2(const uint8_t* src, int32_t srcStride, const PlanarYuv& planes,
                                   int32_t srcW, int32_t srcH) {
    const PlanarPlacement at = placePlanar(kTurn, planes, srcW, srcH);
    // The odd bytes (luma) of each 8-pixel half to the low 8 bytes of its lane.
    const __m256i lumaBytes =
        _mm256_setr_epi8(1, 3, 5, 7, 9, 11, 13, 15, -128, -128, -128, -128, -128, -128, -128, -128,
                         1, 3, 5, 7, 9, 11, 13, 15, -128, -128, -128, -128, -128, -128, -128, -128);
    const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
    const __m256i lowWords = _mm256_set1_epi32(0xFFFF);
    const int32_t across = srcW / 8;
    const int32_t down = srcH / 8;
    // Turns 1 and 2 write each block's columns as destination rows: walking down a column of
    // blocks keeps those rows' cache lines in use, where walking across would touch every row of
    // the planes for each row of blocks.
    const bool downFirst = kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp;
    const int32_t outer = downFirst ? across / 2 : down;
    const int32_t inner = downFirst ? down : across / 2;
    for (int32_t o = 0; o < outer; ++o) {
        for (int32_t n = 0; n < inner; ++n) {
            const int32_t bx = 2 * (downFirst ? o : n);
            const int32_t by = downFirst ? n : o;
            const uint8_t* block = src + ptrdiff_t{8} * by * srcStride + bx * 16;
            __m256i rows[8], luma[8];
#pragma GCC unroll 8
            for (int r = 0; r < 8; ++r) {
                rows[r] = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i*>(block + ptrdiff_t{r} * srcStride));
                luma[r] = _mm256_shuffle_epi8(rows[r], lumaBytes);
            }
            storeLumaPair<kTurn>(at, 8 * bx, 8 * by, luma);
            // Chroma as chromaBlocks does, both blocks at once: lane k is block bx + k.
            __m256i average[4];
#pragma GCC unroll 8
            for (int c = 0; c < 4; ++c)
                average[c] = _mm256_avg_epu16(_mm256_and_si256(rows[2 * c], evenBytes),
                                              _mm256_and_si256(rows[2 * c + 1], evenBytes));
            const __m256i cb =
                _mm256_packus_epi16(_mm256_packs_epi32(_mm256_and_si256(average[0], lowWords),
                                                       _mm256_and_si256(average[1], lowWords)),
                                    _mm256_packs_epi32(_mm256_and_si256(average[2], lowWords),
                                                       _mm256_and_si256(average[3], lowWords)));
            const __m256i cr =
                _mm256_packus_epi16(_mm256_packs_epi32(_mm256_srli_epi32(average[0], 16),
                                                       _mm256_srli_epi32(average[1], 16)),
                                    _mm256_packs_epi32(_mm256_srli_epi32(average[2], 16),
                                                       _mm256_srli_epi32(average[3], 16)));
            storeBlock4x4BytesAvx2<kTurn>(at.cb, at.cbAt, 4 * bx, 4 * by,
                                          _mm256_castsi256_si128(cb));
            storeBlock4x4BytesAvx2<kTurn>(at.cb, at.cbAt, 4 * bx + 4, 4 * by,
                                          _mm256_extracti128_si256(cb, 1));
            storeBlock4x4BytesAvx2<kTurn>(at.cr, at.crAt, 4 * bx, 4 * by,
                                          _mm256_castsi256_si128(cr));
            storeBlock4x4BytesAvx2<kTurn>(at.cr, at.crAt, 4 * bx + 4, 4 * by,
                                          _mm256_extracti128_si256(cr, 1));
        }
    }
    if (across % 2)  // an odd last column of blocks
        for (int32_t by = 0; by < down; ++by)
            convertBlock8x8<kTurn>(src + ptrdiff_t{8} * by * srcStride + (across - 1) * 16,
                                   srcStride, at, across - 1, by);
}

// ---- convertSampledRows: 32 pixels per step, the tail through the SSE2 code ----

LUMO_AVX2 void lumaRowAvx2(const uint8_t* src, uint8_t* y, int32_t pixels) {
    int32_t x = 0;
#pragma GCC unroll 4
    for (; x + 32 <= pixels; x += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x + 32));
        // packus works per 128-bit lane: quads come out as a.lo, b.lo, a.hi, b.hi.
        const __m256i packed =
            _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    lumaRowSse2(src + 2 * x, y + x, pixels - x);
}

// (Cb, Cr) of eight pixel pairs averaged with the row below, as 16-bit lanes (see the SSE2 form).
LUMO_AVX2 inline __m256i averagedChroma8(const uint8_t* upper, const uint8_t* lower) {
    return _mm256_and_si256(
        _mm256_avg_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper)),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower))),
        _mm256_set1_epi16(0x00FF));
}

LUMO_AVX2 void chromaRowAvx2(const uint8_t* upper, const uint8_t* lower, uint8_t* cb, uint8_t* cr,
                             int32_t pairs) {
    const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
    int32_t k = 0;
#pragma GCC unroll 4
    for (; k + 16 <= pairs; k += 16) {
        // Cb, Cr bytes of sixteen pairs in order, then Cb of all sixteen and Cr of all sixteen.
        const __m256i both = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(averagedChroma8(upper + 4 * k, lower + 4 * k),
                                averagedChroma8(upper + 4 * k + 32, lower + 4 * k + 32)),
            _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i split = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_and_si256(both, evenBytes), _mm256_srli_epi16(both, 8)),
            _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + k), _mm256_castsi256_si128(split));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + k), _mm256_extracti128_si256(split, 1));
    }
    chromaRowSse2(upper + 4 * k, lower + 4 * k, cb + k, cr + k, pairs - k);
}

template <bool kGray>
LUMO_AVX2 void drawPortableAvx2(uint16_t* dst, int32_t dstPitch, int32_t outW, int32_t outH,
                                const uint8_t* src, int32_t stepC, int32_t stepR, int32_t step) {
    const Walk w{dst, dstPitch, outW, outH, src, stepC, stepR, step};
    if (outW <= 0 || outH <= 0) return;
    if (stepC == 1 || stepC == -1) {
        drawAlongRows<kGray>(w);
    } else if (stepR == 1 || stepR == -1) {
        drawTiles<kGray>(w);
    } else {
        drawGathered<kGray>(w, 0, outW, 0, outH);
    }
}

}  // namespace

const KernelSet kAvx2Kernels = {
    .name = "avx2",
    .drawFullColour = drawPortableAvx2<false>,
    .drawGray = drawPortableAvx2<true>,
    .scaleDown =
        {
            {scaleDownAvx2<2, 0>, scaleDownAvx2<2, 1>, scaleDownAvx2<2, 2>, scaleDownAvx2<2, 3>},
            {scaleDownAvx2<4, 0>, scaleDownAvx2<4, 1>, scaleDownAvx2<4, 2>, scaleDownAvx2<4, 3>},
            {scaleDownAvx2<8, 0>, scaleDownAvx2<8, 1>, scaleDownAvx2<8, 2>, scaleDownAvx2<8, 3>},
        },
    .convertToPlanar = {convertToPlanarAvx2<0>, convertToPlanarAvx2<1>, convertToPlanarAvx2<2>,
                        convertToPlanarAvx2<3>},
    .lumaRow = lumaRowAvx2,
    .chromaRow = chromaRowAvx2,
};

}  // namespace preview_kernels

#else

namespace preview_kernels {
const KernelSet kAvx2Kernels = {.name = "avx2"};
}

#endif
