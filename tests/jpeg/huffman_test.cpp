// Huffman tables, block coding and bit packing.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/kernels.h"

namespace {

// The Huffman tables libjpeg-turbo writes by default (the T.81 Annex K tables), keyed by the DHT
// class/identifier byte: counts then symbols.
std::map<int, std::vector<uint8_t>> libjpegTables() {
    std::vector<uint8_t> pixels(16 * 16 * 3, 100);
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(h, pixels.data(), 16, 0, 16, TJPF_RGB, &jpeg, &size, TJSAMP_420, 75, 0);
    std::map<int, std::vector<uint8_t>> tables;
    for (unsigned long i = 2; i + 4 <= size;) {
        if (jpeg[i] != 0xFF) break;
        const int marker = jpeg[i + 1];
        const unsigned long length = (jpeg[i + 2] << 8) | jpeg[i + 3];
        if (marker == 0xC4) {
            unsigned long p = i + 4;
            while (p < i + 2 + length) {
                const int id = jpeg[p];
                int count = 0;
                for (int k = 0; k < 16; ++k) count += jpeg[p + 1 + k];
                tables[id] = std::vector<uint8_t>(jpeg + p + 1, jpeg + p + 17 + count);
                p += 17 + count;
            }
        }
        if (marker == 0xDA) break;
        i += 2 + length;
    }
    tjFree(jpeg);
    tjDestroy(h);
    return tables;
}

std::vector<uint8_t> flatten(const HuffmanSpec& spec) {
    std::vector<uint8_t> v(spec.counts, spec.counts + 16);
    v.insert(v.end(), spec.symbols, spec.symbols + spec.symbolCount);
    return v;
}

TEST(HuffmanTables, AreTheStandardTablesLibjpegWrites) {
    auto tables = libjpegTables();
    EXPECT_EQ(tables[0x00], flatten(kDcLumaSpec));
    EXPECT_EQ(tables[0x10], flatten(kAcLumaSpec));
    EXPECT_EQ(tables[0x01], flatten(kDcChromaSpec));
    EXPECT_EQ(tables[0x11], flatten(kAcChromaSpec));
}

TEST(HuffmanTables, LookupHoldsCanonicalCodes) {
    uint32_t dc[256], ac[256];
    buildHuffmanLookup(kDcLumaSpec.counts, kDcLumaSpec.symbols, dc);
    buildHuffmanLookup(kAcLumaSpec.counts, kAcLumaSpec.symbols, ac);
    EXPECT_EQ(dc[0], (2u << 16) | 0b00);
    EXPECT_EQ(dc[6], (4u << 16) | 0b1110);
    EXPECT_EQ(dc[11], (9u << 16) | 0b111111110);
    EXPECT_EQ(dc[12], 0u);
    EXPECT_EQ(ac[0x01], (2u << 16) | 0b00);
    EXPECT_EQ(ac[0x00], (4u << 16) | 0b1010);          // EOB
    EXPECT_EQ(ac[0xF0], (11u << 16) | 0b11111111001);  // ZRL
    EXPECT_EQ(ac[0xFA], (16u << 16) | 0xFFFE);
    EXPECT_EQ(ac[0x0B], 0u);  // size 11 is not a baseline AC symbol
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
    std::string s;
    for (int i = int(e >> 16) - 1; i >= 0; --i) s += (e >> i) & 1 ? '1' : '0';
    return s;
}

// Runs every variant of encodeBlock on the block from a zero cursor; they must agree.
std::vector<uint8_t> encodeAll(const std::vector<int16_t>& block, int16_t predictor,
                               uint32_t& cursor, const Tables& t) {
    std::vector<uint8_t> reference(600, 0);
    uint32_t referenceCursor = 0;
    int16_t p = predictor;
    encodeBlock(block.data(), reference.data(), &referenceCursor, &p, t.dc, t.ac);
    for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2}) {
        const JpegKernels* k = jpegKernelsFor(level);
        if (k == nullptr) continue;
        std::vector<uint8_t> out(600, 0);
        uint32_t c = 0;
        int16_t q = predictor;
        k->encodeBlock(block.data(), out.data(), &c, &q, t.dc, t.ac);
        EXPECT_EQ(c, referenceCursor) << k->name;
        EXPECT_EQ(out, reference) << k->name;
        EXPECT_EQ(q, p) << k->name;
    }
    cursor = referenceCursor;
    return reference;
}

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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t cursor = 0;
        const auto out = encodeAll(c.block, c.predictor, cursor, t);
        EXPECT_EQ(plainBits(out, cursor), c.bits);
        EXPECT_EQ(out[cursor / 8] & (0xFF >> (cursor % 8)), 0) << "the free bits are 0";
    }
}

TEST(EncodeBlock, EveryFfByteIsFollowedByAStuffedZeroThatCountsInTheCursor) {
    Tables t;
    uint32_t cursor = 0;
    // DC difference 2047: code 111111110 and eleven 1 bits; then EOB 1010. Bits:
    // 11111111 01111111 11111010.
    const auto out = encodeAll(zigzagBlock({{0, 2047}}), 0, cursor, t);
    EXPECT_EQ(cursor, 32u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0x7F);
    EXPECT_EQ(out[3], 0xFA);
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
        for (simd::Level level : {simd::Level::Scalar, simd::Level::Sse2, simd::Level::Avx2}) {
            const JpegKernels* k = jpegKernelsFor(level);
            if (k == nullptr) continue;
            // Together, the cursor carried from one block to the next.
            std::vector<uint8_t> joined(1200, 0);
            uint32_t cursor = 0;
            int16_t predictor = 0;
            k->encodeBlock(a.data(), joined.data(), &cursor, &predictor, t.dc, t.ac);
            k->encodeBlock(b.data(), joined.data(), &cursor, &predictor, t.dc, t.ac);
            // Apart, each from bit 0, b with a's DC as its predictor.
            std::vector<uint8_t> first(600, 0), second(600, 0);
            uint32_t c1 = 0, c2 = 0;
            int16_t p1 = 0, p2 = a[0];
            k->encodeBlock(a.data(), first.data(), &c1, &p1, t.dc, t.ac);
            k->encodeBlock(b.data(), second.data(), &c2, &p2, t.dc, t.ac);
            ASSERT_EQ(plainBits(joined, cursor), plainBits(first, c1) + plainBits(second, c2))
                << k->name << " trial " << trial;
            // Bytes after the cursor's byte are untouched, the cursor's byte ends in 0-bits.
            ASSERT_EQ(joined[cursor / 8] & (0xFF >> (cursor % 8)), 0);
            for (size_t i = cursor / 8 + 1; i < joined.size(); ++i) ASSERT_EQ(joined[i], 0);
        }
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
