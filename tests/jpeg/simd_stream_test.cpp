// Whole streams are bit-identical whichever kernel table encodes them.
#include <gtest/gtest.h>

#include <memory>

#include "jpeg/encoder.h"
#include "jpeg/jpeg_test_support.h"
#include "jpeg/kernels.h"

namespace {

using namespace jpegtest;

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};

std::vector<uint8_t> encodeWith(const JpegKernels& k, JpegEncoder& e,
                                const std::vector<uint8_t>& source, SourcePixelFormat layout) {
    std::vector<uint8_t> out(source.size() * 4 + 65536);
    const uint32_t n = encodeImageWith(k, e, out.data(), source.data(), 1, layout, out.size());
    out.resize(n);
    return out;
}

TEST(SimdStreams, EveryTableWritesTheSameBytes) {
    std::vector<const JpegKernels*> vector;
    for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2})
        if (const JpegKernels* k = jpegKernelsFor(level)) vector.push_back(k);
    if (vector.empty()) GTEST_SKIP() << "no vector kernels on this processor";

    std::unique_ptr<JpegEncoder, EncoderDeleter> e(createJpegEncoder());
    const uint32_t sizes[][2] = {{16, 16}, {48, 32}, {112, 48}, {32, 96}};
    int streams = 0;
    for (SourcePixelFormat layout : {Uyvy, Rgb565, Rgb555, Bgr24}) {
        for (uint32_t format : {1u, 2u, 4u}) {
            for (uint32_t rotation = 0; rotation < 4; ++rotation) {
                for (uint32_t scale : {1u, 2u}) {
                    for (const auto& size : sizes) {
                        for (int natural = 0; natural < 2; ++natural) {
                            const uint32_t w = size[0], h = size[1];
                            const uint32_t quality = natural ? 85 : (streams % 2 ? 100 : 30);
                            const RgbPicture p = natural
                                                     ? naturalPicture(w * scale, h * scale, w + h)
                                                     : randomPicture(w * scale, h * scale, w * h);
                            const std::vector<uint8_t> source = pack(p, layout);
                            configureJpegEncoder(*e, w, h, quality, format, scale, scale, rotation);
                            const auto expected =
                                encodeWith(kScalarJpegKernels, *e, source, layout);
                            ASSERT_GT(expected.size(), 0u);
                            for (const JpegKernels* k : vector) {
                                ASSERT_EQ(encodeWith(*k, *e, source, layout), expected)
                                    << k->name << " layout " << layout << " format " << format
                                    << " rotation " << rotation << " scale " << scale << " " << w
                                    << "x" << h << (natural ? " natural" : " random");
                            }
                            ++streams;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(streams, 4 * 3 * 4 * 2 * 4 * 2);
}

}  // namespace
