// The real stand-in library "JPEGENC.dll" on a device without a PXA27x processor, whose profile
// installs it: found by the program's loader and driven through encodeFrame's external path, as
// the device's photos and movies are; libjpeg-turbo decodes what it made.
#include <gtest/gtest.h>

#include "camera/device_info.h"
#include "camera/frame.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_test_support.h"
#include "support/temp_device.h"

namespace {

using namespace jpegtest;

class ExternalLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        gEncoderSetup = EncoderSetup{};
        gCreateJpegImageEncoder = nullptr;
        ASSERT_TRUE(loadEncoderLibrary());
        gFrame = Frame{};
    }
    void TearDown() override {
        releaseExternalEncoder(gEncoderSetup);
        gCreateJpegImageEncoder = nullptr;
        gEncoderSetup = EncoderSetup{};
        if (gEncoderLibrary) FreeLibrary(gEncoderLibrary);
        gEncoderLibrary = nullptr;
    }
    TempDevice device_{"pm200"};  // OMAP850
};

TEST_F(ExternalLibrary, EncodesEveryFormatAndTurnThroughEncodeFrame) {
    struct Case {
        SourcePixelFormat layout;
        uint32_t format, rotation, scale;
    };
    const Case cases[] = {{Uyvy, 1, 0, 1},   {Uyvy, 2, 0, 1}, {Uyvy, 4, 0, 1}, {Uyvy, 1, 1, 1},
                          {Uyvy, 2, 2, 1},   {Uyvy, 4, 3, 1}, {Uyvy, 1, 3, 2}, {Rgb565, 1, 0, 1},
                          {Rgb555, 2, 2, 1}, {Uyvy, 2, 1, 1}, {Bgr24, 2, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.layout) + " format " + std::to_string(c.format) +
                     " rotation " + std::to_string(c.rotation) + " scale " +
                     std::to_string(c.scale));
        const uint32_t w = 96, h = 64;
        gFrame.frameFormat = c.layout;
        ASSERT_EQ(configureEncoder(gEncoderSetup, w, h, 90, c.format, c.scale, c.scale, c.rotation),
                  1u);
        const RgbPicture p = naturalPicture(w * c.scale, h * c.scale, 4);
        std::vector<uint8_t> frame = pack(p, c.layout);
        const std::vector<uint8_t> original = frame;
        std::vector<uint8_t> out(frame.size());
        const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
        ASSERT_GT(n, 0u);
        const Decoded d = decodeJpeg(out.data(), n);
        ASSERT_TRUE(d.ok) << d.error;
        const bool turned = c.rotation % 2 == 1;
        EXPECT_EQ(d.width, int(turned ? h : w));
        EXPECT_EQ(d.height, int(turned ? w : h));
        const Planes ref =
            referencePlanes(original, c.layout, w * c.scale, h * c.scale, c.scale, c.rotation);
        // The planar conversion rounds differently from the built-in encoder; the likeness is
        // still unmistakable.
        EXPECT_GT(planePsnr(d.y, d.width, d.height, ref.y, ref.width, ref.height), 30);
        if (c.format != 4) {
            EXPECT_GT(planePsnr(d.cb, d.chromaWidth, d.chromaHeight, ref.cb, ref.width, ref.height),
                      28);
        }
    }
}

TEST_F(ExternalLibrary, RefusesParametersItCannotHonour) {
    // Quality above 100 is stored by the setup but refused by the library.
    EXPECT_EQ(configureEncoder(gEncoderSetup, 96, 64, 101, 1, 1, 1, 0), 0u);
    EXPECT_EQ(gEncoderSetup.externalEncoder, nullptr);
    EXPECT_EQ(configureEncoder(gEncoderSetup, 95, 64, 50, 1, 1, 1, 0), 0u);  // odd width
    EXPECT_EQ(configureEncoder(gEncoderSetup, 96, 64, 50, 1, 1, 1, 0), 1u);
}

}  // namespace
