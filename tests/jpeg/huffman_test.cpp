// Block coding and bit packing (the tables themselves are checked against libjpeg-turbo's with
// the headers).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/kernels.h"

namespace {

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
    std::string s;
    for (int i = int(e >> 16) - 1; i >= 0; --i) s += (e >> i) & 1 ? '1' : '0';
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
        const char* what;
        std::vector<int16_t> block;
        int16_t predictor;
        std::string bits;
    };
    const Case cases[] = {
        // DC difference 5: size 3 (code 100), bits 101.
        {"dc 5", zigzagBlock({{0, 5}}), 0, "100101" + eob},
        // -5 against a predictor: the bits of (d - 1) truncated, 010.
        {"dc -5", zigzagBlock({{0, 2}}), 7, "100010" + eob},
        // Size 4 (code 101), bits 1010.
        {"equal samples", equal, 0, "1011010" + eob},
        // DC 0 (code 00); 62 zeros: three ZRL and a run of 14 before the coefficient; no EOB.
        {"last position", zigzagBlock({{63, 1}}), 0,
         "00" + zrl + zrl + zrl + code(t.ac, (14 << 4) | 1) + "1"},
        // Twenty zeros: one ZRL, then run 4 and size 3; -6 is the bits of -7, 001.
        {"twenty zeros", zigzagBlock({{21, -6}}), 0,
         "00" + zrl + code(t.ac, (4 << 4) | 3) + "001" + eob},
        // DC 2047: code 111111110 and eleven 1 bits. The first byte is 0xFF: its stuffed 0x00
        // counts in the cursor (plainBits skips it, so the bits only match if it is there).
        {"stuffing", zigzagBlock({{0, 2047}}), 0, "11111111011111111111" + eob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> out(600, 0);
        uint32_t cursor = 0;
        int16_t predictor = c.predictor;
        encodeBlock(c.block.data(), out.data(), &cursor, &predictor, t.dc, t.ac);
        EXPECT_EQ(plainBits(out, cursor), c.bits);
        EXPECT_EQ(predictor, c.block[0]);
        EXPECT_EQ(out[cursor / 8] & (0xFF >> (cursor % 8)), 0) << "the free bits are 0";
    }
}

TEST(EncodeBlock, BlocksSplitInsideAByteJoinIntoOneContinuousStream) {
    Tables t;
    std::mt19937 random(5);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<int16_t> a(64, 0), b(64, 0);
        for (int i = 0; i < 64; ++i) {
            if (random() % 3 == 0) a[i] = int16_t(int(random() % 255) - 127);
            if (random() % 4 == 0) b[i] = int16_t(int(random() % 63) - 31);
        }
        a[0] = int16_t(int(random() % 2000) - 1000);
        // Together, the cursor carried from one block to the next.
        std::vector<uint8_t> joined(1200, 0);
        uint32_t cursor = 0;
        int16_t predictor = 0;
        encodeBlock(a.data(), joined.data(), &cursor, &predictor, t.dc, t.ac);
        encodeBlock(b.data(), joined.data(), &cursor, &predictor, t.dc, t.ac);
        // Apart, each from bit 0, b with a's DC as its predictor.
        std::vector<uint8_t> first(600, 0), second(600, 0);
        uint32_t c1 = 0, c2 = 0;
        int16_t p1 = 0, p2 = a[0];
        encodeBlock(a.data(), first.data(), &c1, &p1, t.dc, t.ac);
        encodeBlock(b.data(), second.data(), &c2, &p2, t.dc, t.ac);
        ASSERT_EQ(plainBits(joined, cursor), plainBits(first, c1) + plainBits(second, c2)) << trial;
        // Bytes after the cursor's byte are untouched, the cursor's byte ends in 0-bits.
        ASSERT_EQ(joined[cursor / 8] & (0xFF >> (cursor % 8)), 0);
        for (size_t i = cursor / 8 + 1; i < joined.size(); ++i) ASSERT_EQ(joined[i], 0);
    }
}

TEST(EncodeBlock, VariantsMatchTheReferenceOnRandomBlocksAndCursors) {
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
        for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2}) {
            const JpegKernels* k = jpegKernelsFor(level);
            if (k == nullptr) continue;
            std::vector<uint8_t> out = initial;
            uint32_t cursor = start;
            int16_t p = predictor;
            k->encodeBlock(block.data(), out.data(), &cursor, &p, t.dc, t.ac);
            ASSERT_EQ(cursor, referenceCursor) << k->name << " trial " << trial;
            ASSERT_EQ(out, reference) << k->name << " trial " << trial;
        }
    }
}

}  // namespace
