// Conversions of the raw and external paths.
#include <gtest/gtest.h>

#include <vector>

#include "jpeg/frame_convert.h"

namespace {

TEST(ConvertRgbToUyvy, BlackPairIsNeutralChromaAndZeroLuma) {
    for (uint32_t bits : {16u, 15u, 24u}) {
        std::vector<uint8_t> pixels(bits == 24 ? 6 : 4, 0);
        std::vector<uint8_t> out(4, 0xEE);
        convertRgbToUyvy(out.data(), pixels.data(), 4, bits);
        EXPECT_EQ(out, (std::vector<uint8_t>{128, 0, 128, 0})) << bits;
    }
}

TEST(ConvertRgbToUyvy, ReadsEachLayoutInPlaceAndIgnoresBit15) {
    // Rgb565 white and black: Y 249 (248, 252, 248 weighted), Cb and Cr from both pixels.
    std::vector<uint8_t> frame = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0xF8, 0x1F, 0x00};
    convertRgbToUyvy(frame.data(), frame.data(), uint32_t(frame.size()), 16);
    const int y0 = (77 * 248 + 150 * 252 + 29 * 248) >> 8;
    EXPECT_EQ(frame[1], y0);
    EXPECT_EQ(frame[3], 0);
    EXPECT_EQ(frame[0], ((((248 - y0) * 145) >> 8) + 0 + 256) >> 1);
    // Second pair: pure red then pure blue.
    const int yr = (77 * 248) >> 8, yb = (29 * 248) >> 8;
    EXPECT_EQ(frame[5], yr);
    EXPECT_EQ(frame[7], yb);
    EXPECT_EQ(frame[6], ((((248 - yr) * 183) >> 8) + (((0 - yb) * 183) >> 8) + 256) >> 1);
    EXPECT_EQ(frame[4], ((((0 - yr) * 145) >> 8) + (((248 - yb) * 145) >> 8) + 256) >> 1);

    // Rgb555 with bit 15 set reads the same as without.
    std::vector<uint8_t> a = {0x1F, 0xFC, 0xE0, 0x03}, b = {0x1F, 0x7C, 0xE0, 0x83};
    convertRgbToUyvy(a.data(), a.data(), 4, 15);
    convertRgbToUyvy(b.data(), b.data(), 4, 15);
    EXPECT_EQ(a, b);

    // Bgr24 in place: 3 bytes per pixel in, 2 out; full blue clamps instead of wrapping to 0.
    std::vector<uint8_t> bgr = {255, 0, 0, 255, 0, 0, 10, 20, 30, 10, 20, 30};
    convertRgbToUyvy(bgr.data(), bgr.data(), 8, 24);
    EXPECT_EQ(bgr[0], 255);
    EXPECT_EQ(bgr[1], (29 * 255) >> 8);
    const int y = (77 * 30 + 150 * 20 + 29 * 10) >> 8;
    EXPECT_EQ(bgr[5], y);
    EXPECT_EQ(bgr[7], y);
}

TEST(HalveUyvy, EqualWordsStayAndGroupsAverageWithRounding) {
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
    // Four equal words stay as they are.
    std::vector<uint8_t> same(4 * 2 * 2, 0);
    for (size_t i = 0; i < same.size(); i += 4) {
        same[i] = 1;
        same[i + 1] = 2;
        same[i + 2] = 3;
        same[i + 3] = 2;
    }
    halveUyvy(same.data(), 2, 1);
    EXPECT_EQ(std::vector<uint8_t>(same.begin(), same.begin() + 4),
              (std::vector<uint8_t>{1, 2, 3, 2}));
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

TEST(ConvertFrameToPlanes, TurnsPlanesLikeTheEncoderAndRefusesTurned422) {
    const uint32_t w = 6, h = 4;
    const std::vector<uint8_t> frame = smallFrame(w, h);
    auto planesOf = [&](uint32_t format, uint32_t rotation) {
        std::vector<uint8_t> f = frame, out(w * h * 2, 0xEE);
        EXPECT_EQ(convertFrameToPlanes(out.data(), f.data(), w, h, 1, format, rotation), 1u);
        return out;
    };
    const auto upright = planesOf(1, 0);
    for (uint32_t rotation = 1; rotation < 4; ++rotation) {
        const auto turned = planesOf(1, rotation);
        // Check every plane sample against its place in the upright planes.
        auto check = [&](size_t offset, uint32_t pw, uint32_t ph) {
            for (uint32_t y = 0; y < ph; ++y)
                for (uint32_t x = 0; x < pw; ++x) {
                    size_t d;
                    if (rotation == 1)
                        d = size_t(pw - 1 - x) * ph + y;  // right column on top
                    else if (rotation == 2)
                        d = size_t(ph - 1 - y) * pw + (pw - 1 - x);
                    else
                        d = size_t(x) * ph + (ph - 1 - y);
                    EXPECT_EQ(turned[offset + d], upright[offset + size_t(y) * pw + x])
                        << rotation << " " << x << "," << y;
                }
        };
        check(0, w, h);
        check(w * h, w / 2, h / 2);
        check(w * h + w * h / 4, w / 2, h / 2);
    }
    // Grey writes only Y; 4:2:2 keeps a chroma sample per pair and line.
    const auto grey = planesOf(4, 2);
    EXPECT_EQ(grey[0], frame[(w * h - 1) * 2 + 1]);
    EXPECT_EQ(grey[w * h], 0xEE);
    const auto planar422 = planesOf(2, 0);
    EXPECT_EQ(planar422[w * h + (w / 2) * 3 + 1], frame[(3 * w + 2) * 2]);  // Cb of pair 1, line 3
    std::vector<uint8_t> f = frame, out(w * h * 2, 0xEE);
    EXPECT_EQ(convertFrameToPlanes(out.data(), f.data(), w, h, 1, 2, 1), 0u);
    EXPECT_EQ(convertFrameToPlanes(out.data(), f.data(), w, h, 1, 2, 3), 0u);
    EXPECT_EQ(out, std::vector<uint8_t>(w * h * 2, 0xEE));
}

TEST(ConvertFrameToPlanes, ScaleTwoHalvesTheSourceFirst) {
    std::vector<uint8_t> frame(8 * 4 * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i % 4 == 1 ? 60 : 128);
    std::vector<uint8_t> planes(4 * 2 * 2, 0);
    ASSERT_EQ(convertFrameToPlanes(planes.data(), frame.data(), 4, 2, 2, 1, 0), 1u);
    // Y0 of every pixel 60, Y1 128: each halved pixel averages both.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(planes[i], (60 + 128 + 60 + 128 + 2) >> 2);
}

}  // namespace
