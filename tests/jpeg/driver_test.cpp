// encodeFrame and configureEncoder: the built-in, external and raw paths. The external library
// is first a fake made of plain functions that record how they are called, then the real
// stand-in library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/device_info.h"
#include "core/frame.h"
#include "jpeg/frame_convert.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_test_support.h"
#include "support/temp_device.h"

namespace {

using namespace jpegtest;

// The fake library: its calls, with their plain arguments, and the blocks it was given.
struct FakeLibrary {
    std::vector<std::string> calls;
    std::vector<uint32_t> createBlock, parameterWords;  // 16 words; setParameter's 17 words
    uint32_t createResult = 0, encodeResult = 0, encodeLength = 4;
    bool createNull = false;
};
FakeLibrary fake;

uint32_t fakeEncode(ImageEncoder*, const uint8_t*, uint8_t*, uint32_t* length) {
    *length = fake.encodeLength;
    return fake.encodeResult;
}

uint32_t fakeSetParameter(ImageEncoder*, uint32_t id, const void* data, uint32_t zero) {
    fake.calls.push_back("setParameter " + std::to_string(id) + " " + std::to_string(zero));
    fake.parameterWords.assign(static_cast<const uint32_t*>(data),
                               static_cast<const uint32_t*>(data) + 17);
    return 0;
}

uint32_t fakeRelease(ImageEncoder*) {
    fake.calls.push_back("release");
    return 0;
}

const ImageEncoderOps kFakeOps = {
    .encode = fakeEncode,
    .unused = nullptr,
    .setParameter = fakeSetParameter,
    .release = fakeRelease,
};
ImageEncoder fakeObject{&kFakeOps};

uint32_t fakeCreate(ImageEncoder** object, const uint32_t* block, uint32_t one) {
    fake.calls.push_back("create " + std::to_string(one));
    fake.createBlock.assign(block, block + 16);
    if (fake.createResult != 0) return fake.createResult;
    *object = fake.createNull ? nullptr : &fakeObject;
    return 0;
}

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = FakeLibrary{};
        gEncoderSetup = EncoderSetup{};
        gEncoderSetup.available = 1;
        gCreateJpegImageEncoder = nullptr;
        gFrame = Frame{};
        gFrame.frameFormat = Uyvy;
    }
    void TearDown() override {
        releaseExternalEncoder(gEncoderSetup);
        gCreateJpegImageEncoder = nullptr;
        gEncoderSetup = EncoderSetup{};
    }
    EncoderPtr builtIn;
};

// Create, then setParameter 10 with the sixteen words; the same arguments again keep the object,
// new ones release it first.
TEST_F(Driver, ExternalPathCreatesOnceSetsParameterTenAndRecreatesOnNewArguments) {
    gCreateJpegImageEncoder = fakeCreate;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 2, 1, 1, 1), 1u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 2, 1, 1, 1), 1u);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"create 1", "setParameter 10 0"}));
    // Rotation 1: width and height exchanged; 4:2:2 turned becomes 4:2:0.
    const std::vector<uint32_t> block = {240, 320, 8, 1, 85, 1, 0, 0, 1, 160, 120, 0, 0, 0, 0, 1};
    EXPECT_EQ(fake.createBlock, block);
    EXPECT_EQ(fake.parameterWords[0], 0u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), fake.parameterWords.begin() + 1));
    EXPECT_EQ(gEncoderSetup.externalEncoder, &fakeObject);
    EXPECT_EQ(gEncoderSetup.format, 1u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 60, 2, 1, 1, 1), 1u);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"create 1", "setParameter 10 0", "release",
                                                    "create 1", "setParameter 10 0"}));
    EXPECT_EQ(fake.createBlock[4], 60u);
}

TEST_F(Driver, EveryFailureGivesZero) {
    std::vector<uint8_t> frame(64 * 48 * 2, 0x80), out(frame.size());
    // No library and no built-in encoder: nothing configures, nothing encodes.
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 0u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
    gCreateJpegImageEncoder = fakeCreate;
    // Creation reports an error.
    fake.createResult = 5;
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 80, 1, 1, 1, 0), 0u);
    EXPECT_EQ(gEncoderSetup.externalEncoder, nullptr);
    // The same arguments again try again instead of claiming success without an object.
    fake.createResult = 0;
    fake.createNull = true;
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 80, 1, 1, 1, 0), 0u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);  // no object
    fake.createNull = false;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 48, 80, 1, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 4u);
    // encode reports an error, or a zero length, or more than the frame holds.
    const uint32_t tooLong = uint32_t(frame.size()) + 1;
    for (const auto& [result, length] : {std::pair{7u, 4u}, {0u, 0u}, {0u, tooLong}}) {
        fake.encodeResult = result;
        fake.encodeLength = length;
        EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u) << length;
    }
    // The built-in encoder given a layout that does not exist.
    releaseExternalEncoder(gEncoderSetup);
    gCreateJpegImageEncoder = nullptr;
    gFrame.frameFormat = 9;
    builtIn.reset(createJpegEncoder());
    gEncoderSetup.encoder = builtIn.get();
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
}

// Quality 0 takes the raw path even when the built-in encoder exists. Full blue Bgr24 becomes
// Uyvy in place (3 bytes in, 2 out): Y (29 x 255) >> 8 = 28, Cb clamped to 255 instead of
// wrapping to 0, Cr (-21 - 21 + 256) >> 1 = 107; then the I420 planes.
TEST_F(Driver, RawPathConvertsRgbSourcesToUyvyInPlaceAndLeavesI420) {
    builtIn.reset(createJpegEncoder());
    gEncoderSetup.encoder = builtIn.get();
    gFrame.frameFormat = Bgr24;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 16, 4, 0, 2, 1, 1, 0), 1u);
    EXPECT_EQ(gEncoderSetup.format, 1u);  // the raw path is always I420
    std::vector<uint8_t> frame;
    for (int pixel = 0; pixel < 16 * 4; ++pixel) frame.insert(frame.end(), {255, 0, 0});
    std::vector<uint8_t> out(frame.size(), 0xEE), uyvy, planes(64, 28);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 1u);
    for (int pair = 0; pair < 32; ++pair) uyvy.insert(uyvy.end(), {255, 28, 107, 28});
    EXPECT_TRUE(std::equal(uyvy.begin(), uyvy.end(), frame.begin()));
    planes.resize(80, 255);  // Cb, then Cr, then untouched
    planes.resize(96, 107);
    planes.resize(out.size(), 0xEE);
    EXPECT_EQ(out, planes);
}

// The real stand-in library "JPEGENC.dll", installed by the profile of a device without a PXA27x
// processor: found by the program's loader and driven through encodeFrame's external path, as
// the device's photos and movies are; libjpeg-turbo decodes what it made.
class ExternalLibrary : public Driver {
  protected:
    void SetUp() override {
        Driver::SetUp();
        ASSERT_TRUE(loadEncoderLibrary());
    }
    void TearDown() override {
        Driver::TearDown();
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
        SCOPED_TRACE(::testing::Message() << "layout " << c.layout << " format " << c.format
                                          << " rotation " << c.rotation << " scale " << c.scale);
        const uint32_t w = 96, h = 64;
        gFrame.frameFormat = c.layout;
        ASSERT_EQ(configureEncoder(gEncoderSetup, w, h, 90, c.format, c.scale, c.scale, c.rotation),
                  1u);
        const Source source = pack(naturalPicture(w * c.scale, h * c.scale, 4), c.layout);
        std::vector<uint8_t> frame = source.bytes, out(frame.size());
        const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
        // The planar conversion rounds differently from the built-in encoder; the likeness is
        // still unmistakable.
        expectShows(out.data(), n, source.shown, c.scale, c.rotation, 30, 28);
    }
}

// The conversions of the raw and external paths.

// Four equal words 10 20 30 40 per group: each halved word keeps Cb 10 and Cr 30 and carries the
// group's four Y averaged with rounding, (20 + 40 + 20 + 40 + 2) >> 2 = 30, twice.
TEST(HalveUyvy, GroupsAverageWithRounding) {
    std::vector<uint8_t> frame, halved;
    for (int word = 0; word < 16; ++word) frame.insert(frame.end(), {10, 20, 30, 40});
    for (int word = 0; word < 4; ++word) halved.insert(halved.end(), {10, 30, 30, 30});
    halveUyvy(frame.data(), 4, 2);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 16), halved);
}

// A 4 x 2 Uyvy frame: luma 0 1 2 3 over 10 11 12 13; Cb 100 101 over 101 102, Cr 200 199 over
// 202 201. Its 4:2:0 chroma is each pair's average over the two lines, rounded up.
TEST(ConvertFrameToPlanes, FourByTwoAt420GivesEightYTwoCbTwoCr) {
    std::vector<uint8_t> frame = {100, 0,  200, 1,  101, 2,  199, 3,
                                  101, 10, 202, 11, 102, 12, 201, 13};
    std::vector<uint8_t> planes(16, 0xEE);
    ASSERT_EQ(convertFrameToPlanes(planes.data(), frame.data(), 4, 2, 1, 1, 0), 1u);
    const std::vector<uint8_t> expected = {0,   1,   2,   3,   10,   11,   12,   13,
                                           101, 102, 201, 200, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(planes, expected);
    // A height below 2 writes nothing; nor does 4:2:2 at a quarter turn.
    std::vector<uint8_t> untouched(16, 0xEE);
    EXPECT_EQ(convertFrameToPlanes(untouched.data(), frame.data(), 4, 1, 1, 1, 0), 1u);
    EXPECT_EQ(convertFrameToPlanes(untouched.data(), frame.data(), 4, 2, 1, 2, 1), 0u);
    EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xEE));
}

}  // namespace
