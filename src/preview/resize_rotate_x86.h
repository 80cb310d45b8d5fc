// The SSE2 step of the rotate-resizer shared by its x86 variants: two 2 x 2 blocks (four columns,
// two rows) gathered through the column tables and converted. Internal to the preview kernels.
#pragma once

#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstdint>

#include "preview/kernel_simd_x86.h"
#include "preview/resize_columns.h"

namespace preview_kernels::x86 {
namespace {

// RGB565 of blocks with luma columns lumaColumns[0..3] and chroma columns chromaColumns[0..1]:
// lanes 0-3 row 0, lanes 4-7 row 1.
inline __m128i resizeTwoBlocks(const ResizeRows& rows, const int32_t* lumaColumns,
                               const int32_t* chromaColumns) {
    const int32_t* lc = lumaColumns;
    const __m128i y =
        _mm_setr_epi16(rows.y0[lc[0]], rows.y0[lc[1]], rows.y0[lc[2]], rows.y0[lc[3]],
                       rows.y1[lc[0]], rows.y1[lc[1]], rows.y1[lc[2]], rows.y1[lc[3]]);
    const int16_t cb0 = rows.cb[chromaColumns[0]], cb1 = rows.cb[chromaColumns[1]];
    const int16_t cr0 = rows.cr[chromaColumns[0]], cr1 = rows.cr[chromaColumns[1]];
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i u = _mm_sub_epi16(_mm_setr_epi16(cb0, cb0, cb1, cb1, cb0, cb0, cb1, cb1), bias);
    const __m128i v = _mm_sub_epi16(_mm_setr_epi16(cr0, cr0, cr1, cr1, cr0, cr0, cr1, cr1), bias);
    return studioToRgb565x8<kResizerColour>(y, u, v);
}

}  // namespace
}  // namespace preview_kernels::x86

#endif  // __x86_64__
