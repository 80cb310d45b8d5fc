// encodeFrame and configureEncoder: the built-in, external and raw paths. The external library
// here is a fake made of plain functions that record how they are called.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/frame.h"
#include "jpeg/frame_convert.h"
#include "jpeg/jpeg_encoder.h"
#include "jpeg/jpeg_test_support.h"

namespace {

using namespace jpegtest;

// ---- The fake library ----

struct FakeLibrary {
    std::vector<std::string> calls;
    std::vector<uint32_t> createBlock;
    uint32_t createOne = 0;
    std::vector<uint32_t> parameterWords;  // setParameter's data: 17 words
    uint32_t parameterId = 0, parameterZero = 99;
    uint32_t createResult = 0;
    bool createNull = false;
    uint32_t encodeResult = 0;
    uint32_t encodeLength = 4;
    int live = 0;
};
FakeLibrary fake;

uint32_t fakeEncode(ImageEncoder*, const uint8_t*, uint8_t*, uint32_t* length) {
    fake.calls.push_back("encode");
    *length = fake.encodeLength;
    return fake.encodeResult;
}

uint32_t fakeSetParameter(ImageEncoder*, uint32_t id, const void* data, uint32_t zero) {
    fake.calls.push_back("setParameter");
    fake.parameterId = id;
    fake.parameterZero = zero;
    const uint32_t* words = static_cast<const uint32_t*>(data);
    fake.parameterWords.assign(words, words + 17);
    return 0;
}

uint32_t fakeRelease(ImageEncoder*) {
    fake.calls.push_back("release");
    --fake.live;
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
    fake.calls.push_back("create");
    fake.createBlock.assign(block, block + 16);
    fake.createOne = one;
    if (fake.createResult != 0) return fake.createResult;
    *object = fake.createNull ? nullptr : &fakeObject;
    if (!fake.createNull) ++fake.live;
    return 0;
}

// ---- Fixture: a fresh setup, frame record and fake per test ----

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};

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
    std::unique_ptr<JpegEncoder, EncoderDeleter> builtIn;
};

TEST_F(Driver, ExternalPathCreatesThenSetsParameterTenWithTheSixteenWords) {
    gCreateJpegImageEncoder = fakeCreate;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 2, 1, 1, 1), 1u);
    const std::vector<std::string> order = {"create", "setParameter"};
    EXPECT_EQ(fake.calls, order);
    // Rotation 1: width and height exchanged; 4:2:2 turned becomes 4:2:0.
    const std::vector<uint32_t> block = {240, 320, 8, 1, 85, 1, 0, 0, 1, 160, 120, 0, 0, 0, 0, 1};
    EXPECT_EQ(fake.createBlock, block);
    EXPECT_EQ(fake.createOne, 1u);
    EXPECT_EQ(fake.parameterId, 10u);
    EXPECT_EQ(fake.parameterZero, 0u);
    std::vector<uint32_t> words = {0};
    words.insert(words.end(), block.begin(), block.end());
    EXPECT_EQ(fake.parameterWords, words);
    EXPECT_EQ(gEncoderSetup.externalEncoder, &fakeObject);
    EXPECT_EQ(gEncoderSetup.format, 1u);
    EXPECT_EQ(gEncoderSetup.width, 320u);
    EXPECT_EQ(gEncoderSetup.height, 240u);
}

TEST_F(Driver, SameArgumentsTwiceDoNotRecreateTheObjectNewOnesReleaseTheOldFirst) {
    gCreateJpegImageEncoder = fakeCreate;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 1, 1, 1, 0), 1u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 85, 1, 1, 1, 0), 1u);
    EXPECT_EQ(fake.calls.size(), 2u);
    ASSERT_EQ(configureEncoder(gEncoderSetup, 320, 240, 60, 1, 1, 1, 0), 1u);
    const std::vector<std::string> order = {"create", "setParameter", "release", "create",
                                            "setParameter"};
    EXPECT_EQ(fake.calls, order);
    EXPECT_EQ(fake.live, 1);
    EXPECT_EQ(fake.createBlock[4], 60u);
}

TEST_F(Driver, EveryExternalFailureGivesZero) {
    // No library.
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 0u);
    gCreateJpegImageEncoder = fakeCreate;
    // Creation reports an error.
    fake.createResult = 5;
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 80, 1, 1, 1, 0), 0u);
    EXPECT_EQ(gEncoderSetup.externalEncoder, nullptr);
    // The same arguments again try again instead of claiming success without an object.
    fake.createResult = 0;
    fake.createNull = true;
    EXPECT_EQ(configureEncoder(gEncoderSetup, 64, 48, 80, 1, 1, 1, 0), 0u);
    std::vector<uint8_t> frame(64 * 48 * 2, 0x80), out(frame.size());
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
}

TEST_F(Driver, RawPathLeavesI420AndConvertsRgbSourcesToUyvyInPlace) {
    gFrame.frameFormat = Rgb565;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 16, 4, 0, 2, 1, 1, 0), 1u);
    EXPECT_EQ(gEncoderSetup.format, 1u);        // the raw path is always I420
    std::vector<uint8_t> frame(16 * 4 * 2, 0);  // black
    std::vector<uint8_t> out(frame.size(), 0xEE);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 1u);
    for (size_t i = 0; i < frame.size(); i += 4) {
        EXPECT_EQ(frame[i], 128);  // Cb
        EXPECT_EQ(frame[i + 1], 0);
        EXPECT_EQ(frame[i + 2], 128);
    }
    for (size_t i = 0; i < 64; ++i) EXPECT_EQ(out[i], 0) << i;     // Y
    for (size_t i = 64; i < 96; ++i) EXPECT_EQ(out[i], 128) << i;  // Cb, Cr
    EXPECT_EQ(out[96], 0xEE);
}

TEST_F(Driver, BuiltInPathEncodesTheFrameRecordsLayout) {
    withBuiltIn();
    gFrame.frameFormat = Bgr24;
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 32, 85, 2, 1, 1, 3), 1u);
    EXPECT_EQ(gEncoderSetup.format, 1u);
    EXPECT_EQ(builtIn->format, 1u);
    EXPECT_EQ(builtIn->headerLength, 0u);
    const RgbPicture p = naturalPicture(64, 32);
    std::vector<uint8_t> frame = pack(p, Bgr24);
    std::vector<uint8_t> out(frame.size());
    const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
    ASSERT_GT(n, 0u);
    const Decoded d = decodeJpeg(out.data(), n);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.width, 32);
    EXPECT_EQ(d.height, 64);
    // The built-in path leaves the source alone.
    EXPECT_EQ(frame, pack(p, Bgr24));
    // Quality 0 still takes the raw path when the built-in encoder exists.
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 32, 0, 2, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 1u);
}

TEST_F(Driver, NoPathAtAllEncodesNothing) {
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 0u);
    std::vector<uint8_t> frame(64 * 48 * 2, 0x80), out(frame.size());
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
    gFrame.frameFormat = 9;  // no such layout
    withBuiltIn();
    ASSERT_EQ(configureEncoder(gEncoderSetup, 64, 48, 85, 1, 1, 1, 0), 1u);
    EXPECT_EQ(encodeFrame(gEncoderSetup, out.data(), frame.data(), 1), 0u);
}

}  // namespace
