// Quality scaling, reciprocals and the 16-bit transform against a double-precision DCT.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>

#include "jpeg/encoder.h"
#include "jpeg/fdct.h"
#include "jpeg/kernels.h"

namespace {

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};

TEST(Quality, FiftyKeepsTheBaseTablesHundredGivesOnesTwentyFiveDoublesAndClamps) {
    std::unique_ptr<JpegEncoder, EncoderDeleter> e(createJpegEncoder());
    setQuality(*e, 50);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(e->lumaQuant[i], kLumaQuantBase[i]);
        EXPECT_EQ(e->chromaQuant[i], kChromaQuantBase[i]);
    }
    setQuality(*e, 100);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(e->lumaQuant[i], 1);
        EXPECT_EQ(e->chromaQuant[i], 1);
    }
    setQuality(*e, 25);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(e->lumaQuant[i], std::min(2 * kLumaQuantBase[i], 255));
        EXPECT_EQ(e->chromaQuant[i], std::min(2 * kChromaQuantBase[i], 255));  // 99 -> 198
    }
    setQuality(*e, 1);  // scale 5000: everything clamps to 255
    for (int i = 0; i < 64; ++i) EXPECT_EQ(e->lumaQuant[i], 255);
    setQuality(*e, 0);  // counts as quality 1
    EXPECT_EQ(e->chromaQuant[0], 255);
    setQuality(*e, 101);  // scale 0: the zeros become 1
    EXPECT_EQ(e->lumaQuant[63], 1);
}

// T.81's DCT of a level-shifted block (row y, column x), coefficient (u vertical, v horizontal).
double exactDct(const int16_t* block, int u, int v) {
    const double cu = u == 0 ? std::sqrt(0.5) : 1, cv = v == 0 ? std::sqrt(0.5) : 1;
    double sum = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            sum += block[y * 8 + x] * std::cos((2 * y + 1) * u * M_PI / 16) *
                   std::cos((2 * x + 1) * v * M_PI / 16);
    return 0.25 * cu * cv * sum;
}

// Largest |result - exact / q| over the blocks, with q from `quant`.
double worstError(const std::vector<std::array<int16_t, 64>>& blocks, const uint8_t* quant) {
    uint16_t reciprocals[64];
    buildReciprocals(quant, reciprocals);
    double worst = 0;
    for (const auto& b : blocks) {
        int16_t out[64];
        std::copy(b.begin(), b.end(), out);
        forwardDctQuantize(out, reciprocals);
        for (int u = 0; u < 8; ++u) {
            for (int v = 0; v < 8; ++v) {
                const double exact = exactDct(b.data(), u, v) / quant[u * 8 + v];
                worst = std::max(worst, std::abs(out[v * 8 + u] - exact));
            }
        }
    }
    return worst;
}

std::vector<std::array<int16_t, 64>> randomBlocks(int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::array<int16_t, 64>> blocks(count);
    for (auto& b : blocks)
        for (auto& s : b) s = static_cast<int16_t>(static_cast<int>(random() % 256) - 128);
    return blocks;
}

// For each frequency the block that drives it hardest: +127 where its basis function is
// positive, -128 elsewhere. No intermediate may saturate or wrap on these.
std::vector<std::array<int16_t, 64>> extremeBlocks() {
    std::vector<std::array<int16_t, 64>> blocks;
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            for (int sign : {1, -1}) {
                std::array<int16_t, 64> b{};
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const double basis = std::cos((2 * y + 1) * u * M_PI / 16) *
                                             std::cos((2 * x + 1) * v * M_PI / 16);
                        b[y * 8 + x] = static_cast<int16_t>(sign * basis >= 0 ? 127 : -128);
                    }
                blocks.push_back(b);
            }
        }
    }
    return blocks;
}

// Error budget of the 16-bit transform, in quantisation steps. The transform carries no guard
// bits: pass 1 truncates at the sample's own scale and pass 2 at eight times it, so with q = 1
// the largest terms are off by up to 4 units of the 2,048-unit range (measured 4.05 on these
// blocks). With the standard tables that loss is divided by q and a result is never more than
// one step from the exact rounding (measured 0.61 including the rounding's own 0.5).
constexpr double kBudgetStepOne = 4.5;
constexpr double kBudgetStandard = 0.75;

TEST(ForwardDct, StaysWithinItsErrorBudgetOfTheExactTransform) {
    uint8_t ones[64], standard[64];
    for (int i = 0; i < 64; ++i) {
        ones[i] = 1;
        standard[i] = kLumaQuantBase[i];
    }
    const auto random = randomBlocks(500, 3);
    EXPECT_LT(worstError(random, ones), kBudgetStepOne);
    EXPECT_LT(worstError(random, standard), kBudgetStandard);
    const auto extreme = extremeBlocks();
    EXPECT_LT(worstError(extreme, ones), kBudgetStepOne);
    EXPECT_LT(worstError(extreme, standard), kBudgetStandard);
    // Nor do they leave the baseline Huffman tables' sizes: AC up to 10 bits, DC differences up
    // to 11.
    uint16_t reciprocals[64];
    buildReciprocals(ones, reciprocals);
    for (const auto& b : extreme) {
        int16_t out[64];
        std::copy(b.begin(), b.end(), out);
        forwardDctQuantize(out, reciprocals);
        EXPECT_LE(std::abs(out[0]), 1024);
        for (int i = 1; i < 64; ++i) EXPECT_LT(std::abs(out[i]), 1024) << i;
    }
}

TEST(ForwardDct, EveryVariantMatchesTheReferenceBitForBit) {
    std::mt19937 random(11);
    uint16_t luma[64], chroma[64];
    for (int trial = 0; trial < 2000; ++trial) {
        // Random tables now and then, to reach every reciprocal and saturation path.
        uint8_t q1[64], q2[64];
        for (int i = 0; i < 64; ++i) {
            q1[i] = static_cast<uint8_t>(trial % 3 == 0 ? 1 + random() % 255 : kLumaQuantBase[i]);
            q2[i] = static_cast<uint8_t>(trial % 5 == 0 ? 1 : kChromaQuantBase[i]);
        }
        buildReciprocals(q1, luma);
        buildReciprocals(q2, chroma);
        int16_t a[64], b[64];
        for (int i = 0; i < 64; ++i) {
            // Mostly picture samples; every eighth trial full 16-bit range to drive saturation.
            const int range = trial % 8 == 0 ? 65536 : 256;
            a[i] = static_cast<int16_t>(static_cast<int>(random() % range) - range / 2);
            b[i] = static_cast<int16_t>(static_cast<int>(random() % range) - range / 2);
        }
        int16_t refA[64], refB[64];
        std::copy(a, a + 64, refA);
        std::copy(b, b + 64, refB);
        forwardDctQuantize(refA, luma);
        forwardDctQuantize(refB, chroma);
        for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2}) {
            const JpegKernels* k = jpegKernelsFor(level);
            if (k == nullptr) continue;
            SCOPED_TRACE(k->name);
            int16_t single[64], pairA[64], pairB[64];
            std::copy(a, a + 64, single);
            std::copy(a, a + 64, pairA);
            std::copy(b, b + 64, pairB);
            k->fdct(single, luma);
            k->fdctPair(pairA, luma, pairB, chroma);
            ASSERT_TRUE(std::equal(refA, refA + 64, single)) << trial;
            ASSERT_TRUE(std::equal(refA, refA + 64, pairA)) << trial;
            ASSERT_TRUE(std::equal(refB, refB + 64, pairB)) << trial;
        }
    }
}

}  // namespace
