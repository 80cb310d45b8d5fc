// Every vector variant against the scalar reference, checkasm style: the same random input
// through both, the whole destination (including what must stay untouched) compared exactly;
// convertToPlanar, whose output is simple to state, against the turn table for every variant.
// Buffers are sized exactly, so the sanitizer build catches any read or write beyond them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "preview/kernel_test_support.h"
#include "preview/kernel_variants.h"

using namespace kernel_test;
using namespace preview_kernels;

namespace {

struct Variant {
    const KernelSet* kernels;
    const ResizerSet* resizers;
};

// The vector variants this processor can run (tests call them directly, whatever LUMO_NO_SIMD
// says about the public entries).
std::vector<Variant> vectorVariants() {
    std::vector<Variant> variants;
#if defined(__x86_64__)
    variants.push_back({&kSse2Kernels, &kSse2Resizers});
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) variants.push_back({&kAvx2Kernels, &kAvx2Resizers});
#endif
    return variants;
}

constexpr int kRounds = 40;

// The random numbers of a test: rnd(n) is below n.
struct Random {
    std::mt19937 gen;
    int operator()(int n) { return static_cast<int>(gen() % static_cast<uint32_t>(n)); }
};

// Runs `draw(destination, vector)` on two copies of one random 16-bit destination of `rows` rows
// `pitch` bytes apart, with the scalar kernel and with the vector one: they must agree on every
// pixel.
template <class Draw>
void expectSameAsScalar(Random& rnd, uint32_t turn, int pitch, int rows, Draw draw) {
    std::vector<uint16_t> expected(static_cast<size_t>(pitch / 2) * rows);
    for (uint16_t& p : expected) p = static_cast<uint16_t>(rnd.gen());
    std::vector<uint16_t> actual = expected;
    draw(expected.data(), false);
    draw(actual.data(), true);
    ASSERT_EQ(actual, expected) << "turn " << turn;
}

}  // namespace

TEST(KernelVariants, ScaleDownByFactorMatchesScalar) {
    Random rnd{std::mt19937(2024)};
    for (const Variant& variant : vectorVariants())
        for (int f = 0; f < kFactorCount; ++f)
            for (int round = 0; round < kRounds; ++round) {
                // Output sizes multiples of 4; sources may have up to factor - 1 spare columns and
                // rows and padding at each row end.
                const int factor = 2 << f, q = 4 * (1 + rnd(12)), p = 4 * (1 + rnd(8));
                const int srcW = q * factor + 2 * rnd(factor / 2), srcH = p * factor + rnd(factor);
                Uyvy frame(srcW, srcH, 4 * rnd(3));
                randomise(frame.bytes, rnd.gen);
                SCOPED_TRACE(testing::Message()
                             << variant.kernels->name << " x" << factor << " " << round);
                for (uint32_t turn = 0; turn < 4; ++turn) {
                    if (!variant.kernels->scaleDown[f][turn]) continue;
                    const bool swap = turnSwapsAxes(turn);
                    const int pitch = 2 * ((swap ? p : q) + rnd(3));
                    expectSameAsScalar(rnd, turn, pitch, swap ? q : p,
                                       [&](uint16_t* out, bool vector) {
                                           (vector ? variant.kernels : &kScalarKernels)
                                               ->scaleDown[f][turn](frame.data(), frame.stride, out,
                                                                    pitch, srcW, srcH);
                                       });
                }
            }
}

// convertToPlanar of every variant, the scalar reference and each vector one, against the turn
// table on random frames of any even width and any height (the first 324 x 16, 4 columns over
// the whole blocks): luma moved, the chroma of each row pair averaged with rounding, and every
// sample outside the whole 8 x 8 blocks left alone.
TEST(KernelVariants, ConvertToPlanarPlacesEverySample) {
    Random rnd{std::mt19937(77)};
    std::vector<const KernelSet*> sets = {&kScalarKernels};
    for (const Variant& variant : vectorVariants()) sets.push_back(variant.kernels);
    for (int round = 0; round < kRounds; ++round) {
        const int w = round ? 2 * (4 + rnd(40)) : 324, h = round ? 8 + rnd(50) : 16;
        Uyvy frame(w, h, 4 * rnd(2));
        randomise(frame.bytes, rnd.gen);
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        for (uint32_t turn = 0; turn < 4; ++turn) {
            const int pw = turnSwapsAxes(turn) ? h : w, ph = turnSwapsAxes(turn) ? w : h;
            Planar expected(pw, ph, 0xAA);
            for (int y = 0; y < h / 8 * 8; ++y)
                for (int x = 0; x < w / 8 * 8; ++x) {
                    const auto [c, r] = turned(turn, x, y, w, h);
                    expected.y[r * pw + c] = frame.luma(x, y);
                    if (x % 2 || y % 2) continue;
                    const auto [cc, cy] = turned(turn, x / 2, y / 2, w / 2, h / 2);
                    const size_t at = cy * (pw / 2) + cc;
                    expected.cb[at] = uint8_t((frame.cb(x, y) + frame.cb(x, y + 1) + 1) >> 1);
                    expected.cr[at] = uint8_t((frame.cr(x, y) + frame.cr(x, y + 1) + 1) >> 1);
                }
            for (const KernelSet* set : sets) {
                if (!set->convertToPlanar[turn]) continue;
                Planar planar(pw, ph, 0xAA);
                set->convertToPlanar[turn](frame.data(), frame.stride, planar.planes(), w, h);
                ASSERT_EQ(planar.y, expected.y) << set->name << " turn " << turn;
                ASSERT_EQ(planar.cb, expected.cb) << set->name << " turn " << turn;
                ASSERT_EQ(planar.cr, expected.cr) << set->name << " turn " << turn;
            }
        }
    }
}

TEST(KernelVariants, ResizeRotateMatchesScalar) {
    Random rnd{std::mt19937(4711)};
    // Fixed shapes first: the preview's own (steps near 1, 1.2 and 2.5, which the AVX2 variant
    // serves with one or two shuffle windows per group of columns), a large reduction (gathers),
    // widths of 8k + 4 and sources narrower than a window; then random ones.
    const int fixed[][4] = {{240, 320, 240, 320}, {288, 352, 240, 292}, {800, 600, 320, 240},
                            {320, 60, 12, 8},     {30, 20, 12, 6},      {64, 16, 20, 4}};
    constexpr int kFixed = static_cast<int>(sizeof fixed / sizeof fixed[0]);
    for (const Variant& variant : vectorVariants())
        for (int round = 0; round < kFixed + 4 * kRounds; ++round) {
            const bool isFixed = round < kFixed;
            const int sw = isFixed ? fixed[round][0] : 2 * (2 + rnd(120));
            const int sh = isFixed ? fixed[round][1] : 2 * (2 + rnd(60));
            const int ow = isFixed ? fixed[round][2] : 4 * (1 + rnd(70));
            const int oh = isFixed ? fixed[round][3] : 2 * (1 + rnd(70));
            // The preview loop's steps, or (every third round) any steps that stay inside.
            int32_t stepH = ow > 2 ? ((sw - 1) << 16) / (ow - 1) : 0x10000;
            int32_t stepV = oh > 2 ? ((sh - 1) << 16) / (oh - 1) : 0x10000;
            if (!isFixed && round % 3 == 2) {
                stepH = rnd(stepH + 1);
                stepV = rnd(stepV + 1);
            }
            Planar planar(sw, sh);
            randomise(planar, rnd.gen);
            SCOPED_TRACE(testing::Message() << variant.resizers->name << " " << round);
            for (uint32_t turn = 0; turn < 4; ++turn) {
                if (!variant.resizers->resizeRotate[turn]) continue;
                const bool swap = turnSwapsAxes(turn);
                const int pitch = 2 * ((swap ? oh : ow) + rnd(3));
                expectSameAsScalar(rnd, turn, pitch, swap ? ow : oh,
                                   [&](uint16_t* out, bool vector) {
                                       (vector ? variant.resizers : &kScalarResizers)
                                           ->resizeRotate[turn](planar.planes(), sw, sh, out, pitch,
                                                                ow, oh, stepH, stepV);
                                   });
            }
        }
}

TEST(KernelVariants, PortableKernelsMatchScalar) {
    Random rnd{std::mt19937(99)};
    for (const Variant& variant : vectorVariants())
        for (int round = 0; round < kRounds; ++round) {
            const int cw = 2 * (2 + rnd(60)), ch = 2 + rnd(60);
            Uyvy frame(cw, ch);
            randomise(frame.bytes, rnd.gen);
            SCOPED_TRACE(testing::Message() << variant.kernels->name << " " << round);
            const int32_t step = 0x8000 + rnd(0x30000);
            // Output sizes that keep the walk inside the frame in both orientations.
            const int alongX = static_cast<int>((int64_t{cw - 1} << 16) / step) + 1;
            const int alongY = static_cast<int>((int64_t{ch - 1} << 16) / step) + 1;
            for (uint32_t turn = 0; turn < 4; ++turn)
                for (bool gray : {false, true}) {
                    if (!(gray ? variant.kernels->drawGray : variant.kernels->drawFullColour))
                        continue;
                    const Walk walk = portableWalk(turn, frame.data(), cw, ch);
                    const bool swap = turnSwapsAxes(turn);
                    const int outW = swap ? alongY : alongX, outH = swap ? alongX : alongY;
                    const int pitch = 2 * (outW + rnd(3));
                    expectSameAsScalar(rnd, turn, pitch, outH, [&](uint16_t* out, bool vector) {
                        const KernelSet& set = vector ? *variant.kernels : kScalarKernels;
                        (gray ? set.drawGray : set.drawFullColour)(
                            out, pitch, outW, outH, walk.start, walk.stepC, walk.stepR, step);
                    });
                }
        }
}

// The row kernels of the sampled planar conversion, each vector variant against the scalar one
// on random rows of every length they serve (luma: multiples of 8 pixels; chroma: multiples of
// 4 pairs), the output buffers exactly sized and pre-filled so a stray or missing byte shows.
TEST(KernelVariants, ConversionRowsMatchScalar) {
    Random rnd{std::mt19937(1357)};
    for (const Variant& variant : vectorVariants())
        for (int round = 0; round < 4 * kRounds; ++round) {
            SCOPED_TRACE(testing::Message() << variant.kernels->name << " " << round);
            const int pixels = 8 * (1 + rnd(round < 2 * kRounds ? 12 : 120));
            std::vector<uint8_t> upper(2 * static_cast<size_t>(pixels)), lower(upper.size());
            randomise(upper, rnd.gen);
            randomise(lower, rnd.gen);
            if (variant.kernels->lumaRow) {
                std::vector<uint8_t> expected(static_cast<size_t>(pixels));
                randomise(expected, rnd.gen);
                std::vector<uint8_t> actual = expected;
                kScalarKernels.lumaRow(upper.data(), expected.data(), pixels);
                variant.kernels->lumaRow(upper.data(), actual.data(), pixels);
                ASSERT_EQ(actual, expected);
            }
            if (variant.kernels->chromaRow) {
                const int pairs = pixels / 2;
                std::vector<uint8_t> expected(2 * static_cast<size_t>(pairs));
                randomise(expected, rnd.gen);
                std::vector<uint8_t> actual = expected;
                kScalarKernels.chromaRow(upper.data(), lower.data(), expected.data(),
                                         expected.data() + pairs, pairs);
                variant.kernels->chromaRow(upper.data(), lower.data(), actual.data(),
                                           actual.data() + pairs, pairs);
                ASSERT_EQ(actual, expected);
            }
        }
}

// Walks the preview never makes but the kernels accept: an odd stepC with stepR = 1, so that
// neighbouring output columns start in different halves of their pixel pairs (the tiled vector
// path then fetches windows per column instead of once per group).
TEST(KernelVariants, PortableKernelsMatchScalarWithOddColumnSteps) {
    Random rnd{std::mt19937(31)};
    for (const Variant& variant : vectorVariants())
        for (int round = 0; round < kRounds; ++round) {
            const int cw = 2 * (2 + rnd(40)), ch = 2 + rnd(60);
            Uyvy frame(cw, ch);
            randomise(frame.bytes, rnd.gen);
            SCOPED_TRACE(testing::Message() << variant.kernels->name << " " << round);
            const int32_t step = 0x8000 + rnd(0x30000);
            const int32_t stepC = cw - 1;  // odd
            // Column c reads pixel floor(c step) (cw - 1) + floor(r step): inside the frame.
            const int outW = static_cast<int>((int64_t{ch - 1} << 16) / step) + 1;
            const int outH = static_cast<int>((int64_t{cw - 2} << 16) / step) + 1;
            const int pitch = 2 * (outW + rnd(3));
            for (bool gray : {false, true}) {
                if (!(gray ? variant.kernels->drawGray : variant.kernels->drawFullColour)) continue;
                expectSameAsScalar(rnd, 0, pitch, outH, [&](uint16_t* out, bool vector) {
                    const KernelSet& set = vector ? *variant.kernels : kScalarKernels;
                    (gray ? set.drawGray : set.drawFullColour)(out, pitch, outW, outH, frame.data(),
                                                               stepC, 1, step);
                });
            }
        }
}
