// encodeFrame and configureEncoder: the built-in, external and raw paths. The external library
// is first a fake made of plain functions that record how they are called, then the real
// stand-in library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/device_info.h"
#include "camera/frame.h"
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
    fake.calls.push_back("encode");
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
    void withBuiltIn() {
        builtIn.reset(createJpegEncoder());
        gEncoderSetup.encoder = builtIn.get();
    }
    EncoderPtr builtIn;
};

TEST_F(Driver, ExternalPathCreatesThenSetsParameterTenWithTheSixteenWords) {
    gCreateJpegImageEncoder = fakeCreate;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 2, 1, 1, 1), 1u);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"create 1", "setParameter 10 0"}));
    // Rotation 1: width and height exchanged; 4:2:2 turned becomes 4:2:0.
    const std::vector<uint32_t> block = {240, 320, 8, 1, 85, 1, 0, 0, 1, 160, 120, 0, 0, 0, 0, 1};
    EXPECT_EQ(fake.createBlock, block);
    EXPECT_EQ(fake.parameterWords[0], 0u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), fake.parameterWords.begin() + 1));
    EXPECT_EQ(gEncoderSetup.externalEncoder, &fakeObject);
    EXPECT_EQ(gEncoderSetup.format, 1u);
}

TEST_F(Driver, SameArgumentsTwiceDoNotRecreateTheObjectNewOnesReleaseTheOldFirst) {
    gCreateJpegImageEncoder = fakeCreate;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 1, 1, 1, 0), 1u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 1, 1, 1, 0), 1u);
    EXPECT_EQ(fake.calls.size(), 2u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 60, 1, 1, 1, 0), 1u);
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
    fake.encodeResult = 7;
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
    fake.encodeResult = 0;
    fake.encodeLength = 0;
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
    fake.encodeLength = uint32_t(frame.size()) + 1;
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
    // The built-in encoder given a layout that does not exist.
    releaseExternalEncoder(gEncoderSetup);
    gCreateJpegImageEncoder = nullptr;
    gFrame.frameFormat = 9;
    withBuiltIn();
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
}

TEST_F(Driver, RawPathLeavesI420AndConvertsRgbSourcesToUyvyInPlace) {
    gFrame.frameFormat = Rgb565;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 16, 4, 0, 2, 1, 1, 0), 1u);
    EXPECT_EQ(gEncoderSetup.format, 1u);        // the raw path is always I420
    std::vector<uint8_t> frame(16 * 4 * 2, 0);  // black: Uyvy 128 0 128 0 once converted
    std::vector<uint8_t> out(frame.size(), 0xEE);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 1u);
    std::vector<uint8_t> uyvy;
    for (int pair = 0; pair < 32; ++pair) uyvy.insert(uyvy.end(), {128, 0, 128, 0});
    EXPECT_EQ(frame, uyvy);
    std::vector<uint8_t> planes(64, 0);  // Y, then Cb and Cr, then untouched
    planes.resize(96, 128);
    planes.resize(out.size(), 0xEE);
    EXPECT_EQ(out, planes);
}

TEST_F(Driver, BuiltInPathEncodesTheFrameRecordsLayout) {
    withBuiltIn();
    gFrame.frameFormat = Bgr24;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 32, 85, 2, 1, 1, 3), 1u);
    EXPECT_EQ(gEncoderSetup.format, 1u);
    std::vector<uint8_t> frame = pack(naturalPicture(64, 32), Bgr24);
    const std::vector<uint8_t> original = frame;
    std::vector<uint8_t> out(frame.size());
    const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
    expectShows(out.data(), n, original, Bgr24, 64, 32, 1, 3, 30, 30);
    EXPECT_EQ(frame, original);  // the built-in path leaves the source alone
    // Quality 0 still takes the raw path when the built-in encoder exists.
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 32, 0, 2, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 1u);
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
        std::vector<uint8_t> frame = pack(naturalPicture(w * c.scale, h * c.scale, 4), c.layout);
        const std::vector<uint8_t> original = frame;
        std::vector<uint8_t> out(frame.size());
        const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
        // The planar conversion rounds differently from the built-in encoder; the likeness is
        // still unmistakable.
        expectShows(out.data(), n, original, c.layout, w, h, c.scale, c.rotation, 30, 28);
    }
}

TEST_F(ExternalLibrary, RefusesParametersItCannotHonour) {
    // Quality above 100 is stored by the setup but refused by the library.
    EXPECT_EQ(configureEncoder(gEncoderSetup, 96, 64, 101, 1, 1, 1, 0), 0u);
    EXPECT_EQ(gEncoderSetup.externalEncoder, nullptr);
    EXPECT_EQ(configureEncoder(gEncoderSetup, 95, 64, 50, 1, 1, 1, 0), 0u);  // odd width
    EXPECT_EQ(configureEncoder(gEncoderSetup, 96, 64, 50, 1, 1, 1, 0), 1u);
}

// The conversions of the raw and external paths.

// The conversions' colours are checked through the stand-in library's decoded pictures; here
// what a likeness does not show: Bgr24 in place (3 bytes in, 2 out), full blue clamped instead
// of wrapping to 0.
TEST(ConvertRgbToUyvy, Bgr24InPlaceClampsFullBlue) {
    std::vector<uint8_t> bgr = {255, 0, 0, 255, 0, 0, 10, 20, 30, 10, 20, 30};
    convertRgbToUyvy(bgr.data(), bgr.data(), 8, 24);
    EXPECT_EQ(bgr[0], 255);
    EXPECT_EQ(bgr[1], (29 * 255) >> 8);
    const int y = (77 * 30 + 150 * 20 + 29 * 10) >> 8;
    EXPECT_EQ(bgr[5], y);
    EXPECT_EQ(bgr[7], y);
}

// Four equal words 10 20 30 40 per group: each halved word keeps Cb 10 and Cr 30 and carries the
// group's four Y averaged with rounding, (20 + 40 + 20 + 40 + 2) >> 2 = 30, twice.
TEST(HalveUyvy, GroupsAverageWithRounding) {
    std::vector<uint8_t> frame, halved;
    for (int word = 0; word < 16; ++word) frame.insert(frame.end(), {10, 20, 30, 40});
    for (int word = 0; word < 4; ++word) halved.insert(halved.end(), {10, 30, 30, 30});
    halveUyvy(frame.data(), 4, 2);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 16), halved);
}

// A 4 x 2 Uyvy frame, pixel (x, y) luma 10 y + x, chroma pair p: Cb 100 + p + y, Cr 200 - p + 2 y.
std::vector<uint8_t> smallFrame(uint32_t w, uint32_t h) {
    std::vector<uint8_t> f(w * h * 2);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t p = 0; p < w / 2; ++p) {
            uint8_t* q = &f[(y * w + 2 * p) * 2];
            q[0] = uint8_t(100 + p + y);
            q[1] = uint8_t(10 * y + 2 * p);
            q[2] = uint8_t(200 - p + 2 * y);
            q[3] = uint8_t(10 * y + 2 * p + 1);
        }
    return f;
}

TEST(ConvertFrameToPlanes, FourByTwoAt420GivesEightYTwoCbTwoCr) {
    std::vector<uint8_t> frame = smallFrame(4, 2);
    std::vector<uint8_t> planes(16, 0xEE);
    ASSERT_EQ(convertFrameToPlanes(planes.data(), frame.data(), 4, 2, 1, 1, 0), 1u);
    const std::vector<uint8_t> expected = {
        0,    1,    2,    3,   10,
        11,   12,   13,   101, 102,  // (100 + 101 + 1) >> 1, (101 + 102 + 1) >> 1
        201,  200,                   // (200 + 202 + 1) >> 1, (199 + 201 + 1) >> 1
        0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(planes, expected);
    // A height below 2 writes nothing.
    std::vector<uint8_t> untouched(16, 0xEE);
    convertFrameToPlanes(untouched.data(), frame.data(), 4, 1, 1, 1, 0);
    EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0xEE));
}

// The turns themselves are checked through the stand-in library, whose pictures libjpeg-turbo
// decodes upright.
TEST(ConvertFrameToPlanes, GreyAnd422AndRefusesTurned422) {
    const uint32_t w = 6, h = 4;
    const std::vector<uint8_t> frame = smallFrame(w, h);
    auto planesOf = [&](uint32_t format, uint32_t rotation, uint32_t result = 1) {
        std::vector<uint8_t> f = frame, out(w * h * 2, 0xEE);
        EXPECT_EQ(convertFrameToPlanes(out.data(), f.data(), w, h, 1, format, rotation), result);
        return out;
    };
    // Grey writes only Y (here upside down); 4:2:2 keeps a chroma sample per pair and line.
    const auto grey = planesOf(4, 2);
    EXPECT_EQ(grey[0], frame[(w * h - 1) * 2 + 1]);
    EXPECT_EQ(grey[w * h], 0xEE);
    const auto planar422 = planesOf(2, 0);
    EXPECT_EQ(planar422[w * h + (w / 2) * 3 + 1], frame[(3 * w + 2) * 2]);  // Cb of pair 1, line 3
    for (uint32_t rotation : {1u, 3u})
        EXPECT_EQ(planesOf(2, rotation, 0), std::vector<uint8_t>(w * h * 2, 0xEE));
}

}  // namespace
