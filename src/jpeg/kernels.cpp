// The scalar kernel table and the choice of a table for this process.
#include "jpeg/kernels.h"

#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/rotate_block.h"
#include "jpeg/sample.h"

const JpegKernels kScalarJpegKernels = {
    .name = "scalar",
    .uyvy422 = {sampleUyvy422<1>, sampleUyvy422<2>},
    .uyvy420 = {sampleUyvy420Half<1>, sampleUyvy420Half<2>},
    .rgb422 = {{sampleRgb422<Bgr24, 1>, sampleRgb422<Bgr24, 2>},
               {sampleRgb422<Rgb565, 1>, sampleRgb422<Rgb565, 2>},
               {sampleRgb422<Rgb555, 1>, sampleRgb422<Rgb555, 2>}},
    .rgb420 = {{sampleRgb420<Bgr24, 1>, sampleRgb420<Bgr24, 2>},
               {sampleRgb420<Rgb565, 1>, sampleRgb420<Rgb565, 2>},
               {sampleRgb420<Rgb555, 1>, sampleRgb420<Rgb555, 2>}},
    .luma = {{sampleLuma<Bgr24, 1>, sampleLuma<Bgr24, 2>},
             {sampleLuma<Rgb565, 1>, sampleLuma<Rgb565, 2>},
             {sampleLuma<Rgb555, 1>, sampleLuma<Rgb555, 2>},
             {sampleLuma<Uyvy, 1>, sampleLuma<Uyvy, 2>}},
    .fdct = forwardDctQuantize,
    .fdctPair = forwardDctQuantizePair,
    .encodeBlock = encodeBlock,
    .transformCode = transformThenCode<forwardDctQuantizePair, encodeBlock>,
    .rotate = {rotateBlock90, rotateBlock180, rotateBlock270},
};

const JpegKernels* jpegKernelsFor(simd::Level level) {
    switch (level) {
        case simd::Level::Scalar:
            return &kScalarJpegKernels;
#if defined(__x86_64__)
        case simd::Level::Sse2:
            return &kSse2JpegKernels;
        case simd::Level::Avx2:
            __builtin_cpu_init();
            // The AVX2 coder is also compiled for BMI2, which every AVX2 processor has.
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")
                       ? &kAvx2JpegKernels
                       : nullptr;
#endif
        default:
            return nullptr;
    }
}

const JpegKernels& jpegKernels() {
    static const JpegKernels& chosen = []() -> const JpegKernels& {
        const JpegKernels* k = jpegKernelsFor(simd::level());
        return k ? *k : kScalarJpegKernels;
    }();
    return chosen;
}
