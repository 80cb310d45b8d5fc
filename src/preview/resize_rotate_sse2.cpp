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
#include "preview/resize_rotate_x86.h"

namespace preview_kernels {
namespace {

using namespace x86;

template <uint32_t kTurn>
void resizeRotateSse2(const PlanarYuv& planes, int32_t /*sw*/, int32_t /*sh*/, uint16_t* dst,
                      int32_t dstPitch, int32_t ow, int32_t oh, int32_t stepH, int32_t stepV) {
    if (ow < 4 || oh < 2) return;
    const TurnedPlacement at = placeTurned(kTurn, ow, oh, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    ResizeColumns columns;
    for (int32_t firstBlock = 0; firstBlock < ow / 2; firstBlock += ResizeColumns::kBlocks) {
        const int32_t blocks = std::min(ResizeColumns::kBlocks, ow / 2 - firstBlock);
        columns.fill(firstBlock, blocks, stepH);
        for (int32_t j = 0; j < oh / 2; ++j) {
            const ResizeRows rows = resizeRows(planes, j, stepV);
            for (int32_t b = 0; b < blocks; b += 2)
                storeBlock4x2<kTurn>(
                    out, at, 2 * (firstBlock + b), 2 * j,
                    resizeTwoBlocks(rows, columns.luma + 2 * b, columns.chroma + b));
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
