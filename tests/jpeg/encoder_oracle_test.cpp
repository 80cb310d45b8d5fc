// The built-in encoder against an independent decoder: libjpeg-turbo must read every combination
// of source layout, chroma format, rotation and scale without a warning, at the turned size, and
// its YCbCr planes must match the source turned the same way (so a picture that decodes upright
// at every rotation, grey included).
#include <gtest/gtest.h>

#include "jpeg/jpeg_test_support.h"
#include "jpeg/kernels.h"

namespace {

using namespace jpegtest;

struct Case {
    SourcePixelFormat layout;
    uint32_t format, rotation, scale, width, height, quality;
};

void checkDecodes(const Case& c, double minimumPsnr) {
    SCOPED_TRACE(::testing::Message()
                 << "layout " << c.layout << " format " << c.format << " rotation " << c.rotation
                 << " scale " << c.scale << " " << c.width << "x" << c.height << " q" << c.quality);
    const RgbPicture picture = naturalPicture(c.width * c.scale, c.height * c.scale, c.width);
    const std::vector<uint8_t> source = pack(picture, c.layout);
    EncoderPtr e(createJpegEncoder());
    configureJpegEncoder(*e, c.width, c.height, c.quality, c.format, c.scale, c.scale, c.rotation);
    std::vector<uint8_t> jpeg(source.size() + 65536);
    jpeg.resize(encodeImage(*e, jpeg.data(), source.data(), 1, c.layout, jpeg.size()));
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

    const bool turned = c.rotation == 1 || c.rotation == 3;
    const Decoded d = expectShows(jpeg.data(), jpeg.size(), source, c.layout, c.width, c.height,
                                  c.scale, c.rotation, minimumPsnr, minimumPsnr);
    EXPECT_EQ(d.subsampling, c.format == 4              ? TJSAMP_GRAY
                             : c.format == 2 && !turned ? TJSAMP_422
                                                        : TJSAMP_420);
}

TEST(EncoderOracle, EveryLayoutFormatRotationAndScaleDecodesToTheTurnedSource) {
    for (SourcePixelFormat layout : {Uyvy, Rgb565, Rgb555, Bgr24})
        for (uint32_t format : {1u, 2u, 4u})
            for (uint32_t rotation = 0; rotation < 4; ++rotation)
                for (uint32_t scale : {1u, 2u})
                    checkDecodes({layout, format, rotation, scale, 48, 32, 85}, 30);
}

TEST(EncoderOracle, SizesAndQualities) {
    for (uint32_t quality : {1u, 10u, 50u, 75u, 100u}) {
        const double floor = quality >= 75 ? 26 : 12;  // 16 x 16 pictures are all detail
        checkDecodes({Uyvy, 1, 0, 1, 16, 16, quality}, floor);
        checkDecodes({Uyvy, 2, 2, 1, 80, 8, quality}, floor);
        checkDecodes({Rgb565, 1, 1, 1, 64, 48, quality}, floor);
        checkDecodes({Uyvy, 4, 3, 2, 32, 80, quality}, floor);
        checkDecodes({Bgr24, 2, 0, 1, 112, 24, quality}, floor);
    }
    checkDecodes({Uyvy, 1, 1, 1, 320, 240, 85}, 34);
    checkDecodes({Uyvy, 2, 0, 2, 176, 144, 85}, 34);
}

// The next frame of a sequence (no headers asked for) leaves the header bytes alone and yields
// the same stream.
TEST(EncoderOracle, SequencesReuseTheHeaders) {
    EncoderPtr e(createJpegEncoder());
    std::vector<uint8_t> source = pack(naturalPicture(64, 48), Uyvy);
    configureJpegEncoder(*e, 64, 48, 75, 1, 1, 1, 0);
    std::vector<uint8_t> out(100000, 0xAA);
    const uint32_t first = encodeImage(*e, out.data(), source.data(), 0, Uyvy, out.size());
    ASSERT_GT(first, kColourHeaderLength);
    EXPECT_EQ(e->headerLength, kColourHeaderLength);
    const std::vector<uint8_t> firstStream(out.begin(), out.begin() + first);
    std::fill(out.begin() + kColourHeaderLength, out.end(), 0x55);
    ASSERT_EQ(encodeImage(*e, out.data(), source.data(), 0, Uyvy, out.size()), first);
    EXPECT_TRUE(std::equal(firstStream.begin(), firstStream.end(), out.begin()));
}

TEST(EncoderOracle, RefusesGeometryItCannotWalkAndDataThatWouldNotFit) {
    EncoderPtr e(createJpegEncoder());
    std::vector<uint8_t> source(64 * 64 * 3, 0);
    std::vector<uint8_t> out(source.size() + 4096);
    const uint32_t refused[][5] = {
        {40, 32, 1, 1, 0},  // width not a multiple of 16
        {32, 24, 1, 1, 0},  // 4:2:0 height not a multiple of 16
        {32, 24, 4, 1, 1},  // grey turned: 16-line macroblocks
        {32, 32, 1, 2, 0},  // unequal scales
        {32, 32, 3, 1, 0},  // no such chroma format
    };
    for (const auto& r : refused) {
        configureJpegEncoder(*e, r[0], r[1], 75, r[2], r[3], 1, r[4]);
        EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u) << r[0];
    }
    configureJpegEncoder(*e, 32, 32, 75, 1, 1, 1, 0);
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, 600), 0u);  // header too big

    // Noise at quality 100 outgrows a buffer the size of the frame: the picture is refused and
    // nothing is written past the stated capacity; with room enough it encodes and decodes.
    std::vector<uint8_t> packed = pack(randomPicture(128, 128, 7), Uyvy);
    std::vector<uint8_t> buffer(packed.size() + 64, 0xEE);
    configureJpegEncoder(*e, 128, 128, 100, 2, 1, 1, 0);
    EXPECT_EQ(encodeImage(*e, buffer.data(), packed.data(), 1, Uyvy, packed.size()), 0u);
    EXPECT_TRUE(std::all_of(buffer.begin() + long(packed.size()), buffer.end(),
                            [](uint8_t b) { return b == 0xEE; }));
    std::vector<uint8_t> big(packed.size() * 4);
    const uint32_t n = encodeImage(*e, big.data(), packed.data(), 1, Uyvy, big.size());
    ASSERT_GT(n, packed.size());
    EXPECT_TRUE(decodeJpeg(big.data(), n).ok);
}

// Whole streams are bit-identical whichever kernel table encodes them.
TEST(SimdStreams, EveryTableWritesTheSameBytes) {
    std::vector<const JpegKernels*> tables = {&kScalarJpegKernels};
    for (const JpegKernels* k : vectorKernels()) tables.push_back(k);
    if (tables.size() == 1) GTEST_SKIP() << "no vector kernels on this processor";
    EncoderPtr e(createJpegEncoder());
    const uint32_t sizes[][2] = {{16, 16}, {48, 32}, {112, 48}, {32, 96}};
    int streams = 0;
    for (SourcePixelFormat layout : {Uyvy, Rgb565, Rgb555, Bgr24})
        for (uint32_t format : {1u, 2u, 4u})
            for (uint32_t rotation = 0; rotation < 4; ++rotation)
                for (uint32_t scale : {1u, 2u})
                    for (const auto& [w, h] : sizes)
                        for (int natural = 0; natural < 2; ++natural, ++streams) {
                            SCOPED_TRACE(::testing::Message()
                                         << "layout " << layout << " format " << format
                                         << " rotation " << rotation << " scale " << scale << " "
                                         << w << "x" << h << " natural " << natural);
                            const std::vector<uint8_t> source =
                                pack(natural ? naturalPicture(w * scale, h * scale, w + h)
                                             : randomPicture(w * scale, h * scale, w * h),
                                     layout);
                            const uint32_t quality = natural ? 85 : (streams % 2 ? 100 : 30);
                            configureJpegEncoder(*e, w, h, quality, format, scale, scale, rotation);
                            std::vector<uint8_t> expected;
                            for (const JpegKernels* k : tables) {
                                std::vector<uint8_t> out(source.size() * 4 + 65536);
                                out.resize(encodeImageWith(*k, *e, out.data(), source.data(), 1,
                                                           layout, out.size()));
                                ASSERT_GT(out.size(), 0u) << k->name;
                                if (expected.empty()) expected = out;
                                ASSERT_EQ(out, expected) << k->name;
                            }
                        }
    EXPECT_EQ(streams, 4 * 3 * 4 * 2 * 4 * 2);
}

}  // namespace
