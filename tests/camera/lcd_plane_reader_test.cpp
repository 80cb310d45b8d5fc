// The LCD plane reader against the simulated PXA27x LCD controller: the topmost plane that is on
// is mapped and converted, every depth and colour format the controller offers, and the limits
// (capacity, a buffer shorter than its plane, no controller). Overlays switching between pictures
// are the screen source's test.
// Pixels are written straight into the planes' physical memory and the expected output computed
// here from the formats' definitions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "camera/camera_test_support.h"
#include "camera/lcd_plane_reader.h"
#include "sim/lcd_controller.h"

namespace {

using namespace camtest;

constexpr uint32_t kCapacity = 2u << 20;

class LcdPlanes : public ::testing::Test {
  protected:
    LcdPlanes() : device_("nocamera"), output_(kCapacity) {
        reader_ = LcdPlaneReader::create();
        gFrame.framePixels = output_.data();
    }
    ~LcdPlanes() override {
        LcdPlaneReader::destroy(reader_);
        gFrame.framePixels = nullptr;
    }
    void command(const std::string& text) {
        std::vector<std::string> words;
        std::istringstream in(text);
        for (std::string w; in >> w;) words.push_back(w);
        ASSERT_EQ(device_.handheld().command(words), "") << text;
    }
    uint8_t* physical(uint64_t address, uint64_t bytes) {
        return device_.handheld().physical(address, bytes);
    }
    // Random bytes into a plane; returns them.
    std::vector<uint8_t> fill(uint64_t address, size_t bytes, uint32_t seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> data(bytes);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        memcpy(physical(address, bytes), data.data(), bytes);
        return data;
    }
    std::vector<uint8_t> picture() const {
        const size_t n = size_t{gFrame.frameWidth} * gFrame.frameHeight * 2;
        return {output_.begin(), output_.begin() + static_cast<long>(n)};
    }

    TempDevice device_;
    std::vector<uint8_t> output_;
    LcdPlaneReader* reader_ = nullptr;
};

// The base plane is the display memory, copied as Rgb565; a 16-bit overlay covers it and is
// copied as Rgb555.
TEST_F(LcdPlanes, SixteenBitBaseAndOverlay) {
    const auto display = fill(kDisplayPhysical, 240 * 320 * 2, 1);
    reader_->refresh();
    ASSERT_TRUE(reader_->base.mapped);
    EXPECT_EQ(reader_->base.bppCode, 4u);
    ASSERT_TRUE(reader_->takePicture(reader_->base, 0, kCapacity));
    EXPECT_EQ(gFrame.frameFormat, Rgb565);
    EXPECT_EQ(gFrame.frameWidth, 240u);
    EXPECT_EQ(gFrame.frameHeight, 320u);
    EXPECT_EQ(picture(), display);
    EXPECT_FALSE(reader_->takePicture(reader_->base, 0, 240 * 320 * 2 - 1)) << "would not fit";
    EXPECT_FALSE(reader_->takePicture(reader_->overlay1, 1, kCapacity)) << "not mapped";

    command("overlay1 rgb16 6x5 at 3 4");
    const auto pixels = fill(kOverlay1Physical, 6 * 5 * 2, 2);
    reader_->refresh();
    EXPECT_FALSE(reader_->base.mapped) << "the overlay covers the base";
    ASSERT_TRUE(reader_->takePicture(reader_->overlay1, 1, kCapacity));
    EXPECT_EQ(reader_->overlay1.x, 3u);
    EXPECT_EQ(reader_->overlay1.y, 4u);
    EXPECT_EQ(gFrame.frameFormat, Rgb555);
    EXPECT_EQ(gFrame.frameWidth, 6u);
    EXPECT_EQ(gFrame.frameHeight, 5u);
    EXPECT_EQ(picture(), pixels);
}

uint16_t rgb565FromRgb666(uint32_t v) {
    const uint32_t red6 = (v >> 12) & 0x3F, green6 = (v >> 6) & 0x3F, blue6 = v & 0x3F;
    return static_cast<uint16_t>((red6 >> 1) << 11 | green6 << 5 | (blue6 >> 1));
}

TEST_F(LcdPlanes, EighteenAndNineteenBitRgb) {
    struct Depth {
        const char* name;
        uint32_t bytes;
        uint32_t valueBits;
    };
    for (const Depth& d : {Depth{"rgb18", 4, 18}, Depth{"rgb18p", 3, 18}, Depth{"rgb19", 4, 19},
                           Depth{"rgb19p", 3, 19}}) {
        SCOPED_TRACE(d.name);
        command("overlay1 off");
        reader_->refresh();
        command(std::string("overlay1 ") + d.name + " 5x3 at 0 0");
        std::mt19937 random(d.bytes * 100 + d.valueBits);
        std::vector<uint32_t> values(15);
        uint8_t* plane = physical(kOverlay1Physical, 15 * 4);
        for (size_t k = 0; k < values.size(); ++k) {
            values[k] = random() & ((1u << d.valueBits) - 1);
            for (uint32_t b = 0; b < d.bytes; ++b)
                plane[k * d.bytes + b] = static_cast<uint8_t>(values[k] >> (8 * b));
        }
        reader_->refresh();
        ASSERT_TRUE(reader_->takePicture(reader_->overlay1, 1, kCapacity));
        EXPECT_EQ(gFrame.frameFormat, Rgb565);
        // Seven whole pairs; the fifteenth pixel has no partner.
        std::vector<uint16_t> got(14), expected(14);
        memcpy(got.data(), output_.data(), 28);
        for (size_t i = 0; i < 14; ++i) expected[i] = rgb565FromRgb666(values[i]);
        EXPECT_EQ(got, expected);
    }
}

TEST_F(LcdPlanes, PackedYcbcrAveragesEachPairsChroma) {
    command("overlay2 yuv444 6x3 at 10 20");
    auto words = fill(kOverlay2Physical, 6 * 3 * 4, 3);
    reader_->refresh();
    ASSERT_TRUE(reader_->overlay2.mapped);
    ASSERT_TRUE(reader_->takePicture(reader_->overlay2, 2, kCapacity));
    EXPECT_EQ(gFrame.frameFormat, Uyvy);
    std::vector<uint8_t> expected;
    for (size_t pair = 0; pair < 9; ++pair) {
        const uint8_t *a = &words[pair * 8], *b = a + 4;
        expected.insert(expected.end(),
                        {uint8_t((a[1] + b[1]) >> 1), a[0], uint8_t((a[2] + b[2]) >> 1), b[0]});
    }
    EXPECT_EQ(picture(), expected);
}

TEST_F(LcdPlanes, PlanarYcbcrSamplings) {
    struct Sampling {
        const char* name;
        uint32_t width, height;
        // Index in a chroma plane of the sample for (row, pair).
        size_t (*chromaIndex)(uint32_t row, uint32_t pair, uint32_t pairsPerRow);
    };
    const Sampling samplings[] = {
        {"yuv444p", 6, 2, [](uint32_t y, uint32_t i, uint32_t n) { return size_t{y * n + i} * 2; }},
        {"yuv422", 6, 3, [](uint32_t y, uint32_t i, uint32_t n) { return size_t{y * n + i}; }},
        // Each chroma row serves two picture rows.
        {"yuv420", 6, 4, [](uint32_t y, uint32_t i, uint32_t n) { return size_t{y / 2 * n + i}; }},
    };
    for (const Sampling& s : samplings) {
        SCOPED_TRACE(s.name);
        command("overlay2 off");
        reader_->refresh();
        command(std::string("overlay2 ") + s.name + " " + std::to_string(s.width) + "x" +
                std::to_string(s.height) + " at 0 0");
        auto luma = fill(kOverlay2Physical, s.width * s.height, 4);
        auto cb = fill(kOverlay2CbPhysical, s.width * s.height, 5);
        auto cr = fill(kOverlay2CrPhysical, s.width * s.height, 6);
        reader_->refresh();
        ASSERT_TRUE(reader_->takePicture(reader_->overlay2, 2, kCapacity));
        EXPECT_EQ(gFrame.frameFormat, Uyvy);
        EXPECT_EQ(gFrame.frameWidth, s.width);
        EXPECT_EQ(gFrame.frameHeight, s.height);
        // The pair's second luma sample is skipped.
        std::vector<uint8_t> expected;
        for (uint32_t y = 0; y < s.height; ++y)
            for (uint32_t i = 0; i < s.width / 2; ++i) {
                const size_t c = s.chromaIndex(y, i, s.width / 2);
                const uint8_t firstLuma = luma[y * s.width + 2 * i];
                expected.insert(expected.end(), {cb[c], firstLuma, cr[c], firstLuma});
            }
        EXPECT_EQ(picture(), expected);
    }
}

// 480 x 640 x 2 bytes do not fit the descriptor length the reader takes (AND 0x7FFFC): the plane
// it maps is shorter than the picture, which is then not read past its end.
TEST(LcdPlaneLimits, ShortPlaneAndNoController) {
    for (const char* profile : {"pu10", "mpx220"}) {
        SCOPED_TRACE(profile);
        TempDevice device(profile);
        std::vector<uint8_t> output(kCapacity);
        gFrame.framePixels = output.data();
        LcdPlaneReader* reader = LcdPlaneReader::create();
        ASSERT_NE(reader, nullptr);
        reader->refresh();
        const bool vga = profile[0] == 'p';
        EXPECT_EQ(reader->base.mapped, vga);
        if (vga) {
            EXPECT_EQ(reader->base.plane0Bytes, (480u * 640 * 2) & 0x7FFFC);
        }
        EXPECT_FALSE(reader->takePicture(reader->base, 0, kCapacity));
        LcdPlaneReader::destroy(reader);
        gFrame.framePixels = nullptr;
    }
}

}  // namespace
