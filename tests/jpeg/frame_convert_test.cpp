// Conversions of the raw and external paths.
#include <gtest/gtest.h>

#include <vector>

#include "jpeg/frame_convert.h"

namespace {

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

TEST(HalveUyvy, GroupsAverageWithRounding) {
    std::vector<uint8_t> frame(8 * 4 * 2);
    for (size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = 10;
        frame[i + 1] = 20;
        frame[i + 2] = 30;
        frame[i + 3] = 40;
    }
    halveUyvy(frame.data(), 4, 2);
    for (size_t i = 0; i < 16; i += 4) {
        EXPECT_EQ(frame[i], 10);
        EXPECT_EQ(frame[i + 1], (20 + 40 + 20 + 40 + 2) >> 2);  // the pair's two Y, both lines
        EXPECT_EQ(frame[i + 2], 30);
        EXPECT_EQ(frame[i + 3], 30);
    }
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
