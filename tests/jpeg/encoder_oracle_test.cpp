// The built-in encoder against an independent decoder: libjpeg-turbo must read every combination
// of source layout, chroma format, rotation and scale without a warning, at the turned size, and
// its YCbCr planes must match the source turned the same way.
#include <gtest/gtest.h>

#include <memory>

#include "jpeg/encoder.h"
#include "jpeg/jpeg_test_support.h"

namespace {

using namespace jpegtest;

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};
using EncoderPtr = std::unique_ptr<JpegEncoder, EncoderDeleter>;

struct Case {
    SourcePixelFormat layout;
    uint32_t format, rotation, scale, width, height, quality;
};

std::string describe(const Case& c) {
    static const char* layouts[] = {"bgr24", "rgb565", "rgb555", "uyvy"};
    return std::string(layouts[c.layout]) + " format " + std::to_string(c.format) + " rotation " +
           std::to_string(c.rotation) + " scale " + std::to_string(c.scale) + " " +
           std::to_string(c.width) + "x" + std::to_string(c.height) + " q" +
           std::to_string(c.quality);
}

std::vector<uint8_t> encode(JpegEncoder& e, const Case& c, std::vector<uint8_t>& source) {
    configureJpegEncoder(e, c.width, c.height, c.quality, c.format, c.scale, c.scale, c.rotation);
    std::vector<uint8_t> out(source.size() + 65536);
    const uint32_t n = encodeImage(e, out.data(), source.data(), 1, c.layout, out.size());
    out.resize(n);
    return out;
}

void checkDecodes(const Case& c, double minimumPsnr) {
    SCOPED_TRACE(describe(c));
    const RgbPicture picture = naturalPicture(c.width * c.scale, c.height * c.scale, c.width);
    std::vector<uint8_t> source = pack(picture, c.layout);
    EncoderPtr e(createJpegEncoder());
    ASSERT_TRUE(e);
    const std::vector<uint8_t> jpeg = encode(*e, c, source);
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

    const Decoded d = decodeJpeg(jpeg.data(), jpeg.size());
    ASSERT_TRUE(d.ok) << d.error;
    const bool turned = c.rotation == 1 || c.rotation == 3;
    EXPECT_EQ(d.width, int(turned ? c.height : c.width));
    EXPECT_EQ(d.height, int(turned ? c.width : c.height));
    int expected = TJSAMP_420;
    if (c.format == 4) expected = TJSAMP_GRAY;
    if (c.format == 2 && !turned) expected = TJSAMP_422;
    EXPECT_EQ(d.subsampling, expected);

    const Planes ref = referencePlanes(source, c.layout, c.width * c.scale, c.height * c.scale,
                                       c.scale, c.rotation);
    EXPECT_GT(planePsnr(d.y, d.width, d.height, ref.y, ref.width, ref.height), minimumPsnr);
    if (c.format != 4) {
        EXPECT_GT(planePsnr(d.cb, d.chromaWidth, d.chromaHeight, ref.cb, ref.width, ref.height),
                  minimumPsnr);
        EXPECT_GT(planePsnr(d.cr, d.chromaWidth, d.chromaHeight, ref.cr, ref.width, ref.height),
                  minimumPsnr);
    }
}

TEST(EncoderOracle, EveryLayoutFormatRotationAndScaleDecodesToTheTurnedSource) {
    for (SourcePixelFormat layout : {Uyvy, Rgb565, Rgb555, Bgr24}) {
        for (uint32_t format : {1u, 2u, 4u}) {
            for (uint32_t rotation = 0; rotation < 4; ++rotation) {
                for (uint32_t scale : {1u, 2u}) {
                    checkDecodes({layout, format, rotation, scale, 48, 32, 85}, 30);
                }
            }
        }
    }
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

TEST(EncoderOracle, GreyAtAQuarterTurnDecodesUpright) {
    // A picture whose left half is black and right half white, with a grey top-right corner:
    // turned by rotation 1 the right-hand column becomes the top row.
    const uint32_t w = 64, h = 32;
    std::vector<uint8_t> source(w * h * 2, 128);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t v = x < w / 2 ? 0 : 255;
            if (x >= w - 16 && y < 16) v = 128;
            source[(y * w + x) * 2 + 1] = v;
        }
    }
    for (uint32_t rotation : {1u, 3u}) {
        EncoderPtr e(createJpegEncoder());
        Case c{Uyvy, 4, rotation, 1, w, h, 95};
        const std::vector<uint8_t> jpeg = encode(*e, c, source);
        const Decoded d = decodeJpeg(jpeg.data(), jpeg.size());
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.width, int(h));
        ASSERT_EQ(d.height, int(w));
        auto at = [&](int x, int y) { return int(d.y[size_t(y) * d.width + x]); };
        if (rotation == 1) {
            // Top rows come from the white right half; the grey corner is at the top left.
            EXPECT_NEAR(at(4, 4), 128, 6);
            EXPECT_NEAR(at(24, 4), 255, 6);
            EXPECT_NEAR(at(24, 20), 255, 6);
            EXPECT_NEAR(at(4, 60), 0, 6);
            EXPECT_NEAR(at(24, 60), 0, 6);
        } else {
            // Rotation 3: the left half comes first; the grey corner is at the bottom right.
            EXPECT_NEAR(at(4, 4), 0, 6);
            EXPECT_NEAR(at(28, 60), 128, 6);
            EXPECT_NEAR(at(4, 60), 255, 6);
        }
    }
}

TEST(EncoderOracle, ReturnedLengthEndsAtEoiAndSequencesReuseTheHeaders) {
    EncoderPtr e(createJpegEncoder());
    const RgbPicture picture = naturalPicture(64, 48);
    std::vector<uint8_t> source = pack(picture, Uyvy);
    configureJpegEncoder(*e, 64, 48, 75, 1, 1, 1, 0);
    std::vector<uint8_t> out(100000, 0xAA);
    const uint32_t first = encodeImage(*e, out.data(), source.data(), 0, Uyvy, out.size());
    ASSERT_GT(first, kColourHeaderLength);
    EXPECT_EQ(e->headerLength, kColourHeaderLength);
    EXPECT_EQ(out[first - 2], 0xFF);
    EXPECT_EQ(out[first - 1], 0xD9);
    const std::vector<uint8_t> firstStream(out.begin(), out.begin() + first);

    // The next frame of a sequence leaves the header bytes alone and yields the same stream.
    std::fill(out.begin() + kColourHeaderLength, out.end(), 0x55);
    const uint32_t second = encodeImage(*e, out.data(), source.data(), 0, Uyvy, out.size());
    ASSERT_EQ(second, first);
    EXPECT_TRUE(std::equal(firstStream.begin(), firstStream.end(), out.begin()));
}

TEST(EncoderOracle, RefusesGeometryItCannotWalkAndDataThatWouldNotFit) {
    EncoderPtr e(createJpegEncoder());
    std::vector<uint8_t> source(64 * 64 * 3, 0);
    std::vector<uint8_t> out(source.size() + 4096);
    configureJpegEncoder(*e, 40, 32, 75, 1, 1, 1, 0);  // width not a multiple of 16
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u);
    configureJpegEncoder(*e, 32, 24, 75, 1, 1, 1, 0);  // 4:2:0 height not a multiple of 16
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u);
    configureJpegEncoder(*e, 32, 24, 75, 4, 1, 1, 1);  // grey turned: 16-line macroblocks
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u);
    configureJpegEncoder(*e, 32, 32, 75, 1, 2, 1, 0);  // unequal scales
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u);
    configureJpegEncoder(*e, 32, 32, 75, 3, 1, 1, 0);  // no such chroma format
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, out.size()), 0u);
    configureJpegEncoder(*e, 32, 32, 75, 1, 1, 1, 0);
    EXPECT_EQ(encodeImage(*e, out.data(), source.data(), 1, Uyvy, 600), 0u);  // header too big

    // Noise at quality 100 outgrows a buffer the size of the frame: the picture is refused and
    // nothing is written past the stated capacity.
    const uint32_t w = 128, h = 128;
    const RgbPicture noise = randomPicture(w, h, 7);
    std::vector<uint8_t> packed = pack(noise, Uyvy);
    std::vector<uint8_t> buffer(packed.size() + 64, 0xEE);
    configureJpegEncoder(*e, w, h, 100, 2, 1, 1, 0);
    EXPECT_EQ(encodeImage(*e, buffer.data(), packed.data(), 1, Uyvy, packed.size()), 0u);
    for (size_t i = packed.size(); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
    // With room enough the same picture encodes and decodes.
    std::vector<uint8_t> big(packed.size() * 4);
    const uint32_t n = encodeImage(*e, big.data(), packed.data(), 1, Uyvy, big.size());
    ASSERT_GT(n, packed.size());
    EXPECT_TRUE(decodeJpeg(big.data(), n).ok);
}

}  // namespace
