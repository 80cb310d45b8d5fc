// The built-in encoder's per-macroblock and per-block kernels, one table per instruction set.
// The scalar table is the reference; every other table produces the same bytes from the same
// input. The encoder picks a table once per process (jpegKernels); tests reach each table
// through jpegKernelsFor and compare them on random input.
#pragma once

#include <cstdint>

#include "simd/cpu.h"

// Sampling of one macroblock region (sample.h has the arithmetic). `stride` is the source row
// length in bytes.
//   Uyvy: luma gets two blocks (left, then right 64 samples later); Cb goes to `chroma` and Cr
//   64 samples after it.
using UyvySampleFn = void (*)(const uint8_t* source, uint32_t stride, int16_t* luma,
                              int16_t* chroma);
//   RGB: luma gets two (8-line) or four (16-line: top-left, top-right, bottom-left,
//   bottom-right) consecutive blocks; one Cb and one Cr block.
using RgbSampleFn = void (*)(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb,
                             int16_t* cr);
//   Grey: the two luminance blocks of a 16 x 8 region, any source layout.
using LumaSampleFn = void (*)(const uint8_t* source, uint32_t stride, int16_t* luma);

// Transform and quantisation of one block in place, and of two blocks with their own tables.
using FdctFn = void (*)(int16_t* block, const uint16_t* reciprocals);
using FdctPairFn = void (*)(int16_t* first, const uint16_t* firstReciprocals, int16_t* second,
                            const uint16_t* secondReciprocals);

// Huffman coding of one quantised block into the bit stream (huffman.h).
using EncodeBlockFn = void (*)(const int16_t* block, uint8_t* output, uint32_t* cursor,
                               int16_t* dcPredictor, const uint32_t* dcTable,
                               const uint32_t* acTable);

// What coding a block of one component needs: the reciprocals of its quantisation table, its DC
// predictor and its code tables.
struct ComponentCoding {
    const uint16_t* reciprocals;
    int16_t* dcPredictor;
    const uint32_t* dcTable;
    const uint32_t* acTable;
};
// One block to transform and code: its sample block (left unspecified afterwards) and its
// component.
struct BlockJob {
    int16_t* block;
    const ComponentCoding* coding;
};
// Transform, quantisation and coding of `count` blocks (an even number), coded in order: the
// stream, cursor and predictors that fdctPair on jobs 0-1, 2-3, ... followed by encodeBlock on
// each job give. The caller leaves room for count x kMaxCodedBlockBytes bytes after the cursor.
using TransformCodeFn = void (*)(const BlockJob* jobs, uint32_t count, uint8_t* output,
                                 uint32_t* cursor);

// The composition itself, for tiers without a fused kernel.
template <FdctPairFn Pair, EncodeBlockFn Code>
void transformThenCode(const BlockJob* jobs, uint32_t count, uint8_t* output, uint32_t* cursor) {
    for (uint32_t j = 0; j + 1 < count; j += 2)
        Pair(jobs[j].block, jobs[j].coding->reciprocals, jobs[j + 1].block,
             jobs[j + 1].coding->reciprocals);
    for (uint32_t j = 0; j < count; ++j) {
        const ComponentCoding& c = *jobs[j].coding;
        Code(jobs[j].block, output, cursor, c.dcPredictor, c.dcTable, c.acTable);
    }
}

// A quarter-turn of a sample block; destination may be the source.
using RotateBlockFn = void (*)(int16_t* destination, const int16_t* source);

// Index of the RGB layouts in the tables: SourcePixelFormat Bgr24, Rgb565, Rgb555.
constexpr int kRgbLayouts = 3;
// Index of the scale factor in the tables: scale - 1.
constexpr int kScales = 2;

struct JpegKernels {
    const char* name;
    UyvySampleFn uyvy422[kScales];  // 8-line macroblock: 4:2:2 chroma, 8 rows
    UyvySampleFn uyvy420[kScales];  // one 8-line half of a 16-line macroblock: 4 chroma rows
    RgbSampleFn rgb422[kRgbLayouts][kScales];  // 8-line macroblock
    RgbSampleFn rgb420[kRgbLayouts][kScales];  // 16-line macroblock
    LumaSampleFn luma[4][kScales];             // [SourcePixelFormat][scale - 1]
    FdctFn fdct;
    FdctPairFn fdctPair;
    EncodeBlockFn encodeBlock;
    TransformCodeFn transformCode;
    RotateBlockFn rotate[3];  // rotation 1, 2, 3: rotateBlock90, rotateBlock180, rotateBlock270
};

// The scalar table is in kernels.cpp; each vector table sits beside its sampling kernels
// (sample_sse2.cpp, sample_avx2.cpp), whose templates it instantiates.
extern const JpegKernels kScalarJpegKernels;
#if defined(__x86_64__)
extern const JpegKernels kSse2JpegKernels;
extern const JpegKernels kAvx2JpegKernels;
#endif

// The table for this process: the best the processor offers, scalar under LUMO_NO_SIMD=1.
const JpegKernels& jpegKernels();

// The table for one level, or null when it was not built for this processor family or the
// processor lacks the instructions.
const JpegKernels* jpegKernelsFor(simd::Level level);
