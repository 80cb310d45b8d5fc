// Quality scaling, reciprocals and the 16-bit transform against a double-precision DCT.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "jpeg/encoder.h"
#include "jpeg/fdct.h"
#include "jpeg/jpeg_test_support.h"
#include "jpeg/kernels.h"

namespace {

TEST(Quality, FiftyKeepsTheBaseTablesHundredGivesOnesTwentyFiveDoublesAndClamps) {
    jpegtest::EncoderPtr e(createJpegEncoder());
    // Quality 0 counts as 1 (scale 5000: everything clamps to 255); 101 is scale 0, whose zeros
    // become 1.
    for (int quality : {50, 100, 25, 1, 0, 101}) {
        SCOPED_TRACE(quality);
        setQuality(*e, quality);
        for (int i = 0; i < 64; ++i) {
            const int base[2] = {kLumaQuantBase[i], kChromaQuantBase[i]};
            const uint8_t got[2] = {e->lumaQuant[i], e->chromaQuant[i]};
            for (int t = 0; t < 2; ++t) {
                const int expected = quality == 50   ? base[t]
                                     : quality == 25 ? std::min(2 * base[t], 255)  // 99 -> 198
                                     : quality <= 1  ? 255
                                                     : 1;
                ASSERT_EQ(got[t], expected) << i;
            }
        }
    }
}

using Block = std::array<int16_t, 64>;

// T.81's DCT of a level-shifted block (row y, column x), coefficient (u vertical, v horizontal).
double exactDct(const Block& block, int u, int v) {
    const double cu = u == 0 ? std::sqrt(0.5) : 1, cv = v == 0 ? std::sqrt(0.5) : 1;
    double sum = 0;
    for (int i = 0; i < 64; ++i)
        sum += block[i] * std::cos((2 * (i / 8) + 1) * u * M_PI / 16) *
               std::cos((2 * (i % 8) + 1) * v * M_PI / 16);
    return 0.25 * cu * cv * sum;
}

// Largest |result - exact / q| over the blocks, with q from `quant`; and the largest |DC| and |AC|.
struct Worst {
    double error = 0;
    int dc = 0, ac = 0;
};
Worst worstError(const std::vector<Block>& blocks, const uint8_t* quant) {
    uint16_t reciprocals[64];
    buildReciprocals(quant, reciprocals);
    Worst worst;
    for (const Block& b : blocks) {
        Block out = b;
        forwardDctQuantize(out.data(), reciprocals);
        for (int i = 0; i < 64; ++i) {
            const double exact = exactDct(b, i / 8, i % 8) / quant[i];
            worst.error = std::max(worst.error, std::abs(out[i % 8 * 8 + i / 8] - exact));
            int& largest = i == 0 ? worst.dc : worst.ac;
            largest = std::max(largest, std::abs(int(out[i])));
        }
    }
    return worst;
}

// Error budget of the 16-bit transform, in quantisation steps. The transform carries no guard
// bits: pass 1 truncates at the sample's own scale and pass 2 at eight times it, so with q = 1
// the largest terms are off by up to 4 units of the 2,048-unit range (measured 4.05 on these
// blocks). With the standard tables that loss is divided by q and a result is never more than
// one step from the exact rounding (measured 0.61 including the rounding's own 0.5).
constexpr double kBudgetStepOne = 4.5;
constexpr double kBudgetStandard = 0.75;

TEST(ForwardDct, StaysWithinItsErrorBudgetOfTheExactTransform) {
    // Random blocks, and for each frequency the block that drives it hardest: +127 where its
    // basis function is positive, -128 elsewhere (no intermediate may saturate or wrap on these).
    std::mt19937 random(3);
    std::vector<Block> blocks(500);
    for (Block& b : blocks)
        for (int16_t& v : b) v = static_cast<int16_t>(static_cast<int>(random() % 256) - 128);
    for (int k = 0; k < 128; ++k) {
        Block b;
        for (int i = 0; i < 64; ++i) {
            const double basis = std::cos((2 * (i / 8) + 1) * (k / 16) * M_PI / 16) *
                                 std::cos((2 * (i % 8) + 1) * (k / 2 % 8) * M_PI / 16);
            b[i] = static_cast<int16_t>((k % 2 ? -basis : basis) >= 0 ? 127 : -128);
        }
        blocks.push_back(b);
    }
    uint8_t ones[64];
    std::fill(ones, ones + 64, 1);
    const Worst stepOne = worstError(blocks, ones);
    EXPECT_LT(stepOne.error, kBudgetStepOne);
    EXPECT_LT(worstError(blocks, kLumaQuantBase).error, kBudgetStandard);
    // Nor do they leave the baseline Huffman tables' sizes: AC up to 10 bits, DC differences up
    // to 11.
    EXPECT_LE(stepOne.dc, 1024);
    EXPECT_LT(stepOne.ac, 1024);
}

TEST(ForwardDct, EveryVariantMatchesTheReferenceBitForBit) {
    std::mt19937 random(11);
    uint16_t luma[64], chroma[64];
    for (int trial = 0; trial < 2000; ++trial) {
        // Random tables now and then, to reach every reciprocal and saturation path; mostly
        // picture samples, every eighth trial the full 16-bit range to drive saturation.
        uint8_t q1[64], q2[64];
        Block a, b;
        const int range = trial % 8 == 0 ? 65536 : 256;
        for (int i = 0; i < 64; ++i) {
            q1[i] = static_cast<uint8_t>(trial % 3 == 0 ? 1 + random() % 255 : kLumaQuantBase[i]);
            q2[i] = static_cast<uint8_t>(trial % 5 == 0 ? 1 : kChromaQuantBase[i]);
            a[i] = static_cast<int16_t>(static_cast<int>(random() % range) - range / 2);
            b[i] = static_cast<int16_t>(static_cast<int>(random() % range) - range / 2);
        }
        buildReciprocals(q1, luma);
        buildReciprocals(q2, chroma);
        Block refA = a, refB = b;
        forwardDctQuantize(refA.data(), luma);
        forwardDctQuantize(refB.data(), chroma);
        for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2}) {
            const JpegKernels* k = jpegKernelsFor(level);
            if (k == nullptr) continue;
            Block single = a, pairA = a, pairB = b;
            k->fdct(single.data(), luma);
            k->fdctPair(pairA.data(), luma, pairB.data(), chroma);
            ASSERT_EQ(single, refA) << k->name << " trial " << trial;
            ASSERT_EQ(pairA, refA) << k->name << " trial " << trial;
            ASSERT_EQ(pairB, refB) << k->name << " trial " << trial;
        }
    }
}

}  // namespace
