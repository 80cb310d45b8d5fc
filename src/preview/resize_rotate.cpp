// Rotate-resize kernel, scalar reference version, and the choice of variant.
//
// The output is made in 2 x 2 blocks (source axes) that share one chroma sample. Positions are
// 16.16 and rounded to the nearest source sample by adding one half (0x8000) before the shift:
//   block row j:     a = 2 j stepV;  luma rows (a + 0x8000) >> 16 and (a + 0x8000 + stepV) >> 16,
//                    chroma row (a + 0x10000) >> 17 (the luma position halved, rounded the same)
//   block column i:  luma columns (0x8000 + 2i stepH) >> 16 and (0x8000 + (2i+1) stepH) >> 16,
//                    chroma column (0x8000 + i stepH) >> 16
// Positions are computed in 64 bits, so no step or size can overflow them; within the sizes the
// preview uses they equal the 32-bit arithmetic of the design. Colour: studio-range BT.601 with
// 8-bit fractions (kernel_variants.h), truncated once per channel. Each pixel is placed through
// the turn with w = ow, h = oh. An odd last column (row) is then copied from the one before it.
#include "preview/resize_rotate.h"

#include <cstddef>
#include <cstring>

#include "preview/kernel_variants.h"
#include "simd/cpu.h"

namespace preview_kernels {
namespace {

constexpr int64_t kHalf = 0x8000;  // 0.5 in 16.16

template <uint32_t kTurn>
void resizeRotateScalar(const PlanarYuv& planes, int32_t /*sw*/, int32_t /*sh*/, uint16_t* dst,
                        int32_t dstPitch, int32_t ow, int32_t oh, int32_t stepH, int32_t stepV) {
    if (ow < 2 || oh < 2) return;  // no whole block, and nothing to repeat an odd edge from
    const TurnedPlacement at = placeTurned(kTurn, ow, oh, dstPitch, 2);
    uint8_t* const out = reinterpret_cast<uint8_t*>(dst) + at.origin;
    auto put = [&](int32_t x, int32_t y, uint16_t pixel) {
        std::memcpy(out + x * at.xStep + y * at.yStep, &pixel, sizeof pixel);
    };
    auto copy = [&](int32_t fromX, int32_t fromY, int32_t toX, int32_t toY) {
        std::memcpy(out + toX * at.xStep + toY * at.yStep,
                    out + fromX * at.xStep + fromY * at.yStep, 2);
    };
    for (int32_t j = 0; j < oh / 2; ++j) {
        const int64_t a = int64_t{2} * j * stepV;
        const uint8_t* y0 = planes.y + ((a + kHalf) >> 16) * planes.yStride;
        const uint8_t* y1 = planes.y + ((a + kHalf + stepV) >> 16) * planes.yStride;
        const ptrdiff_t chromaRow = (a + 2 * kHalf) >> 17;
        const uint8_t* cbRow = planes.cb + chromaRow * planes.cbStride;
        const uint8_t* crRow = planes.cr + chromaRow * planes.crStride;
        for (int32_t i = 0; i < ow / 2; ++i) {
            const ptrdiff_t c0 = (kHalf + int64_t{2 * i} * stepH) >> 16;
            const ptrdiff_t c1 = (kHalf + int64_t{2 * i + 1} * stepH) >> 16;
            const ptrdiff_t cc = (kHalf + int64_t{i} * stepH) >> 16;
            const int32_t cb = cbRow[cc];
            const int32_t cr = crRow[cc];
            put(2 * i, 2 * j, studioToRgb565<kResizerColour>(y0[c0], cb, cr));
            put(2 * i + 1, 2 * j, studioToRgb565<kResizerColour>(y0[c1], cb, cr));
            put(2 * i, 2 * j + 1, studioToRgb565<kResizerColour>(y1[c0], cb, cr));
            put(2 * i + 1, 2 * j + 1, studioToRgb565<kResizerColour>(y1[c1], cb, cr));
        }
        if (ow & 1) {
            copy(ow - 2, 2 * j, ow - 1, 2 * j);
            copy(ow - 2, 2 * j + 1, ow - 1, 2 * j + 1);
        }
    }
    if (oh & 1) {
        for (int32_t x = 0; x < ow; ++x) copy(x, oh - 2, x, oh - 1);
    }
}

ResizerSet chooseResizers() {
    ResizerSet set = kScalarResizers;
    const simd::Level level = simd::level();
    auto preferAll = [&set](const ResizerSet& better) {
        set.name = better.name;
        for (int t = 0; t < 4; ++t)
            if (better.resizeRotate[t]) set.resizeRotate[t] = better.resizeRotate[t];
    };
    if (level == simd::Level::Sse2 || level == simd::Level::Avx2) preferAll(kSse2Resizers);
    if (level == simd::Level::Avx2) preferAll(kAvx2Resizers);
    return set;
}

}  // namespace

const ResizerSet kScalarResizers = {
    .name = "scalar",
    .resizeRotate = {resizeRotateScalar<0>, resizeRotateScalar<1>, resizeRotateScalar<2>,
                     resizeRotateScalar<3>},
};

const ResizerSet& activeResizers() {
    static const ResizerSet chosen = chooseResizers();
    return chosen;
}

}  // namespace preview_kernels

int resizeRotate(const PlanarYuv& planes, int32_t sw, int32_t sh, uint16_t* dst, int32_t dstPitch,
                 int32_t ow, int32_t oh, KernelTurn turn, int32_t stepH, int32_t stepV) {
    using namespace preview_kernels;
    const bool vectorShape = ow % 4 == 0 && oh % 2 == 0;
    const ResizerSet& set = vectorShape ? activeResizers() : kScalarResizers;
    set.resizeRotate[turn & 3](planes, sw, sh, dst, dstPitch, ow, oh, stepH, stepV);
    return 0;
}
