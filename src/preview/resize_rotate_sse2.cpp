// SSE2 variant of the rotate-resizer (output width a multiple of 4, height even); bit for bit the
// scalar results (resize_rotate.cpp).
//
// Sample columns do not depend on the row, so they are computed once per call (in chunks, into
// tables on the stack) with the scalar formulas; each block row then gathers its two luma rows and
// one chroma row through the tables. Two 2 x 2 blocks (four columns, two rows) are converted at a
// time on eight 16-bit lanes with exact 32-bit multiply-adds (lane pairs (Y - 16, V) x (298, 409),
// (Y - 16, U) x (298, 516), (Y - 16, U) x (298, -100) plus V x -208), arithmetic shifts 11 and
// 10, clamps 31 and 63.
#include "preview/kernel_variants.h"

#if defined(__x86_64__)

#include <algorithm>

#include "preview/kernel_simd_x86.h"
#include "preview/resize_columns.h"

namespace preview_kernels {
namespace {

using namespace x86;

template <uint32_t kTurn>
void resizeRotateSse2(const PlanarYuv& planes, int32_t /*sw*/, int32_t /*sh*/, uint16_t* dst,
                      int32_t dstPitch, int32_t ow, int32_t oh, int32_t stepH, int32_t stepV) {
    if (ow < 4 || oh < 2) return;
    const TurnedPlacement at = placeTurned(kTurn, ow, oh, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    const __m128i bias = _mm_set1_epi16(128);
    ResizeColumns columns;
    for (int32_t firstBlock = 0; firstBlock < ow / 2; firstBlock += ResizeColumns::kBlocks) {
        const int32_t blocks = std::min(ResizeColumns::kBlocks, ow / 2 - firstBlock);
        columns.fill(firstBlock, blocks, stepH);
        for (int32_t j = 0; j < oh / 2; ++j) {
            const ResizeRows rows = resizeRows(planes, j, stepV);
            for (int32_t b = 0; b < blocks; b += 2) {
                const int32_t* lc = columns.luma + 2 * b;
                const int32_t* cc = columns.chroma + b;
                const __m128i y =
                    _mm_setr_epi16(rows.y0[lc[0]], rows.y0[lc[1]], rows.y0[lc[2]], rows.y0[lc[3]],
                                   rows.y1[lc[0]], rows.y1[lc[1]], rows.y1[lc[2]], rows.y1[lc[3]]);
                const int16_t cb0 = rows.cb[cc[0]], cb1 = rows.cb[cc[1]];
                const int16_t cr0 = rows.cr[cc[0]], cr1 = rows.cr[cc[1]];
                const __m128i u =
                    _mm_sub_epi16(_mm_setr_epi16(cb0, cb0, cb1, cb1, cb0, cb0, cb1, cb1), bias);
                const __m128i v =
                    _mm_sub_epi16(_mm_setr_epi16(cr0, cr0, cr1, cr1, cr0, cr0, cr1, cr1), bias);
                storeBlock4x2<kTurn>(out, at, 2 * (firstBlock + b), 2 * j,
                                     studioToRgb565x8<kResizerColour>(y, u, v));
            }
        }
    }
}

}  // namespace

const ResizerSet kSse2Resizers = {
    .name = "sse2",
    .resizeRotate = {resizeRotateSse2<0>, resizeRotateSse2<1>, resizeRotateSse2<2>,
                     resizeRotateSse2<3>},
};

}  // namespace preview_kernels

#else

namespace preview_kernels {
const ResizerSet kSse2Resizers = {.name = "sse2"};
}

#endif
