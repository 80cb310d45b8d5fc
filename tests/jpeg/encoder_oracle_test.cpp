// The built-in encoder against an independent decoder: libjpeg-turbo must read every combination
// of source layout, chroma format, rotation and scale without a warning, at the turned size, and
// its YCbCr planes must match the source turned the same way (so a picture that decodes upright
// at every rotation, grey included). Every stream is encoded with every kernel table, which must
// write the same bytes.
#include <gtest/gtest.h>

#include "jpeg/jpeg_test_support.h"
#include "jpeg/kernels.h"

namespace {

using namespace jpegtest;

// Encodes the frame with the scalar table and each vector table: the streams must be identical.
std::vector<uint8_t> encodeWithEveryTable(JpegEncoder& e, const std::vector<uint8_t>& source,
                                          SourcePixelFormat layout) {
    std::vector<const JpegKernels*> tables = {&kScalarJpegKernels};
    for (const JpegKernels* k : vectorKernels()) tables.push_back(k);
    std::vector<uint8_t> expected;
    for (const JpegKernels* k : tables) {
        std::vector<uint8_t> out(source.size() * 4 + 65536);
        out.resize(encodeImageWith(*k, e, out.data(), source.data(), 1, layout, out.size()));
        EXPECT_GT(out.size(), 4u) << k->name;
        if (k == tables.front()) expected = out;
        EXPECT_EQ(out, expected) << k->name;
    }
    return expected;
}

struct Case {
    SourcePixelFormat layout;
    uint32_t format, rotation, scale, width, height, quality;
};

void checkDecodes(const Case& c, double minimumPsnr) {
    SCOPED_TRACE(::testing::Message()
                 << "layout " << c.layout << " format " << c.format << " rotation " << c.rotation
                 << " scale " << c.scale << " " << c.width << "x" << c.height << " q" << c.quality);
    const Source source =
        pack(naturalPicture(c.width * c.scale, c.height * c.scale, c.width), c.layout);
    EncoderPtr e(createJpegEncoder());
    configureJpegEncoder(*e, c.width, c.height, c.quality, c.format, c.scale, c.scale, c.rotation);
    const std::vector<uint8_t> jpeg = encodeWithEveryTable(*e, source.bytes, c.layout);
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    const Decoded d = expectShows(jpeg.data(), jpeg.size(), source.shown, c.scale, c.rotation,
                                  minimumPsnr, minimumPsnr);
    EXPECT_EQ(d.subsampling, c.format == 4                          ? TJSAMP_GRAY
                             : c.format == 2 && c.rotation % 2 == 0 ? TJSAMP_422
                                                                    : TJSAMP_420);
}

TEST(EncoderOracle, EveryLayoutFormatRotationAndScaleDecodesToTheTurnedSource) {
    EncoderPtr e(createJpegEncoder());
    const uint32_t noiseSizes[][2] = {{16, 16}, {48, 32}, {112, 48}, {32, 96}};
    for (SourcePixelFormat layout : {Uyvy, Rgb565, Rgb555, Bgr24})
        for (uint32_t format : {1u, 2u, 4u})
            for (uint32_t rotation = 0; rotation < 4; ++rotation)
                for (uint32_t scale : {1u, 2u}) {
                    checkDecodes({layout, format, rotation, scale, 48, 32, 85}, 30);
                    // Noise at both ends of the quality range, and pixels of only 0 and 255,
                    // drive every kernel to its extremes.
                    for (const auto& [w, h] : noiseSizes) {
                        SCOPED_TRACE(::testing::Message() << "noise " << w << "x" << h);
                        RgbPicture noise = randomPicture(w * scale, h * scale, w * h);
                        if (w == h)
                            for (uint8_t& v : noise.rgb) v = v & 1 ? 255 : 0;
                        configureJpegEncoder(*e, w, h, w == h ? 30 : 100, format, scale, scale,
                                             rotation);
                        encodeWithEveryTable(*e, pack(noise, layout).bytes, layout);
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
    }
    checkDecodes({Uyvy, 1, 1, 1, 320, 240, 85}, 34);
    checkDecodes({Uyvy, 2, 0, 2, 176, 144, 85}, 34);
}

TEST(EncoderOracle, RefusesGeometryItCannotWalkAndDataThatWouldNotFit) {
    EncoderPtr e(createJpegEncoder());
    std::vector<uint8_t> source(64 * 64 * 3, 0), out(source.size() + 4096);
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
    const std::vector<uint8_t> packed = pack(randomPicture(128, 128, 7), Uyvy).bytes;
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

// The walk reserves room for one worst-case block before each block it codes, however many blocks
// a kernel codes at once: the smallest capacity a picture is accepted with lies within one
// reservation of its stream's end, is the same for every table, and any capacity from it up gives
// the same stream.
TEST(EncoderOracle, AcceptsEveryCapacityWithinOneBlockReserveOfTheStream) {
    const std::vector<uint8_t> packed = pack(randomPicture(64, 32, 3), Uyvy).bytes;
    EncoderPtr e(createJpegEncoder());
    ASSERT_TRUE(e);
    std::vector<const JpegKernels*> tables = vectorKernels();
    tables.push_back(&kScalarJpegKernels);
    for (uint32_t format : {1u, 2u}) {  // 4:2:0 (six blocks a macroblock), 4:2:2 (four)
        configureJpegEncoder(*e, 64, 32, 90, format, 1, 1, 0);
        std::vector<uint8_t> roomy(64 * 1024);
        const uint32_t length = encodeImageWith(kScalarJpegKernels, *e, roomy.data(), packed.data(),
                                                1, Uyvy, roomy.size());
        ASSERT_GT(length, 0u);
        roomy.resize(length);
        size_t first = 0;  // the first table's smallest capacity
        for (const JpegKernels* k : tables) {
            // The smallest capacity accepted, by bisection over (length, length + reserve].
            size_t refused = length, accepted = length + kMaxCodedBlockBytes + 2;
            std::vector<uint8_t> out(accepted);
            ASSERT_EQ(encodeImageWith(*k, *e, out.data(), packed.data(), 1, Uyvy, accepted), length)
                << k->name;
            while (accepted - refused > 1) {
                const size_t middle = (refused + accepted) / 2;
                (encodeImageWith(*k, *e, out.data(), packed.data(), 1, Uyvy, middle) != 0
                     ? accepted
                     : refused) = middle;
            }
            // The last block starts before the EOI marker, so its reserve ends before
            // length + kMaxCodedBlockBytes.
            EXPECT_LT(accepted, length + kMaxCodedBlockBytes) << k->name << " format " << format;
            for (size_t capacity : {accepted, accepted + 1, accepted + 700}) {
                std::vector<uint8_t> again(capacity);
                ASSERT_EQ(encodeImageWith(*k, *e, again.data(), packed.data(), 1, Uyvy, capacity),
                          length)
                    << k->name;
                again.resize(length);
                EXPECT_EQ(again, roomy) << k->name << " capacity " << capacity;
            }
            if (k == tables.front()) first = accepted;
            EXPECT_EQ(accepted, first) << k->name << " format " << format;
        }
    }
}

}  // namespace
