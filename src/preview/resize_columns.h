// Sample positions of the rotate-resizer for its vector variants: the columns of a run of 2 x 2
// blocks (the same for every block row, so computed once per call into a table on the stack) and
// the rows of one block row. Same formulas as the scalar reference (resize_rotate.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "preview/kernel_types.h"

namespace preview_kernels {

constexpr int64_t kResizeHalf = 0x8000;  // 0.5 in 16.16

struct ResizeColumns {
    static constexpr int32_t kBlocks = 512;  // block columns per table; even
    int32_t luma[2 * kBlocks];               // c0 and c1 of each block
    int32_t chroma[kBlocks];                 // cc of each block

    // Columns of blocks firstBlock .. firstBlock + blocks - 1 (blocks <= kBlocks).
    void fill(int32_t firstBlock, int32_t blocks, int32_t stepH) {
        for (int32_t b = 0; b < blocks; ++b) {
            const int64_t i = firstBlock + b;
            luma[2 * b] = static_cast<int32_t>((kResizeHalf + 2 * i * stepH) >> 16);
            luma[2 * b + 1] = static_cast<int32_t>((kResizeHalf + (2 * i + 1) * stepH) >> 16);
            chroma[b] = static_cast<int32_t>((kResizeHalf + i * stepH) >> 16);
        }
    }
};
static_assert(ResizeColumns::kBlocks % 4 == 0, "vector loops take two or four blocks at a time");

// The two luma rows and the chroma rows of block row j.
struct ResizeRows {
    const uint8_t* y0;
    const uint8_t* y1;
    const uint8_t* cb;
    const uint8_t* cr;
};

inline ResizeRows resizeRows(const PlanarYuv& planes, int32_t j, int32_t stepV) {
    const int64_t a = int64_t{2} * j * stepV;
    const ptrdiff_t chromaRow = (a + 2 * kResizeHalf) >> 17;
    return {planes.y + ((a + kResizeHalf) >> 16) * planes.yStride,
            planes.y + ((a + kResizeHalf + stepV) >> 16) * planes.yStride,
            planes.cb + chromaRow * planes.cbStride, planes.cr + chromaRow * planes.crStride};
}

}  // namespace preview_kernels
