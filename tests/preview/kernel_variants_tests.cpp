// Every vector variant against the scalar reference, checkasm style: the same random input
// through both, the whole destination (including what must stay untouched) compared exactly.
// Buffers are sized exactly, so the sanitizer build catches any read or write beyond them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
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

}  // namespace

TEST(KernelVariants, ScaleDownByFactorMatchesScalar) {
    std::mt19937 rng(2024);
    for (const Variant& variant : vectorVariants()) {
        for (int f = 0; f < kFactorCount; ++f) {
            const int factor = 2 << f;
            for (int round = 0; round < kRounds; ++round) {
                // Output sizes multiples of 4; sources may have up to factor - 1 spare columns and
                // rows and padding at each row end.
                const int q = 4 * static_cast<int>(1 + rng() % 12);
                const int p = 4 * static_cast<int>(1 + rng() % 8);
                const int srcW = q * factor + 2 * static_cast<int>(rng() % (factor / 2));
                const int srcH = p * factor + static_cast<int>(rng() % factor);
                Uyvy frame(srcW, srcH, 4 * static_cast<int>(rng() % 3));
                randomise(frame.bytes, rng);
                for (uint32_t turn = 0; turn < 4; ++turn) {
                    const ScaleDownFn vector = variant.kernels->scaleDown[f][turn];
                    if (!vector) continue;
                    const int outW = turnSwapsAxes(turn) ? p : q;
                    const int outH = turnSwapsAxes(turn) ? q : p;
                    const int pitch = 2 * (outW + static_cast<int>(rng() % 3));
                    const std::vector<uint16_t> before =
                        randomPixels(static_cast<size_t>(pitch / 2) * outH, rng);
                    std::vector<uint16_t> expected = before, actual = before;
                    kScalarKernels.scaleDown[f][turn](frame.data(), frame.stride, expected.data(),
                                                      pitch, srcW, srcH);
                    vector(frame.data(), frame.stride, actual.data(), pitch, srcW, srcH);
                    ASSERT_EQ(actual, expected) << variant.kernels->name << " factor " << factor
                                                << " turn " << turn << " " << srcW << "x" << srcH;
                }
            }
        }
    }
}

TEST(KernelVariants, ConvertToPlanarMatchesScalar) {
    std::mt19937 rng(77);
    for (const Variant& variant : vectorVariants()) {
        for (int round = 0; round < kRounds; ++round) {
            const int srcW =
                2 * static_cast<int>(4 + rng() % 40);  // any even width, remainders too
            const int srcH = static_cast<int>(8 + rng() % 50);
            Uyvy frame(srcW, srcH, 4 * static_cast<int>(rng() % 2));
            randomise(frame.bytes, rng);
            for (uint32_t turn = 0; turn < 4; ++turn) {
                const ConvertToPlanarFn vector = variant.kernels->convertToPlanar[turn];
                if (!vector) continue;
                const int pw = turnSwapsAxes(turn) ? srcH : srcW;
                const int ph = turnSwapsAxes(turn) ? srcW : srcH;
                Planar expected(pw, ph);
                randomise(expected, rng);
                Planar actual = expected;
                kScalarKernels.convertToPlanar[turn](frame.data(), frame.stride, expected.planes(),
                                                     srcW, srcH);
                vector(frame.data(), frame.stride, actual.planes(), srcW, srcH);
                const std::string where = std::string(variant.kernels->name) + " turn " +
                                          std::to_string(turn) + " " + std::to_string(srcW) + "x" +
                                          std::to_string(srcH);
                ASSERT_EQ(actual.y, expected.y) << where;
                ASSERT_EQ(actual.cb, expected.cb) << where;
                ASSERT_EQ(actual.cr, expected.cr) << where;
            }
        }
    }
}

TEST(KernelVariants, ResizeRotateMatchesScalar) {
    std::mt19937 rng(4711);
    // Fixed shapes first: the preview's own (steps near 1, 1.2 and 2.5, which the AVX2 variant
    // serves with one or two shuffle windows per group of columns), a large reduction (gathers),
    // widths of 8k + 4 and sources narrower than a window; then random ones.
    const int fixed[][4] = {{240, 320, 240, 320}, {288, 352, 240, 292}, {800, 600, 320, 240},
                            {320, 60, 12, 8},     {30, 20, 12, 6},      {64, 16, 20, 4}};
    constexpr int kFixed = static_cast<int>(sizeof fixed / sizeof fixed[0]);
    for (const Variant& variant : vectorVariants()) {
        for (int round = 0; round < kFixed + 4 * kRounds; ++round) {
            const bool isFixed = round < kFixed;
            const int sw = isFixed ? fixed[round][0] : 2 * static_cast<int>(2 + rng() % 120);
            const int sh = isFixed ? fixed[round][1] : 2 * static_cast<int>(2 + rng() % 60);
            const int ow = isFixed ? fixed[round][2] : 4 * static_cast<int>(1 + rng() % 70);
            const int oh = isFixed ? fixed[round][3] : 2 * static_cast<int>(1 + rng() % 70);
            // The preview loop's steps, or (every third round) any steps that stay inside.
            int32_t stepH = ow > 2 ? ((sw - 1) << 16) / (ow - 1) : 0x10000;
            int32_t stepV = oh > 2 ? ((sh - 1) << 16) / (oh - 1) : 0x10000;
            if (!isFixed && round % 3 == 2) {
                stepH = static_cast<int32_t>(rng() % static_cast<uint32_t>(stepH + 1));
                stepV = static_cast<int32_t>(rng() % static_cast<uint32_t>(stepV + 1));
            }
            Planar planar(sw, sh);
            randomise(planar, rng);
            for (uint32_t turn = 0; turn < 4; ++turn) {
                const ResizeRotateFn vector = variant.resizers->resizeRotate[turn];
                if (!vector) continue;
                const int outW = turnSwapsAxes(turn) ? oh : ow;
                const int outH = turnSwapsAxes(turn) ? ow : oh;
                const int pitch = 2 * (outW + static_cast<int>(rng() % 3));
                const std::vector<uint16_t> before =
                    randomPixels(static_cast<size_t>(pitch / 2) * outH, rng);
                std::vector<uint16_t> expected = before, actual = before;
                kScalarResizers.resizeRotate[turn](planar.planes(), sw, sh, expected.data(), pitch,
                                                   ow, oh, stepH, stepV);
                vector(planar.planes(), sw, sh, actual.data(), pitch, ow, oh, stepH, stepV);
                ASSERT_EQ(actual, expected)
                    << variant.resizers->name << " turn " << turn << " " << sw << "x" << sh
                    << " -> " << ow << "x" << oh << " steps " << stepH << "," << stepV;
            }
        }
    }
}

TEST(KernelVariants, PortableKernelsMatchScalar) {
    std::mt19937 rng(99);
    for (const Variant& variant : vectorVariants()) {
        for (int round = 0; round < kRounds; ++round) {
            const int cw = 2 * static_cast<int>(2 + rng() % 60);
            const int ch = static_cast<int>(2 + rng() % 60);
            Uyvy frame(cw, ch);
            randomise(frame.bytes, rng);
            const int32_t step = static_cast<int32_t>(0x8000 + rng() % 0x30000);
            // Output sizes that keep the walk inside the frame in both orientations.
            const int alongX = static_cast<int>((int64_t{cw - 1} << 16) / step) + 1;
            const int alongY = static_cast<int>((int64_t{ch - 1} << 16) / step) + 1;
            struct Walk {
                const uint8_t* start;
                int32_t stepC, stepR;
                int outW, outH;
            };
            const uint8_t* pixels = frame.data();
            const Walk walks[] = {
                {pixels + (cw - 1) * 2, cw, -1, alongY, alongX},
                {pixels, 1, cw, alongX, alongY},
                {pixels + (ch - 1) * cw * 2, -cw, 1, alongY, alongX},
                {pixels + (ch * cw - 1) * 2, -1, -cw, alongX, alongY},
            };
            for (const Walk& walk : walks) {
                for (bool gray : {false, true}) {
                    const PortableFn vector =
                        gray ? variant.kernels->drawGray : variant.kernels->drawFullColour;
                    if (!vector) continue;
                    const PortableFn scalar =
                        gray ? kScalarKernels.drawGray : kScalarKernels.drawFullColour;
                    const int pitch = 2 * (walk.outW + static_cast<int>(rng() % 3));
                    const std::vector<uint16_t> before =
                        randomPixels(static_cast<size_t>(pitch / 2) * walk.outH, rng);
                    std::vector<uint16_t> expected = before, actual = before;
                    scalar(expected.data(), pitch, walk.outW, walk.outH, walk.start, walk.stepC,
                           walk.stepR, step);
                    vector(actual.data(), pitch, walk.outW, walk.outH, walk.start, walk.stepC,
                           walk.stepR, step);
                    ASSERT_EQ(actual, expected) << variant.kernels->name << (gray ? " gray" : "")
                                                << " step " << step << " " << cw << "x" << ch;
                }
            }
        }
    }
}
