// The kernels: sampling, quality scaling, the 16-bit transform against a double-precision DCT,
// block coding and bit packing; worked examples on the scalar reference, and the vector transform
// and block coder against it on random input (checkasm style). The vector sampling and turning
// kernels are compared through whole streams of every layout, format, scale and rotation in the
// oracle tests. The Huffman tables themselves are checked against libjpeg-turbo's with the
// headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/frame.h"
#include "jpeg/encoder.h"
#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/jpeg_test_support.h"
#include "jpeg/kernels.h"

namespace {

using jpegtest::vectorKernels;

// The suite runs at every tier by setting LUMO_SIMD (and LUMO_NO_SIMD); the tier in force and the
// encoder's table must be the one asked for, capped by what the processor has.
TEST(Tiers, TheEnvironmentPicksTheTierAndTheEncoderFollows) {
    const char* off = std::getenv("LUMO_NO_SIMD");
    const char* want = std::getenv("LUMO_SIMD");
    std::string expected;
    if (off && *off && std::string(off) != "0") {
        expected = "scalar";
    } else if (want && (std::string(want) == "scalar" || std::string(want) == "sse2")) {
        expected = want;
    } else {
#if defined(__x86_64__)
        expected = __builtin_cpu_supports("avx2") ? "avx2" : "sse2";
#else
        GTEST_SKIP() << "no vector tiers on this processor";
#endif
    }
#if !defined(__x86_64__)
    if (expected != "scalar") GTEST_SKIP() << "no vector tiers on this processor";
#endif
    EXPECT_EQ(simd::levelName(simd::level()), expected);
    EXPECT_EQ(std::string(jpegKernels().name), expected);
}

TEST(Sampling, WhiteRgb565PairGivesY122AndChromaMinus2) {
    // A 16 x 16 macroblock of 0xFFFF: 5- and 6-bit maxima widen to 248 and 252.
    std::vector<uint8_t> source(16 * 16 * 2, 0xFF);
    std::vector<int16_t> blocks(6 * 64, 99);
    kScalarJpegKernels.rgb420[Rgb565][0](source.data(), 32, &blocks[0], &blocks[256], &blocks[320]);
    for (int i = 0; i < 384; ++i) EXPECT_EQ(blocks[i], i < 256 ? 122 : -2) << i;
    kScalarJpegKernels.rgb422[Rgb565][0](source.data(), 32, &blocks[0], &blocks[128], &blocks[192]);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(blocks[i], i < 128 ? 122 : -2) << i;
}

TEST(Sampling, HalvingRoundsBothAverages) {
    // Every 2 x 2 group holds 0 above and 1 below: (0 + 1 + 1) >> 1 = 1, then (1 + 1 + 1) >> 1.
    const uint32_t stride = 32 * 2;
    std::vector<uint8_t> source(stride * 16);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i / stride % 2);
    std::vector<int16_t> blocks(6 * 64, 0);
    kScalarJpegKernels.uyvy422[1](source.data(), stride, &blocks[0], &blocks[128]);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(blocks[i], 1 - 128) << i;
}

TEST(Quality, FiftyKeepsTheBaseTablesHundredGivesOnesTwentyFiveDoublesAndClamps) {
    jpegtest::EncoderPtr e(createJpegEncoder());
    // Quality 0 counts as 1 (scale 5000: everything clamps to 255); 101 is scale 0, whose zeros
    // become 1.
    for (int quality : {50, 100, 25, 1, 0, 101}) {
        SCOPED_TRACE(quality);
        setQuality(*e, quality);
        for (int i = 0; i < 128; ++i) {
            const int base = i < 64 ? kLumaQuantBase[i] : kChromaQuantBase[i - 64];
            const int expected = quality == 50   ? base
                                 : quality == 25 ? std::min(2 * base, 255)  // 99 -> 198
                                 : quality <= 1  ? 255
                                                 : 1;
            ASSERT_EQ(i < 64 ? e->lumaQuant[i] : e->chromaQuant[i - 64], expected) << i;
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
    const std::vector<uint8_t> ones(64, 1);
    const Worst stepOne = worstError(blocks, ones.data());
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
        forwardDctQuantizeSaturating(refA.data(), luma);
        forwardDctQuantizeSaturating(refB.data(), chroma);
        for (const JpegKernels* k : vectorKernels()) {
            Block single = a, pairA = a, pairB = b;
            k->fdct(single.data(), luma);
            k->fdctPair(pairA.data(), luma, pairB.data(), chroma);
            ASSERT_EQ(single, refA) << k->name << " trial " << trial;
            ASSERT_EQ(pairA, refA) << k->name << " trial " << trial;
            ASSERT_EQ(pairB, refB) << k->name << " trial " << trial;
        }
    }
}

// The scalar transform sums without saturating; on samples it must give the saturating
// definition's bits. The extremes: every block of -128 and 127 that follows the signs of one
// cosine product (the largest outputs a frequency can have, and their negation), then random
// blocks of extremes, with the tables of every quality from 1 to 100 (q = 1 gives the largest
// reciprocals and quotients).
TEST(ForwardDct, ScalarSumsGiveTheSaturatingBitsOnEveryExtremeSample) {
    std::vector<Block> blocks;
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            for (int sign : {1, -1}) {
                Block b;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const double c = std::cos((2 * y + 1) * u * M_PI / 16) *
                                         std::cos((2 * x + 1) * v * M_PI / 16) * sign;
                        b[y * 8 + x] = static_cast<int16_t>(c >= 0 ? 127 : -128);
                    }
                blocks.push_back(b);
            }
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        Block b;
        for (int16_t& s : b) s = static_cast<int16_t>(random() & 1 ? 127 : -128);
        blocks.push_back(b);
    }
    JpegEncoder* encoder = createJpegEncoder();
    for (uint32_t quality = 1; quality <= 100; quality += quality < 90 ? 11 : 1) {
        setQuality(*encoder, quality);
        for (const uint16_t* reciprocals : {encoder->lumaReciprocals, encoder->chromaReciprocals})
            for (const Block& b : blocks) {
                Block wide = b, saturating = b;
                forwardDctQuantize(wide.data(), reciprocals);
                forwardDctQuantizeSaturating(saturating.data(), reciprocals);
                ASSERT_EQ(wide, saturating) << "quality " << quality;
            }
    }
    freeJpegEncoder(encoder);
}

struct Tables {
    uint32_t dc[256], ac[256];
    Tables() {
        buildHuffmanLookup(kDcLumaSpec.counts, kDcLumaSpec.symbols, dc);
        buildHuffmanLookup(kAcLumaSpec.counts, kAcLumaSpec.symbols, ac);
    }
};

// A quantised block with the given coefficients at zigzag positions.
std::vector<int16_t> zigzagBlock(std::initializer_list<std::pair<int, int>> entries) {
    std::vector<int16_t> b(64, 0);
    for (auto [position, value] : entries) b[kReadOrder.index[position]] = int16_t(value);
    return b;
}

// Removes the stuffed zeros of `bytes[0 .. cursor / 8)` plus the partial byte: the plain bits.
std::string plainBits(const std::vector<uint8_t>& bytes, uint32_t cursor) {
    std::string s;
    const uint32_t whole = cursor / 8;
    for (uint32_t i = 0; i < whole; ++i) {
        for (int b = 7; b >= 0; --b) s += (bytes[i] >> b) & 1 ? '1' : '0';
        if (bytes[i] == 0xFF) ++i;  // skip the stuffed byte
    }
    for (uint32_t b = 0; b < cursor % 8; ++b) s += (bytes[whole] >> (7 - b)) & 1 ? '1' : '0';
    return s;
}

std::string code(const uint32_t* table, int symbol) {
    const uint32_t e = table[symbol];
    const int size = symbol & 0x0F;
    const int length = int(e >> kLookupLengthShift) - size;
    const uint32_t bits = (e & kLookupFieldMask) >> size;
    std::string s;
    for (int i = length - 1; i >= 0; --i) s += (bits >> i) & 1 ? '1' : '0';
    return s;
}

// The vector variants meet these, from every starting bit, through the random comparison below.
TEST(EncodeBlock, WorkedExamples) {
    Tables t;
    const std::string eob = "1010", zrl = "11111111001";
    // 64 equal samples of 20: DC = 8 x 20 / 16 = 10 and nothing else.
    std::vector<int16_t> equal(64, 20);
    uint16_t reciprocals[64];
    buildReciprocals(kLumaQuantBase, reciprocals);
    forwardDctQuantize(equal.data(), reciprocals);
    struct Case {
        std::vector<int16_t> block;
        int16_t predictor;
        std::string bits;
    };
    const Case cases[] = {
        // DC difference 5: size 3 (code 100), bits 101.
        {zigzagBlock({{0, 5}}), 0, "100101" + eob},
        // -5 against a predictor: the bits of (d - 1) truncated, 010.
        {zigzagBlock({{0, 2}}), 7, "100010" + eob},
        // Size 4 (code 101), bits 1010.
        {equal, 0, "1011010" + eob},
        // DC 0 (code 00); 62 zeros: three ZRL and a run of 14 before the coefficient; no EOB.
        {zigzagBlock({{63, 1}}), 0, "00" + zrl + zrl + zrl + code(t.ac, (14 << 4) | 1) + "1"},
        // Twenty zeros: one ZRL, then run 4 and size 3; -6 is the bits of -7, 001.
        {zigzagBlock({{21, -6}}), 0, "00" + zrl + code(t.ac, (4 << 4) | 3) + "001" + eob},
        // DC 2047: code 111111110 and eleven 1 bits. The first byte is 0xFF: its stuffed 0x00
        // counts in the cursor (plainBits skips it, so the bits only match if it is there).
        {zigzagBlock({{0, 2047}}), 0, "11111111011111111111" + eob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        std::vector<uint8_t> out(600, 0);
        uint32_t cursor = 0;
        int16_t predictor = c.predictor;
        encodeBlock(c.block.data(), out.data(), &cursor, &predictor, t.dc, t.ac);
        EXPECT_EQ(plainBits(out, cursor), c.bits);
        EXPECT_EQ(predictor, c.block[0]);
    }
}

// A block coded after pending bits continues them: its bits are those it has alone, the free bits
// of the cursor's byte are 0 and nothing after it is written. Each variant writes the same bytes.
TEST(EncodeBlock, ContinuesAStreamFromAnyBitAndVariantsMatchTheReference) {
    Tables t;
    std::mt19937 random(9);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<int16_t> block(64, 0);
        const int density = 1 + int(random() % 8);
        for (int i = 0; i < 64; ++i)
            if (int(random() % 8) < density) block[i] = int16_t(int(random() % 2047) - 1023);
        block[0] = int16_t(int(random() % 2047) - 1023);
        if (trial % 7 == 0) block[63] = 1;
        if (trial % 11 == 0) std::fill(block.begin() + 1, block.end(), int16_t{0});
        // A start inside a byte whose upper bits are pending (and lower bits 0).
        const uint32_t start = random() % 64;
        std::vector<uint8_t> reference(700, 0);
        reference[start / 8] = uint8_t((random() & 0xFF) & ~(0xFF >> (start % 8)));
        if (reference[start / 8] == 0xFF) reference[start / 8] = 0xFE;
        const std::vector<uint8_t> initial = reference;
        uint32_t referenceCursor = start;
        int16_t referencePredictor = int16_t(int(random() % 200) - 100);
        const int16_t predictor = referencePredictor;
        encodeBlock(block.data(), reference.data(), &referenceCursor, &referencePredictor, t.dc,
                    t.ac);
        std::vector<uint8_t> alone(700, 0);
        uint32_t aloneCursor = 0;
        int16_t alonePredictor = predictor;
        encodeBlock(block.data(), alone.data(), &aloneCursor, &alonePredictor, t.dc, t.ac);
        ASSERT_EQ(plainBits(reference, referenceCursor),
                  plainBits(initial, start) + plainBits(alone, aloneCursor))
            << trial;
        ASSERT_EQ(reference[referenceCursor / 8] & (0xFF >> (referenceCursor % 8)), 0);
        ASSERT_TRUE(std::all_of(reference.begin() + referenceCursor / 8 + 1, reference.end(),
                                [](uint8_t b) { return b == 0; }));
        for (const JpegKernels* k : vectorKernels()) {
            std::vector<uint8_t> out = initial;
            uint32_t cursor = start;
            int16_t p = predictor;
            k->encodeBlock(block.data(), out.data(), &cursor, &p, t.dc, t.ac);
            ASSERT_EQ(cursor, referenceCursor) << k->name << " trial " << trial;
            ASSERT_EQ(out, reference) << k->name << " trial " << trial;
        }
    }
}

// The fused transform-and-code kernels against the reference composition: sample blocks through
// forwardDctQuantize, then encodeBlock one by one. Runs of 2 to 8 blocks mix luminance and
// chrominance tables and reciprocals of random quality, share predictors as the picture walk
// does, and start at any bit of a byte; every table must leave the same bytes (stuffing
// included), cursor and predictors.
TEST(TransformCode, EveryTableCodesARunOfBlocksAsTheReferenceDoes) {
    uint32_t dc[2][256], ac[2][256];
    buildHuffmanLookup(kDcLumaSpec.counts, kDcLumaSpec.symbols, dc[0]);
    buildHuffmanLookup(kAcLumaSpec.counts, kAcLumaSpec.symbols, ac[0]);
    buildHuffmanLookup(kDcChromaSpec.counts, kDcChromaSpec.symbols, dc[1]);
    buildHuffmanLookup(kAcChromaSpec.counts, kAcChromaSpec.symbols, ac[1]);
    std::vector<const JpegKernels*> tables = vectorKernels();
    tables.push_back(&kScalarJpegKernels);
    std::mt19937 random(16);
    int stuffed = 0, largest = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        uint16_t reciprocals[2][64];
        for (int c = 0; c < 2; ++c) {
            uint8_t quant[64];
            const int quality = 1 + int(random() % 100);
            for (int i = 0; i < 64; ++i) {
                const int base = c == 0 ? kLumaQuantBase[i] : kChromaQuantBase[i];
                const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
                quant[i] = uint8_t(std::clamp((base * scale + 50) / 100, 1, 255));
            }
            buildReciprocals(quant, reciprocals[c]);
        }
        const uint32_t count = 2 + 2 * (random() % 4);
        std::vector<Block> blocks(count);
        std::vector<int> component(count);
        for (uint32_t j = 0; j < count; ++j) {
            component[j] = int(random() % 3);  // Y, Cb, Cr
            // Flat, smooth, noisy or extreme samples, so that runs, ZRL, full blocks and the
            // largest sizes all occur.
            const int kind = int(random() % 4);
            const int level = int(random() % 256) - 128;
            const int fu = int(random() % 8), fv = int(random() % 8);
            for (int i = 0; i < 64; ++i) {
                int v = level;                                                           // flat
                if (kind == 1) v += 3 * (i % 8) + 2 * (i / 8) + int(random() % 9) - 20;  // smooth
                if (kind == 2) v = int(random() % 256) - 128;                            // noise
                // The extremes: -128 and 127 following the signs of one cosine product, the largest
                // coefficient a frequency can have.
                if (kind == 3)
                    v = std::cos((2 * (i / 8) + 1) * fu * M_PI / 16) *
                                    std::cos((2 * (i % 8) + 1) * fv * M_PI / 16) >=
                                0
                            ? 127
                            : -128;
                blocks[j][i] = int16_t(std::clamp(v, -128, 127));
            }
        }
        const uint32_t start = random() % 64;
        std::vector<uint8_t> initial(count * kMaxCodedBlockBytes + 16, 0);
        initial[start / 8] = uint8_t((random() & 0xFF) & ~(0xFF >> (start % 8)));
        if (initial[start / 8] == 0xFF) initial[start / 8] = 0xFE;
        int16_t startPredictors[3];
        for (int16_t& p : startPredictors) p = int16_t(int(random() % 400) - 200);

        std::vector<uint8_t> reference = initial;
        uint32_t referenceCursor = start;
        int16_t referencePredictors[3] = {startPredictors[0], startPredictors[1],
                                          startPredictors[2]};
        {
            std::vector<Block> work = blocks;
            for (uint32_t j = 0; j < count; ++j) {
                const int table = component[j] == 0 ? 0 : 1;
                forwardDctQuantize(work[j].data(), reciprocals[table]);
                for (int16_t c : work[j]) largest = std::max(largest, std::abs(int{c}));
                encodeBlock(work[j].data(), reference.data(), &referenceCursor,
                            &referencePredictors[component[j]], dc[table], ac[table]);
            }
        }
        for (uint32_t b = start / 8; b + 1 < referenceCursor / 8; ++b)
            stuffed += reference[b] == 0xFF && reference[b + 1] == 0x00;
        for (const JpegKernels* k : tables) {
            std::vector<Block> work = blocks;
            std::vector<uint8_t> out = initial;
            uint32_t cursor = start;
            int16_t predictors[3] = {startPredictors[0], startPredictors[1], startPredictors[2]};
            ComponentCoding coding[3];
            for (int c = 0; c < 3; ++c) {
                const int table = c == 0 ? 0 : 1;
                coding[c] = {.reciprocals = reciprocals[table],
                             .dcPredictor = &predictors[c],
                             .dcTable = dc[table],
                             .acTable = ac[table]};
            }
            std::vector<BlockJob> jobs(count);
            for (uint32_t j = 0; j < count; ++j) jobs[j] = {work[j].data(), &coding[component[j]]};
            k->transformCode(jobs.data(), count, out.data(), &cursor);
            ASSERT_EQ(cursor, referenceCursor) << k->name << " trial " << trial;
            ASSERT_EQ(out, reference) << k->name << " trial " << trial;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(predictors[c], referencePredictors[c]) << k->name << " trial " << trial;
        }
    }
    // The runs reached the stuffing path and coefficients of 10 and 11 bits.
    EXPECT_GT(stuffed, 100);
    EXPECT_GE(largest, 512);
}

}  // namespace
