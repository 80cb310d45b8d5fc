// Sampling kernels: the worked examples, and every vector variant against the scalar reference
// on random input (checkasm style).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "camera/frame.h"
#include "jpeg/kernels.h"

namespace {

const JpegKernels& scalar() {
    return kScalarJpegKernels;
}

TEST(Sampling, WhiteRgb565PairGivesY122AndChromaMinus2) {
    // A 16 x 16 macroblock of 0xFFFF: 5- and 6-bit maxima widen to 248 and 252.
    std::vector<uint8_t> source(16 * 16 * 2, 0xFF);
    std::vector<int16_t> blocks(6 * 64, 99);
    scalar().rgb420[Rgb565][0](source.data(), 32, &blocks[0], &blocks[256], &blocks[320]);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(blocks[i], 122);
    for (int i = 256; i < 384; ++i) EXPECT_EQ(blocks[i], -2);
    scalar().rgb422[Rgb565][0](source.data(), 32, &blocks[0], &blocks[128], &blocks[192]);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(blocks[i], 122);
    for (int i = 128; i < 256; ++i) EXPECT_EQ(blocks[i], -2);
}

TEST(Sampling, HalvingRoundsBothAverages) {
    // Every 2 x 2 group holds 0 above and 1 below: (0 + 1 + 1) >> 1 = 1, then (1 + 1 + 1) >> 1.
    const uint32_t stride = 32 * 2;
    std::vector<uint8_t> source(stride * 16);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t i = 0; i < stride; ++i) source[y * stride + i] = uint8_t(y % 2);
    std::vector<int16_t> blocks(6 * 64, 0);
    scalar().uyvy422[1](source.data(), stride, &blocks[0], &blocks[128]);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(blocks[i], 1 - 128) << i;
}

// checkasm: the same random macroblock through the scalar and each vector kernel.
template <typename Call>
void compareVariants(size_t sourceBytes, Call call) {
    std::mt19937 random(21);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<uint8_t> source(sourceBytes);
        for (auto& b : source) b = uint8_t(random());
        if (trial % 4 == 0)  // extremes: only 0 and 255
            for (auto& b : source) b = (b & 1) ? 255 : 0;
        std::vector<int16_t> expected(6 * 64, 0x5A5A);
        call(scalar(), source.data(), expected.data());
        for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2}) {
            const JpegKernels* k = jpegKernelsFor(level);
            if (k == nullptr) continue;
            std::vector<int16_t> got(6 * 64, 0x5A5A);
            call(*k, source.data(), got.data());
            ASSERT_EQ(got, expected) << k->name << " trial " << trial;
        }
    }
}

TEST(Sampling, VectorKernelsMatchTheReference) {
    for (int s = 0; s < 2; ++s) {
        const uint32_t scale = s + 1;
        // Rows a little longer than the macroblock, so the stride differs from its width.
        const uint32_t uyvyStride = 16 * scale * 2 + 8;
        const size_t uyvyBytes = uyvyStride * 16 * scale;
        SCOPED_TRACE(scale);
        compareVariants(uyvyBytes, [&](const JpegKernels& k, const uint8_t* src, int16_t* b) {
            k.uyvy422[s](src, uyvyStride, b, b + 128);
        });
        compareVariants(uyvyBytes, [&](const JpegKernels& k, const uint8_t* src, int16_t* b) {
            k.uyvy420[s](src, uyvyStride, b, b + 128);
            k.uyvy420[s](src + 8 * scale * uyvyStride, uyvyStride, b + 256, b + 160);
        });
        for (SourcePixelFormat layout : {Bgr24, Rgb565, Rgb555, Uyvy}) {
            SCOPED_TRACE(layout);
            const uint32_t stride = 16 * scale * bytesPerPixel(layout) + 6;
            const size_t bytes = stride * 16 * scale;
            compareVariants(bytes, [&](const JpegKernels& k, const uint8_t* src, int16_t* b) {
                k.luma[layout][s](src, stride, b);
            });
            if (layout == Uyvy) continue;
            compareVariants(bytes, [&](const JpegKernels& k, const uint8_t* src, int16_t* b) {
                k.rgb422[layout][s](src, stride, b, b + 128, b + 192);
            });
            compareVariants(bytes, [&](const JpegKernels& k, const uint8_t* src, int16_t* b) {
                k.rgb420[layout][s](src, stride, b, b + 256, b + 320);
            });
        }
    }
}

}  // namespace
