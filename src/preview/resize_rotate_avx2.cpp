// AVX2 variant of the rotate-resizer (output width a multiple of 4, height even); bit for bit the
// scalar results (resize_rotate.cpp).
//
// Sample columns do not depend on the row, so they are planned once per call (in chunks, in
// tables on the stack) with the scalar formulas. Columns go in groups of eight (four 2 x 2
// blocks). Where a group's luma columns fall within 16 bytes of a row (steps up to about 2), one
// 16-byte load and one byte shuffle per row fetch all eight, already widened to 16-bit lanes;
// within 16 bytes per half group (steps up to about 5), two. Its four chroma columns, each wanted
// twice, come the same way. Larger steps gather each sample with a 32-bit gather of the word
// ending at it. Windows are placed within the row's sw (or sw / 2) bytes, and gathers never read
// past their sample.
//
// Two groups (sixteen columns) of both rows of a block row are converted per step on sixteen
// 16-bit lanes with exact 32-bit multiply-adds (lane pairs (Y - 16, V) x (298, 409),
// (Y - 16, U) x (298, 516), (Y - 16, U) x (298, -100) plus V x -208), arithmetic shifts 11 and
// 10, clamps 31 and 63, then stored through the turn. A last single group uses the 128-bit forms,
// a last pair of blocks (widths of 8k + 4) the SSE2 code. Turns 1 and 2 convert two block rows
// per pass, so that each column's four destination pixels go out in one 8-byte store.
#include "preview/kernel_variants.h"

#if defined(__x86_64__)

#include <algorithm>
#include <cstring>

#include "preview/kernel_simd_avx2.h"
#include "preview/resize_columns.h"
#include "preview/resize_rotate_x86.h"

namespace preview_kernels {
namespace {

using namespace x86;

constexpr int32_t kGroupColumns = 8;  // output columns per group: four blocks
constexpr int32_t kGroups = 2 * ResizeColumns::kBlocks / kGroupColumns;
constexpr int32_t kWindow = 16;      // bytes per shuffle window
constexpr uint8_t kZeroByte = 0x80;  // a shuffle index that yields zero

// How the groups of a chunk fetch their samples: `windows` loads per row and kind (1 or 2), or 0
// for gathers. Masks of consecutive groups are adjacent, so two groups load as one 256-bit mask.
struct WindowPlan {
    int windows = 0;
    int32_t lumaBase[2][kGroups];
    int32_t chromaBase[kGroups];
    alignas(32) uint8_t lumaMask[2][kGroups][16];
    alignas(32) uint8_t chromaMask[kGroups][16];
};

// Places a window over samples at[first .. first + count - 1] of a row `width` bytes wide, and
// writes the shuffle indices of 16-bit lanes lane0 .. lane0 + count - 1 (`repeat` lanes per sample)
// into mask. False when they do not fit in one window.
bool planWindow(const int32_t* at, int32_t first, int32_t count, int32_t repeat, int32_t width,
                int32_t lane0, int32_t& base, uint8_t* mask) {
    int32_t lo = at[first], hi = at[first];
    for (int32_t k = first; k < first + count; ++k)
        lo = std::min(lo, at[k]), hi = std::max(hi, at[k]);
    if (lo < 0 || hi >= width || width < kWindow) return false;
    base = std::min(lo, width - kWindow);
    if (hi - base >= kWindow) return false;
    for (int32_t k = 0; k < count; ++k)
        for (int32_t r = 0; r < repeat; ++r) {
            const int32_t lane = lane0 + k * repeat + r;
            mask[2 * lane] = static_cast<uint8_t>(at[first + k] - base);
            mask[2 * lane + 1] = kZeroByte;
        }
    return true;
}

// Plans the groups of one chunk: single windows if every group fits them, else half-group windows,
// else gathers.
void planWindows(const ResizeColumns& columns, int32_t groups, int32_t sw, WindowPlan& plan) {
    const int32_t chromaWidth = sw / 2;
    for (int windows = 1; windows <= 2; ++windows) {
        std::memset(plan.lumaMask, kZeroByte, sizeof plan.lumaMask);
        bool fits = true;
        for (int32_t g = 0; g < groups && fits; ++g) {
            const int32_t* luma = columns.luma + kGroupColumns * g;
            const int32_t* chroma = columns.chroma + kGroupColumns / 2 * g;
            const int32_t perWindow = kGroupColumns / windows;
            for (int h = 0; h < windows && fits; ++h)
                fits = planWindow(luma, h * perWindow, perWindow, 1, sw, h * perWindow,
                                  plan.lumaBase[h][g], plan.lumaMask[h][g]);
            fits = fits && planWindow(chroma, 0, kGroupColumns / 2, 2, chromaWidth, 0,
                                      plan.chromaBase[g], plan.chromaMask[g]);
        }
        if (fits) {
            plan.windows = windows;
            return;
        }
    }
    plan.windows = 0;
}

LUMO_AVX2 inline __m256i loadWindows(const uint8_t* row, int32_t baseA, int32_t baseB) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + baseA))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + baseB)), 1);
}

LUMO_AVX2 inline __m256i loadMasks(const uint8_t (*masks)[16], int32_t g) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(masks[g]));
}

// Sixteen luma samples (groups g and g + 1) of one row as 16-bit lanes.
template <int kWindows>
LUMO_AVX2 inline __m256i windowedLuma(const uint8_t* row, const WindowPlan& plan, int32_t g) {
    __m256i y = _mm256_shuffle_epi8(loadWindows(row, plan.lumaBase[0][g], plan.lumaBase[0][g + 1]),
                                    loadMasks(plan.lumaMask[0], g));
    if constexpr (kWindows == 2)
        y = _mm256_or_si256(
            y, _mm256_shuffle_epi8(loadWindows(row, plan.lumaBase[1][g], plan.lumaBase[1][g + 1]),
                                   loadMasks(plan.lumaMask[1], g)));
    return y;
}

LUMO_AVX2 inline __m256i windowedChroma(const uint8_t* row, const WindowPlan& plan, int32_t g) {
    return _mm256_shuffle_epi8(loadWindows(row, plan.chromaBase[g], plan.chromaBase[g + 1]),
                               loadMasks(plan.chromaMask, g));
}

// The same for the single group g, eight lanes.
template <int kWindows>
LUMO_AVX2 inline __m128i windowedLuma8(const uint8_t* row, const WindowPlan& plan, int32_t g) {
    __m128i y = _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + plan.lumaBase[0][g])),
        _mm_load_si128(reinterpret_cast<const __m128i*>(plan.lumaMask[0][g])));
    if constexpr (kWindows == 2)
        y = _mm_or_si128(
            y, _mm_shuffle_epi8(
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + plan.lumaBase[1][g])),
                   _mm_load_si128(reinterpret_cast<const __m128i*>(plan.lumaMask[1][g]))));
    return y;
}

LUMO_AVX2 inline __m128i windowedChroma8(const uint8_t* row, const WindowPlan& plan, int32_t g) {
    return _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + plan.chromaBase[g])),
        _mm_load_si128(reinterpret_cast<const __m128i*>(plan.chromaMask[g])));
}

// The sixteen 16-bit lanes in reverse order.
LUMO_AVX2 inline __m256i reverseWords16(__m256i v) {
    const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                             14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, reverse), _MM_SHUFFLE(1, 0, 3, 2));
}

// One destination row segment of sixteen pixels in column order, row 0 and row 1 of a block row,
// whose pixel (x, y) belongs at placed(out, at, x0 + x, y0 + y).
template <uint32_t kTurn>
LUMO_AVX2 inline void storeBlock16x2(uint8_t* out, const TurnedPlacement& at, int32_t x0,
                                     int32_t y0, __m256i row0, __m256i row1) {
    if constexpr (kTurn == TurnNone) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(placed(out, at, x0, y0)), row0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(placed(out, at, x0, y0 + 1)), row1);
    } else if constexpr (kTurn == TurnUpsideDown) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(placed(out, at, x0 + 15, y0)),
                            reverseWords16(row0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(placed(out, at, x0 + 15, y0 + 1)),
                            reverseWords16(row1));
    } else {
        // Column x becomes two adjacent destination pixels: (x, y0) then (x, y0 + 1) for turn 1,
        // the other way round for turn 2.
        const bool down = kTurn == TurnRightEdgeUp;
        const __m256i first = down ? row0 : row1;
        const __m256i second = down ? row1 : row0;
        // Pairs of columns 0-3, 8-11 | and 4-7, 12-15.
        const __m256i lo = _mm256_unpacklo_epi16(first, second);
        const __m256i hi = _mm256_unpackhi_epi16(first, second);
        const __m128i quarters[4] = {_mm256_castsi256_si128(lo), _mm256_castsi256_si128(hi),
                                     _mm256_extracti128_si256(lo, 1),
                                     _mm256_extracti128_si256(hi, 1)};
        // One pointer walks the sixteen destination rows; each pair is one 32-bit extract
        // stored straight from the register.
        uint8_t* p = placed(out, at, x0, down ? y0 : y0 + 1);
#pragma GCC unroll 8
        for (int q = 0; q < 4; ++q) {
            storeLane32<0>(p, quarters[q]);
            storeLane32<1>(p + at.xStep, quarters[q]);
            storeLane32<2>(p + 2 * at.xStep, quarters[q]);
            storeLane32<3>(p + 3 * at.xStep, quarters[q]);
            p += 4 * at.xStep;
        }
    }
}

// Eight pixels of one row in column order (row 0 of a block row) and eight of the next, through
// the 128-bit placement of two 4 x 2 blocks.
template <uint32_t kTurn>
LUMO_AVX2 inline void storeBlock8x2(uint8_t* out, const TurnedPlacement& at, int32_t x0, int32_t y0,
                                    __m128i row0, __m128i row1) {
    storeBlock4x2<kTurn>(out, at, x0, y0, _mm_unpacklo_epi64(row0, row1));
    storeBlock4x2<kTurn>(out, at, x0 + 4, y0, _mm_unpackhi_epi64(row0, row1));
}

// Rows 0 and 1 of a block row for groups g and g + 1 (sixteen columns).
struct BlockRow16 {
    __m256i row0, row1;
};

template <int kWindows>
LUMO_AVX2 inline __attribute__((always_inline)) BlockRow16 windowedBlockRow16(
    const WindowPlan& plan, const ResizeRows& rows, int32_t g) {
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i u = _mm256_sub_epi16(windowedChroma(rows.cb, plan, g), bias);
    const __m256i v = _mm256_sub_epi16(windowedChroma(rows.cr, plan, g), bias);
    return {studioToRgb565x16<kResizerColour>(windowedLuma<kWindows>(rows.y0, plan, g), u, v),
            studioToRgb565x16<kResizerColour>(windowedLuma<kWindows>(rows.y1, plan, g), u, v)};
}

// A last single group g of a block row.
template <uint32_t kTurn, int kWindows>
LUMO_AVX2 void windowedLastGroup(const WindowPlan& plan, const ResizeRows& rows, int32_t g,
                                 uint8_t* out, const TurnedPlacement& at, int32_t x0, int32_t y0) {
    const __m128i bias8 = _mm_set1_epi16(128);
    const __m128i u = _mm_sub_epi16(windowedChroma8(rows.cb, plan, g), bias8);
    const __m128i v = _mm_sub_epi16(windowedChroma8(rows.cr, plan, g), bias8);
    const __m128i row0 =
        studioToRgb565x8<kResizerColour>(windowedLuma8<kWindows>(rows.y0, plan, g), u, v);
    const __m128i row1 =
        studioToRgb565x8<kResizerColour>(windowedLuma8<kWindows>(rows.y1, plan, g), u, v);
    storeBlock8x2<kTurn>(out, at, x0 + kGroupColumns * g, y0, row0, row1);
}

template <uint32_t kTurn, int kWindows>
LUMO_AVX2 void resizeWindowed(const WindowPlan& plan, const ResizeRows& rows, int32_t groups,
                              uint8_t* out, const TurnedPlacement& at, int32_t x0, int32_t y0) {
    int32_t g = 0;
    for (; g + 2 <= groups; g += 2) {
        const BlockRow16 b = windowedBlockRow16<kWindows>(plan, rows, g);
        storeBlock16x2<kTurn>(out, at, x0 + kGroupColumns * g, y0, b.row0, b.row1);
    }
    if (g < groups) windowedLastGroup<kTurn, kWindows>(plan, rows, g, out, at, x0, y0);
}

// Turns 1 and 2, two block rows at once (output rows y0 .. y0 + 3): each of sixteen columns
// becomes four adjacent destination pixels, stored as one 8-byte store, where one block row
// alone gives 4-byte stores. Bit for bit what two resizeWindowed calls give.
template <uint32_t kTurn, int kWindows>
LUMO_AVX2 void resizeWindowedTwoRows(const WindowPlan& plan, const ResizeRows& rows,
                                     const ResizeRows& next, int32_t groups, uint8_t* out,
                                     const TurnedPlacement& at, int32_t x0, int32_t y0) {
    static_assert(kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp);
    constexpr bool kDown = kTurn == TurnRightEdgeUp;  // destination pixels run with y
    int32_t g = 0;
    for (; g + 2 <= groups; g += 2) {
        const BlockRow16 a = windowedBlockRow16<kWindows>(plan, rows, g);
        const BlockRow16 b = windowedBlockRow16<kWindows>(plan, next, g);
        // Memory order of each column's four pixels.
        const __m256i f0 = kDown ? a.row0 : b.row1, f1 = kDown ? a.row1 : b.row0;
        const __m256i f2 = kDown ? b.row0 : a.row1, f3 = kDown ? b.row1 : a.row0;
        const __m256i lo01 = _mm256_unpacklo_epi16(f0, f1);  // columns 0-3 | 8-11
        const __m256i hi01 = _mm256_unpackhi_epi16(f0, f1);  // columns 4-7 | 12-15
        const __m256i lo23 = _mm256_unpacklo_epi16(f2, f3);
        const __m256i hi23 = _mm256_unpackhi_epi16(f2, f3);
        // Each: two columns of four pixels per 128-bit half: [0, 1 | 8, 9], [2, 3 | 10, 11] ...
        const __m256i columns[4] = {
            _mm256_unpacklo_epi32(lo01, lo23), _mm256_unpackhi_epi32(lo01, lo23),
            _mm256_unpacklo_epi32(hi01, hi23), _mm256_unpackhi_epi32(hi01, hi23)};
        uint8_t* p = placed(out, at, x0 + kGroupColumns * g, kDown ? y0 : y0 + 3);
        const ptrdiff_t step = at.xStep;
#pragma GCC unroll 8
        for (int half = 0; half < 2; ++half) {
#pragma GCC unroll 8
            for (int n = 0; n < 4; ++n) {
                const __m128i two = half ? _mm256_extracti128_si256(columns[n], 1)
                                         : _mm256_castsi256_si128(columns[n]);
                store8Bytes(p, two);
                storeHigh8BytesDirect(p + step, two);
                p += 2 * step;
            }
        }
    }
    if (g < groups) {
        windowedLastGroup<kTurn, kWindows>(plan, rows, g, out, at, x0, y0);
        windowedLastGroup<kTurn, kWindows>(plan, next, g, out, at, x0, y0 + 2);
    }
}

// Sixteen pixels, lanes [row 0 columns 0-3, row 1 columns 0-3 | row 0 4-7, row 1 4-7], of one
// group gathered sample by sample.
template <uint32_t kTurn>
LUMO_AVX2 void resizeGathered(const int32_t* lumaColumns, const int32_t* chromaOfColumn,
                              const ResizeRows& rows, int32_t groups, uint8_t* out,
                              const TurnedPlacement& at, int32_t x0, int32_t y0) {
    const __m256i bias = _mm256_set1_epi16(128);
    for (int32_t g = 0; g < groups; ++g) {
        const ByteGather luma = planByteGather(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lumaColumns + kGroupColumns * g)));
        const ByteGather chroma = planByteGather(_mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(chromaOfColumn + kGroupColumns * g)));
        const __m256i y =
            _mm256_packus_epi32(gatherBytes(rows.y0, luma), gatherBytes(rows.y1, luma));
        const __m256i cb = gatherBytes(rows.cb, chroma);
        const __m256i cr = gatherBytes(rows.cr, chroma);
        const __m256i u = _mm256_sub_epi16(_mm256_packus_epi32(cb, cb), bias);
        const __m256i v = _mm256_sub_epi16(_mm256_packus_epi32(cr, cr), bias);
        const __m256i pixels = studioToRgb565x16<kResizerColour>(y, u, v);
        storeBlock4x2<kTurn>(out, at, x0 + kGroupColumns * g, y0, _mm256_castsi256_si128(pixels));
        storeBlock4x2<kTurn>(out, at, x0 + kGroupColumns * g + 4, y0,
                             _mm256_extracti128_si256(pixels, 1));
    }
}

template <uint32_t kTurn>
LUMO_AVX2 void resizeRotateAvx2(const PlanarYuv& planes, int32_t sw, int32_t /*sh*/, uint16_t* dst,
                                int32_t dstPitch, int32_t ow, int32_t oh, int32_t stepH,
                                int32_t stepV) {
    if (ow < 4 || oh < 2) return;
    const TurnedPlacement at = placeTurned(kTurn, ow, oh, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    ResizeColumns columns;
    WindowPlan plan;
    alignas(32) int32_t chromaOfColumn[2 * ResizeColumns::kBlocks];
    for (int32_t firstBlock = 0; firstBlock < ow / 2; firstBlock += ResizeColumns::kBlocks) {
        const int32_t blocks = std::min(ResizeColumns::kBlocks, ow / 2 - firstBlock);
        const int32_t groups = blocks / 4;
        columns.fill(firstBlock, blocks, stepH);
        planWindows(columns, groups, sw, plan);
        if (plan.windows == 0)
            for (int32_t b = 0; b < blocks; ++b)
                chromaOfColumn[2 * b] = chromaOfColumn[2 * b + 1] = columns.chroma[b];
        const int32_t x0 = 2 * firstBlock;
        for (int32_t j = 0; j < oh / 2; ++j) {
            const ResizeRows rows = resizeRows(planes, j, stepV);
            if constexpr (kTurn == TurnRightEdgeUp || kTurn == TurnLeftEdgeUp) {
                if (plan.windows != 0 && j + 1 < oh / 2) {
                    const ResizeRows next = resizeRows(planes, j + 1, stepV);
                    if (plan.windows == 1)
                        resizeWindowedTwoRows<kTurn, 1>(plan, rows, next, groups, out, at, x0,
                                                        2 * j);
                    else
                        resizeWindowedTwoRows<kTurn, 2>(plan, rows, next, groups, out, at, x0,
                                                        2 * j);
                    if (blocks % 4) {  // two blocks left in each block row
                        const int32_t b = 4 * groups;
                        for (int32_t k = j; k <= j + 1; ++k)
                            storeBlock4x2<kTurn>(
                                out, at, 2 * (firstBlock + b), 2 * k,
                                resizeTwoBlocks(k == j ? rows : next, columns.luma + 2 * b,
                                                columns.chroma + b));
                    }
                    ++j;
                    continue;
                }
            }
            if (plan.windows == 1) {
                resizeWindowed<kTurn, 1>(plan, rows, groups, out, at, x0, 2 * j);
            } else if (plan.windows == 2) {
                resizeWindowed<kTurn, 2>(plan, rows, groups, out, at, x0, 2 * j);
            } else {
                resizeGathered<kTurn>(columns.luma, chromaOfColumn, rows, groups, out, at, x0,
                                      2 * j);
            }
            if (blocks % 4) {  // two blocks left
                const int32_t b = 4 * groups;
                storeBlock4x2<kTurn>(
                    out, at, 2 * (firstBlock + b), 2 * j,
                    resizeTwoBlocks(rows, columns.luma + 2 * b, columns.chroma + b));
            }
        }
    }
}

}  // namespace

const ResizerSet kAvx2Resizers = {
    .name = "avx2",
    .resizeRotate = {resizeRotateAvx2<0>, resizeRotateAvx2<1>, resizeRotateAvx2<2>,
                     resizeRotateAvx2<3>},
};

}  // namespace preview_kernels

#else

namespace preview_kernels {
const ResizerSet kAvx2Resizers = {.name = "avx2"};
}

#endif
