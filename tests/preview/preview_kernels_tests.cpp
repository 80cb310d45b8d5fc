// The preview kernels through their public entries: colour values, sampling positions, edges,
// and where every turn puts an asymmetric picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "preview/kernel_test_support.h"
#include "preview/kernel_variants.h"
#include "preview/preview_kernels.h"
#include "preview/resize_rotate.h"

using namespace kernel_test;

namespace {

uint16_t fullColourOf(uint8_t y, uint8_t cb, uint8_t cr) {
    Uyvy frame(2, 1);
    frame.fill(y, cb, cr);
    uint16_t out = 0x1234;
    drawFullColour(&out, 2, 1, 1, frame.data(), 1, 2, 0x10000);
    return out;
}

// Gray 565 of a luma that is a multiple of 8, so the value is easy to read back.
constexpr uint16_t gray565(int y) {
    return static_cast<uint16_t>(((y & 0xF8) << 8) | ((y & 0xFC) << 3) | (y >> 3));
}

}  // namespace

TEST(DrawFullColour, ColourValues) {
    EXPECT_EQ(fullColourOf(255, 255, 128), 0xFEBF);  // R 255, G 212, B clamped
    EXPECT_EQ(fullColourOf(0, 0, 0), 0x0440);        // G 136: -34688 >> 8 rounds down to -136
    EXPECT_EQ(fullColourOf(128, 128, 128), 0x8410);
}

TEST(DrawGray, UsesLumaAlone) {
    Uyvy frame(2, 1);
    frame.fill(128, 0, 255);
    uint16_t out = 0;
    drawGray(&out, 2, 1, 1, frame.data(), 1, 2, 0x10000);
    EXPECT_EQ(out, 0x8410);
}

TEST(DrawFullColour, SecondPixelOfAPairSharesItsChroma) {
    Uyvy frame(4, 1);
    frame.fill(128, 128, 128);
    frame.cb(2, 0) = 255;  // the second pair only
    uint16_t out[4] = {};
    drawFullColour(out, 8, 4, 1, frame.data(), 1, 2, 0x10000);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(out[2], out[3]);
    EXPECT_NE(out[1], out[2]);
}

TEST(DrawGray, StepOneAndAHalfSamplesColumnsAndRows013467) {
    const int w = 10, h = 10;
    Uyvy frame(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) frame.luma(x, y) = static_cast<uint8_t>(8 * x + 80 * (y % 2));
    std::vector<uint16_t> out(5 * 5, 0);
    drawGray(out.data(), 10, 5, 5, frame.data(), 1, w, 0x18000);
    const int expected[5] = {0, 1, 3, 4, 6};
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(out[r * 5 + c], gray565(8 * expected[c] + 80 * (expected[r] % 2)))
                << "column " << c << " row " << r;
}

TEST(DrawFullColour, StepOneCopiesEveryPixelAndKeepsThePitch) {
    const int w = 6, h = 3;
    Uyvy frame(w, h);
    frame.fill(128, 128, 128);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) frame.luma(x, y) = static_cast<uint8_t>(8 * (x + w * y));
    std::vector<uint16_t> out(8 * h, 0xBEEF);  // pitch of 8 pixels: two untouched at each row end
    drawGray(out.data(), 16, w, h, frame.data(), 1, w, 0x10000);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) EXPECT_EQ(out[y * 8 + x], gray565(8 * (x + w * y)));
        EXPECT_EQ(out[y * 8 + 6], 0xBEEF);
        EXPECT_EQ(out[y * 8 + 7], 0xBEEF);
    }
}

// The portable kernels turn through the source walk: start pixel and steps per "Rotation".
TEST(DrawFullColour, SourceWalksOfEveryRotationTurnTheF) {
    struct Walk {
        const char* rotation;
        uint32_t turn;
    };
    const Walk walks[] = {{"None", 1}, {"90L", 0}, {"180", 2}, {"90R", 3}};
    for (int scale : {1, 2}) {
        const int w = 6, h = 5;  // the picture as shown, in camera pixels / scale
        const int cw = w * scale, ch = h * scale;
        Uyvy frame(cw, ch);
        frame.fill(0, 128, 128);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                if (fInk(x / scale, y / scale, w, h)) frame.luma(x, y) = 255;
        const uint8_t* pixels = frame.data();
        for (const Walk& walk : walks) {
            const uint8_t* start = pixels;
            int32_t stepC = 1, stepR = cw;
            int outW = w, outH = h;
            switch (walk.turn) {
                case 1:
                    start = pixels + (cw - 1) * 2, stepC = cw, stepR = -1, outW = h, outH = w;
                    break;
                case 2:
                    start = pixels + (ch - 1) * cw * 2, stepC = -cw, stepR = 1, outW = h, outH = w;
                    break;
                case 3:
                    start = pixels + (ch * cw - 1) * 2, stepC = -1, stepR = -cw;
                    break;
                default:
                    break;
            }
            std::vector<uint16_t> out(static_cast<size_t>(outW * outH), 0x1234);
            drawFullColour(out.data(), outW * 2, outW, outH, start, stepC, stepR, 0x10000 * scale);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const auto [c, r] = turned(walk.turn, x, y, w, h);
                    EXPECT_EQ(out[r * outW + c], fInk(x, y, w, h) ? 0xFFFF : 0x0000)
                        << walk.rotation << " scale " << scale << " camera " << x << "," << y;
                }
        }
    }
}

TEST(DrawFullColour, TurnOneLiterally) {
    Uyvy frame(6, 5);
    frame.fill(0, 128, 128);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            if (fInk(x, y, 6, 5)) frame.luma(x, y) = 255;
    std::vector<uint16_t> out(5 * 6);
    drawGray(out.data(), 10, 5, 6, frame.data() + 5 * 2, 6, -1, 0x10000);
    const char* const expected[6] = {"#....", "#....", "#.#..", "#.#..", "#.#..", "#####"};
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(out[r * 5 + c], expected[r][c] == '#' ? 0xFFFF : 0) << r << "," << c;
}

TEST(ScaleDownByFactor, StudioBlackWhiteAndMidGray) {
    for (int factor : {2, 4, 8}) {
        for (const auto& [y, expected] :
             {std::pair<uint8_t, uint16_t>{16, 0x0000}, {235, 0xFFFF}, {128, 0x8410}}) {
            Uyvy frame(8 * factor, 4 * factor);
            frame.fill(y, 128, 128);
            std::vector<uint16_t> out(8 * 4, 0x1234);
            scaleDownByFactor(frame.data(), frame.stride, out.data(), 16, frame.w, frame.h, factor,
                              TurnNone);
            for (uint16_t p : out) ASSERT_EQ(p, expected) << "factor " << factor << " Y " << int{y};
        }
    }
}

TEST(ScaleDownByFactor, PairsShareTheFirstSamplesChromaAndTheOddTailHasItsOwn) {
    // 324 x 240 by 4: 81 columns, 40 pairs and a single last pixel.
    Uyvy frame(324, 240);
    frame.fill(128, 128, 128);
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; x += 2) {
            frame.cb(x, y) = static_cast<uint8_t>(16 + (x / 2) % 200);
            frame.cr(x, y) = static_cast<uint8_t>(240 - (x / 2) % 200);
            frame.luma(x, y) = static_cast<uint8_t>(20 + x % 190);
            frame.luma(x + 1, y) = 7;  // never sampled
        }
    std::vector<uint16_t> out(81 * 60);
    scaleDownByFactor(frame.data(), frame.stride, out.data(), 81 * 2, 324, 240, 4, TurnNone);
    auto studio = [](int y, int cb, int cr) {
        const int l = (y - 16) * 1192, u = cb - 128, v = cr - 128;
        auto clamp = [](int x, int hi) { return x < 0 ? 0 : x > hi ? hi : x; };
        return static_cast<uint16_t>((clamp((l + 1634 * v) >> 13, 31) << 11) |
                                     (clamp((l - 401 * u - 833 * v) >> 12, 63) << 5) |
                                     clamp((l + 2065 * u) >> 13, 31));
    };
    for (int k : {0, 59}) {
        const int y = 4 * k;
        // Column 79 is the second of pair (78, 79): luma of source 316, chroma of source 312.
        EXPECT_EQ(out[k * 81 + 79], studio(frame.luma(316, y), frame.cb(312, y), frame.cr(312, y)));
        EXPECT_EQ(out[k * 81 + 78], studio(frame.luma(312, y), frame.cb(312, y), frame.cr(312, y)));
        // Column 80 is the tail: source 320 with its own chroma.
        EXPECT_EQ(out[k * 81 + 80], studio(frame.luma(320, y), frame.cb(320, y), frame.cr(320, y)));
    }
}

TEST(ScaleDownByFactor, EveryTurnAndFactorPlacesTheF) {
    // 6 x 5 takes the scalar kernels with a single-pixel tail; 12 x 8 the vector ones.
    for (const auto& [w, h] : {std::pair{6, 5}, std::pair{12, 8}, std::pair{7, 4}}) {
        for (int factor : {2, 4, 8}) {
            Uyvy frame(w * factor, h * factor);
            for (int y = 0; y < frame.h; ++y)
                for (int x = 0; x < frame.w; ++x) {
                    frame.luma(x, y) = fInk(x / factor, y / factor, w, h) ? 235 : 16;
                    frame.cb(x, y) = frame.cr(x, y) = 128;
                }
            for (uint32_t turn = 0; turn < 4; ++turn) {
                const int outW = turnSwapsAxes(turn) ? h : w;
                const int outH = turnSwapsAxes(turn) ? w : h;
                const int pitchPixels = outW + 3;
                std::vector<uint16_t> out(static_cast<size_t>(pitchPixels * outH), 0x1234);
                scaleDownByFactor(frame.data(), frame.stride, out.data(), pitchPixels * 2, frame.w,
                                  frame.h, factor, static_cast<KernelTurn>(turn));
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const auto [c, r] = turned(turn, x, y, w, h);
                        ASSERT_EQ(out[r * pitchPixels + c], fInk(x, y, w, h) ? 0xFFFF : 0)
                            << w << "x" << h << " factor " << factor << " turn " << turn;
                    }
                for (int r = 0; r < outH; ++r)
                    for (int c = outW; c < pitchPixels; ++c)
                        ASSERT_EQ(out[r * pitchPixels + c], 0x1234) << "beyond the picture";
            }
        }
    }
}

TEST(ScaleDownByFactor, QuarterVgaByTwoSamplesEveryOtherPixel) {
    // 320 x 240 by 2: 160 x 120, both multiples of 4, the shape the vector variants serve.
    Uyvy frame(320, 240);
    std::mt19937 rng(5);
    randomise(frame.bytes, rng);
    for (uint32_t turn = 0; turn < 4; ++turn) {
        std::vector<uint16_t> out(160 * 120, 0x1234);
        std::vector<uint16_t> scalar(160 * 120, 0x1234);
        const int pitch = turnSwapsAxes(turn) ? 240 : 320;
        scaleDownByFactor(frame.data(), frame.stride, out.data(), pitch, 320, 240, 2,
                          static_cast<KernelTurn>(turn));
        preview_kernels::kScalarKernels.scaleDown[0][turn](frame.data(), frame.stride,
                                                           scalar.data(), pitch, 320, 240);
        ASSERT_EQ(out, scalar) << "turn " << turn;
        // Output (i, k) is source (2i, 2k) with the chroma of source (2i & ~3, 2k).
        for (const auto& [i, k] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{159, 119}}) {
            const auto [c, r] = turned(turn, i, k, 160, 120);
            EXPECT_EQ(out[r * (pitch / 2) + c],
                      preview_kernels::studioToRgb565<preview_kernels::kReducerColour>(
                          frame.luma(2 * i, 2 * k), frame.cb(4 * (i / 2), 2 * k),
                          frame.cr(4 * (i / 2), 2 * k)))
                << "turn " << turn << " at " << i << "," << k;
        }
    }
}

TEST(ScaleDownByFactor, OtherFactorsDrawNothing) {
    Uyvy frame(24, 24);
    std::vector<uint16_t> out(64, 0x1234);
    scaleDownByFactor(frame.data(), frame.stride, out.data(), 16, 24, 24, 3, TurnNone);
    for (uint16_t p : out) EXPECT_EQ(p, 0x1234);
}

namespace {

// Runs convertToPlanar and checks every converted sample against the source through the turn
// table; everything else must keep its sentinel.
void expectPlanarTurned(Uyvy& frame, uint32_t turn) {
    const int w = frame.w, h = frame.h;
    const bool swap = turnSwapsAxes(turn);
    const int pw = swap ? h : w, ph = swap ? w : h;
    Planar planar(pw, ph, 0xAA);
    convertToPlanar(frame.data(), frame.stride, planar.planes(), w, h,
                    static_cast<KernelTurn>(turn));
    const int bw = w / 8 * 8, bh = h / 8 * 8;
    std::vector<bool> lumaSet(planar.y.size()), chromaSet(planar.cb.size());
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
            const auto [c, r] = turned(turn, x, y, w, h);
            ASSERT_EQ(planar.y[r * pw + c], frame.luma(x, y))
                << "turn " << turn << " " << x << "," << y;
            lumaSet[r * pw + c] = true;
        }
    for (int y = 0; y < bh / 2; ++y)
        for (int x = 0; x < bw / 2; ++x) {
            const auto [c, r] = turned(turn, x, y, w / 2, h / 2);
            const int cb = (frame.cb(2 * x, 2 * y) + frame.cb(2 * x, 2 * y + 1) + 1) >> 1;
            const int cr = (frame.cr(2 * x, 2 * y) + frame.cr(2 * x, 2 * y + 1) + 1) >> 1;
            ASSERT_EQ(planar.cb[r * (pw / 2) + c], cb) << "turn " << turn;
            ASSERT_EQ(planar.cr[r * (pw / 2) + c], cr) << "turn " << turn;
            chromaSet[r * (pw / 2) + c] = true;
        }
    for (size_t i = 0; i < planar.y.size(); ++i)
        if (!lumaSet[i]) {
            ASSERT_EQ(planar.y[i], 0xAA) << "turn " << turn << " luma " << i;
        }
    for (size_t i = 0; i < planar.cb.size(); ++i)
        if (!chromaSet[i]) {
            ASSERT_EQ(planar.cb[i], 0xAA) << "turn " << turn << " chroma " << i;
            ASSERT_EQ(planar.cr[i], 0xAA) << "turn " << turn << " chroma " << i;
        }
}

}  // namespace

TEST(ConvertToPlanar, EveryTurnPlacesLumaAndRoundedChromaAverages) {
    // 24 x 16: F cells do not align with the 8 x 8 blocks, so the inside of blocks is turned too.
    Uyvy frame(24, 16);
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x) {
            frame.luma(x, y) = fInk(x, y, frame.w, frame.h) ? 200 : static_cast<uint8_t>(x + 3 * y);
            // Neighbouring rows differ by an odd amount, so the rounding shows.
            frame.cb(x, y) = static_cast<uint8_t>(40 + 7 * (x / 2) + 3 * y);
            frame.cr(x, y) = static_cast<uint8_t>(250 - 5 * (x / 2) - y);
        }
    for (uint32_t turn = 0; turn < 4; ++turn) expectPlanarTurned(frame, turn);
}

TEST(ConvertToPlanar, RemainderColumnsAndRowsAreLeftAlone) {
    std::mt19937 rng(7);
    Uyvy wide(324, 16);  // 40 blocks across, 4 columns left over
    randomise(wide.bytes, rng);
    Uyvy tall(16, 21);  // 2 blocks down, 5 rows left over
    randomise(tall.bytes, rng);
    for (uint32_t turn = 0; turn < 4; ++turn) {
        expectPlanarTurned(wide, turn);
        expectPlanarTurned(tall, turn);
    }
}

namespace {

uint16_t studio8(int y, int cb, int cr) {
    const int l = (y - 16) * 298, u = cb - 128, v = cr - 128;
    auto clamp = [](int x, int hi) { return x < 0 ? 0 : x > hi ? hi : x; };
    return static_cast<uint16_t>((clamp((l + 409 * v) >> 11, 31) << 11) |
                                 (clamp((l - 100 * u - 208 * v) >> 10, 63) << 5) |
                                 clamp((l + 516 * u) >> 11, 31));
}

}  // namespace

TEST(ResizeRotate, StudioBlackAndWhite) {
    for (const auto& [y, expected] : {std::pair<uint8_t, uint16_t>{16, 0x0000}, {235, 0xFFFF}}) {
        Planar planar(8, 6);
        std::fill(planar.y.begin(), planar.y.end(), y);
        std::fill(planar.cb.begin(), planar.cb.end(), 128);
        std::fill(planar.cr.begin(), planar.cr.end(), 128);
        std::vector<uint16_t> out(8 * 6, 0x1234);
        resizeRotate(planar.planes(), 8, 6, out.data(), 16, 8, 6, TurnNone, 0x10000, 0x10000);
        for (uint16_t p : out) EXPECT_EQ(p, expected);
    }
}

TEST(ResizeRotate, UnitStepsCopySampleForSample) {
    for (const auto& [w, h] : {std::pair{8, 6}, std::pair{10, 6}, std::pair{7, 5}}) {
        Planar planar(w, h);
        std::mt19937 rng(w * 100 + h);
        randomise(planar.y, rng);
        randomise(planar.cb, rng);
        randomise(planar.cr, rng);
        std::vector<uint16_t> out(static_cast<size_t>(w * h));
        resizeRotate(planar.planes(), w, h, out.data(), w * 2, w, h, TurnNone, 0x10000, 0x10000);
        for (int y = 0; y < h / 2 * 2; ++y)
            for (int x = 0; x < w / 2 * 2; ++x) {
                // Block (i, j) takes chroma ((0x8000 + i * 0x10000) >> 16, ...) = (i, j).
                const int cr = (y / 2) * (w / 2) + x / 2;
                ASSERT_EQ(out[y * w + x],
                          studio8(planar.y[y * w + x], planar.cb[cr], planar.cr[cr]))
                    << w << "x" << h << " at " << x << "," << y;
            }
    }
}

TEST(ResizeRotate, OddWidthAndHeightRepeatTheLastColumnAndRow) {
    Planar planar(6, 6);
    std::mt19937 rng(3);
    randomise(planar.y, rng);
    randomise(planar.cb, rng);
    randomise(planar.cr, rng);
    // ow = 3: one whole block column, the third column equal to the second.
    for (uint32_t turn = 0; turn < 4; ++turn) {
        const int ow = 3, oh = 5;
        const int outW = turnSwapsAxes(turn) ? oh : ow, outH = turnSwapsAxes(turn) ? ow : oh;
        std::vector<uint16_t> out(static_cast<size_t>(outW * outH), 0x1234);
        resizeRotate(planar.planes(), 6, 6, out.data(), outW * 2, ow, oh,
                     static_cast<KernelTurn>(turn), 0x20000, 0x10000);
        auto at = [&](int x, int y) {
            const auto [c, r] = turned(turn, x, y, ow, oh);
            return out[r * outW + c];
        };
        for (int y = 0; y < oh; ++y) {
            EXPECT_EQ(at(2, y), at(1, y)) << "turn " << turn << " row " << y;
            EXPECT_NE(at(0, y), 0x1234);
        }
        for (int x = 0; x < ow; ++x) EXPECT_EQ(at(x, 4), at(x, 3)) << "turn " << turn;
        // Block (0, 0) sampled luma (0, 0), (2, 0), (0, 1), (2, 1).
        EXPECT_EQ(at(1, 1), studio8(planar.y[1 * 6 + 2], planar.cb[0], planar.cr[0]));
    }
}

TEST(ResizeRotate, QuarterVgaTo240x180ReachesTheLastColumnAndRow) {
    const int sw = 320, sh = 240, ow = 240, oh = 180;
    const int32_t stepH = ((sw - 1) << 16) / (ow - 1);
    const int32_t stepV = ((sh - 1) << 16) / (oh - 1);
    ASSERT_EQ(stepH, 87472);
    ASSERT_EQ(stepV, 87503);
    Planar planar(sw, sh);
    std::fill(planar.y.begin(), planar.y.end(), 16);
    std::fill(planar.cb.begin(), planar.cb.end(), 128);
    std::fill(planar.cr.begin(), planar.cr.end(), 128);
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

TEST(ResizeRotate, EveryTurnPlacesTheF) {
    // 12 x 8 output takes the vector kernel, 6 x 5 and 10 x 6 the scalar one.
    for (const auto& [w, h] : {std::pair{12, 8}, std::pair{6, 5}, std::pair{10, 6}}) {
        for (int scale : {1, 2}) {
            Planar planar(w * scale, h * scale);
            for (int y = 0; y < planar.h; ++y)
                for (int x = 0; x < planar.w; ++x)
                    planar.y[y * planar.w + x] = fInk(x / scale, y / scale, w, h) ? 235 : 16;
            std::fill(planar.cb.begin(), planar.cb.end(), 128);
            std::fill(planar.cr.begin(), planar.cr.end(), 128);
            for (uint32_t turn = 0; turn < 4; ++turn) {
                const int outW = turnSwapsAxes(turn) ? h : w, outH = turnSwapsAxes(turn) ? w : h;
                std::vector<uint16_t> out(static_cast<size_t>(outW * outH), 0x1234);
                // Step `scale`: (0x8000 + x * scale * 0x10000) >> 16 = scale * x, inside cell x.
                resizeRotate(planar.planes(), planar.w, planar.h, out.data(), outW * 2, w, h,
                             static_cast<KernelTurn>(turn), 0x10000 * scale, 0x10000 * scale);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const auto [c, r] = turned(turn, x, y, w, h);
                        // Odd sizes repeat the column / row before the last.
                        const int sx = (w % 2 && x == w - 1) ? x - 1 : x;
                        const int sy = (h % 2 && y == h - 1) ? y - 1 : y;
                        ASSERT_EQ(out[r * outW + c], fInk(sx, sy, w, h) ? 0xFFFF : 0)
                            << w << "x" << h << " scale " << scale << " turn " << turn << " at "
                            << x << "," << y;
                    }
            }
        }
    }
}

TEST(ResizeRotate, OutputsWithoutAWholeBlockAreLeftUntouched) {
    Planar planar(4, 4, 128);
    std::vector<uint16_t> out(8, 0x1234);
    EXPECT_EQ(resizeRotate(planar.planes(), 4, 4, out.data(), 8, 1, 4, TurnNone, 0x10000, 0x10000),
              0);
    EXPECT_EQ(resizeRotate(planar.planes(), 4, 4, out.data(), 8, 4, 1, TurnNone, 0x10000, 0x10000),
              0);
    EXPECT_EQ(resizeRotate(planar.planes(), 4, 4, out.data(), 8, 0, 0, TurnNone, 0x10000, 0x10000),
              0);
    for (uint16_t p : out) EXPECT_EQ(p, 0x1234);
}
