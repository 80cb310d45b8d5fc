// The preview kernels through their public entries: colour values, sampling positions, edges,
// and where every turn puts an asymmetric picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "preview/kernel_test_support.h"
#include "preview/preview_kernels.h"
#include "preview/resize_rotate.h"

using namespace kernel_test;

namespace {

// Gray 565 of a luma that is a multiple of 8, so the value is easy to read back.
constexpr uint16_t gray565(int y) {
    return static_cast<uint16_t>(((y & 0xF8) << 8) | ((y & 0xFC) << 3) | (y >> 3));
}

// The w x h "F", each cell scale x scale camera pixels: luma 235 on 16, neutral chroma, as
// packed 4:2:2 and as planar 4:2:0.
Uyvy fFrame(int w, int h, int scale) {
    Uyvy frame(w * scale, h * scale);
    frame.fill(16, 128, 128);
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x)
            if (fInk(x / scale, y / scale, w, h)) frame.luma(x, y) = 235;
    return frame;
}

Planar fPlanar(int w, int h, int scale) {
    Planar planar(w * scale, h * scale, 128);
    for (int y = 0; y < planar.h; ++y)
        for (int x = 0; x < planar.w; ++x)
            planar.y[y * planar.w + x] = fInk(x / scale, y / scale, w, h) ? 235 : 16;
    return planar;
}

// `out`, rows `pitch` pixels apart, shows the w x h "F" white on black, turned by `turn`. With
// `repeatOddEdge`, an odd last column or row repeats the one before it.
void expectTurnedF(const std::vector<uint16_t>& out, int pitch, uint32_t turn, int w, int h,
                   bool repeatOddEdge = false) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto [c, r] = turned(turn, x, y, w, h);
            const int sx = repeatOddEdge && w % 2 && x == w - 1 ? x - 1 : x;
            const int sy = repeatOddEdge && h % 2 && y == h - 1 ? y - 1 : y;
            ASSERT_EQ(out[r * pitch + c], fInk(sx, sy, w, h) ? 0xFFFF : 0)
                << turn << ":" << x << "," << y;
        }
}

}  // namespace

TEST(PortableKernels, ColourValuesAndSharedChroma) {
    auto colour = [](uint8_t y, uint8_t cb, uint8_t cr, bool gray = false) {
        Uyvy frame(2, 1);
        frame.fill(y, cb, cr);
        uint16_t out = 0x1234;
        (gray ? drawGray : drawFullColour)(&out, 2, 1, 1, frame.data(), 1, 2, 0x10000);
        return out;
    };
    EXPECT_EQ(colour(255, 255, 128), 0xFEBF);  // R 255, G 212, B clamped
    EXPECT_EQ(colour(0, 0, 0), 0x0440);        // G 136: -34688 >> 8 rounds down to -136
    EXPECT_EQ(colour(128, 128, 128), 0x8410);
    EXPECT_EQ(colour(128, 0, 255, true), 0x8410) << "gray uses the luma alone";
    // Both pixels of a pair take its one chroma sample.
    Uyvy frame(4, 1);
    frame.fill(128, 128, 128);
    frame.cb(2, 0) = 255;
    uint16_t out[4] = {};
    drawFullColour(out, 8, 4, 1, frame.data(), 1, 2, 0x10000);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(out[2], out[3]);
    EXPECT_NE(out[1], out[2]);
}

TEST(PortableKernels, StepOneAndAHalfSamplesColumnsAndRows01346AndKeepsThePitch) {
    Uyvy frame(10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) frame.luma(x, y) = static_cast<uint8_t>(8 * x + 80 * (y % 2));
    std::vector<uint16_t> out(7 * 5, 0xBEEF);  // rows of 7 pixels: two untouched at each end
    drawGray(out.data(), 14, 5, 5, frame.data(), 1, 10, 0x18000);
    const int expected[5] = {0, 1, 3, 4, 6};
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(out[r * 7 + c], gray565(8 * expected[c] + 80 * (expected[r] % 2)))
                << "column " << c << " row " << r;
        EXPECT_EQ(out[r * 7 + 5], 0xBEEF);
        EXPECT_EQ(out[r * 7 + 6], 0xBEEF);
    }
}

// scaleDownByFactor at factors 2, 4 and 8 and resizeRotate at steps 1 and 2 (which repeats an
// odd last column or row) on pictures that take the scalar code with its tails (6 x 5, 7 x 4,
// 7 x 5, 10 x 6) and the vector code (12 x 8), leaving the row ends beyond the picture alone.
TEST(Reducers, EveryTurnPlacesTheF) {
    for (const auto& [w, h] :
         {std::pair{6, 5}, std::pair{7, 4}, std::pair{7, 5}, std::pair{10, 6}, std::pair{12, 8}})
        for (uint32_t turn = 0; turn < 4; ++turn)
            for (int scale : {1, 2, 4, 8}) {
                SCOPED_TRACE(testing::Message()
                             << w << "x" << h << " turn " << turn << " x" << scale);
                const bool swap = turnSwapsAxes(turn);
                const int outW = swap ? h : w, outH = swap ? w : h, pitch = outW + 3;
                std::vector<uint16_t> out(static_cast<size_t>(pitch * outH), 0x1234);
                if (scale > 1) {
                    Uyvy frame = fFrame(w, h, scale);
                    scaleDownByFactor(frame.data(), frame.stride, out.data(), pitch * 2, frame.w,
                                      frame.h, scale, static_cast<KernelTurn>(turn));
                    expectTurnedF(out, pitch, turn, w, h);
                }
                if (scale < 4) {
                    // Step `scale`: (0x8000 + x * scale * 0x10000) >> 16 = scale * x, in cell x.
                    Planar planar = fPlanar(w, h, scale);
                    resizeRotate(planar.planes(), planar.w, planar.h, out.data(), pitch * 2, w, h,
                                 static_cast<KernelTurn>(turn), 0x10000 * scale, 0x10000 * scale);
                    expectTurnedF(out, pitch, turn, w, h, true);
                }
                for (int r = 0; r < outH; ++r)
                    for (int c = outW; c < pitch; ++c) ASSERT_EQ(out[r * pitch + c], 0x1234);
            }
}

TEST(ResizeRotate, QuarterVgaTo240x180ReachesTheLastColumnAndRow) {
    const int sw = 320, sh = 240, ow = 240, oh = 180;
    const int32_t stepH = ((sw - 1) << 16) / (ow - 1), stepV = ((sh - 1) << 16) / (oh - 1);
    Planar planar(sw, sh, 128);
    std::fill(planar.y.begin(), planar.y.end(), 16);
    for (int y = 0; y < sh; ++y) planar.y[y * sw + sw - 1] = 235;    // last column white
    for (int x = 0; x < sw; ++x) planar.y[(sh - 1) * sw + x] = 235;  // last row white
    std::vector<uint16_t> out(static_cast<size_t>(ow * oh), 0x1234);
    resizeRotate(planar.planes(), sw, sh, out.data(), ow * 2, ow, oh, TurnNone, stepH, stepV);
    for (int y = 0; y < oh - 1; ++y) {
        EXPECT_EQ(out[y * ow + ow - 1], 0xFFFF) << "row " << y;
        EXPECT_EQ(out[y * ow + ow - 2], 0x0000) << "row " << y;
    }
    for (int x = 0; x < ow; ++x) EXPECT_EQ(out[(oh - 1) * ow + x], 0xFFFF);
}

// Outputs without a whole block, and reduction factors other than 2, 4 and 8, draw nothing.
TEST(Reducers, RefusedSizesAndFactorsLeaveTheOutputUntouched) {
    Planar planar(4, 4, 128);
    std::vector<uint16_t> out(8 * 4, 0x1234);  // room for what factor 3 would draw
    for (const auto& [ow, oh] : {std::pair{1, 4}, std::pair{4, 1}, std::pair{0, 0}})
        EXPECT_EQ(
            resizeRotate(planar.planes(), 4, 4, out.data(), 8, ow, oh, TurnNone, 0x10000, 0x10000),
            0);
    Uyvy frame(8 * 3, 4 * 3);
    scaleDownByFactor(frame.data(), frame.stride, out.data(), 16, frame.w, frame.h, 3, TurnNone);
    for (uint16_t p : out) EXPECT_EQ(p, 0x1234);
}

// convertSampledRows against convertToPlanar (turn 0) on planes pre-filled with the same random
// bytes (what an earlier picture left): each row the resizer samples is the whole conversion's
// row across the whole blocks, everything else keeps the earlier bytes, and the rotate-resizer
// then draws the same picture from both, in every turn. Shapes: the preview's large frames,
// ragged crops whose remainder columns and rows the resizer samples, enlargements (rows sampled
// twice), tiny outputs, and random ones.
TEST(ConvertSampledRows, SamePictureAsAWholeConversion) {
    std::mt19937 rng(8080);
    auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    // w x h frame, ow x oh output (in the frame's axes)
    const int fixed[][4] = {{800, 600, 320, 240}, {640, 480, 292, 240}, {1280, 960, 320, 240},
                            {350, 262, 240, 180}, {646, 486, 320, 240}, {324, 245, 97, 75},
                            {160, 120, 320, 240}, {38, 20, 77, 61},     {16, 8, 2, 2},
                            {8, 8, 3, 3},         {22, 13, 5, 4}};
    constexpr int kFixed = static_cast<int>(sizeof fixed / sizeof fixed[0]);
    for (int round = 0; round < kFixed + 60; ++round) {
        const bool isFixed = round < kFixed;
        const int w = isFixed ? fixed[round][0] : 2 * (1 + rnd(100));
        const int h = isFixed ? fixed[round][1] : 2 + rnd(150);
        const int ow = isFixed ? fixed[round][2] : 2 + rnd(200);
        const int oh = isFixed ? fixed[round][3] : 2 + rnd(200);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " -> " << ow << "x" << oh);
        Uyvy frame(w, h, 4 * rnd(2));
        randomise(frame.bytes, rng);
        // The preview loop's steps: first and last samples on the even-rounded edges.
        const int32_t stepH = (((w & ~1) - 1) << 16) / ((ow & ~1) - 1);
        const int32_t stepV = (((h & ~1) - 1) << 16) / ((oh & ~1) - 1);
        Planar earlier(w, h);
        randomise(earlier, rng);
        Planar whole = earlier, sampled = earlier;
        convertToPlanar(frame.data(), frame.stride, whole.planes(), w, h, TurnNone);
        convertSampledRows(frame.data(), frame.stride, sampled.planes(), w, h, oh, stepV);

        // The rows the resizer reads, by its formulas.
        std::vector<bool> lumaRead(size_t(h), false), chromaRead(size_t(h / 2), false);
        for (int j = 0; j < oh / 2; ++j) {
            const int64_t a = int64_t{2} * j * stepV;
            for (int64_t r : {(a + 0x8000) >> 16, (a + 0x8000 + stepV) >> 16})
                if (r < h) lumaRead[size_t(r)] = true;
            if (((a + 0x10000) >> 17) < h / 2) chromaRead[size_t((a + 0x10000) >> 17)] = true;
        }
        auto checkPlane = [&](const char* name, int pw, int ph, const std::vector<bool>& read,
                              int wholeColumns, int wholeRows, const std::vector<uint8_t>& before,
                              const std::vector<uint8_t>& converted,
                              const std::vector<uint8_t>& actual) {
            for (int r = 0; r < ph; ++r)
                for (int c = 0; c < pw; ++c) {
                    const size_t at = size_t(r) * pw + c;
                    const bool written = read[size_t(r)] && r < wholeRows && c < wholeColumns;
                    ASSERT_EQ(actual[at], written ? converted[at] : before[at])
                        << name << " row " << r << " column " << c;
                }
        };
        checkPlane("Y", w, h, lumaRead, w / 8 * 8, h / 8 * 8, earlier.y, whole.y, sampled.y);
        checkPlane("Cb", w / 2, h / 2, chromaRead, w / 8 * 4, h / 8 * 4, earlier.cb, whole.cb,
                   sampled.cb);
        checkPlane("Cr", w / 2, h / 2, chromaRead, w / 8 * 4, h / 8 * 4, earlier.cr, whole.cr,
                   sampled.cr);

        for (uint32_t turn = 0; turn < 4; ++turn) {
            const int outW = turnSwapsAxes(turn) ? oh : ow, outH = turnSwapsAxes(turn) ? ow : oh;
            std::vector<uint16_t> fromWhole(size_t(outW) * outH, 0x1234), fromSampled = fromWhole;
            resizeRotate(whole.planes(), w, h, fromWhole.data(), outW * 2, ow, oh, KernelTurn(turn),
                         stepH, stepV);
            resizeRotate(sampled.planes(), w, h, fromSampled.data(), outW * 2, ow, oh,
                         KernelTurn(turn), stepH, stepV);
            ASSERT_EQ(fromSampled, fromWhole) << "turn " << turn;
        }
    }
}
