// Huffman coding of the built-in encoder: the standard code tables, their lookup form, the order
// in which a quantised block is read, and the coding of one block into the output bit stream.
#pragma once

#include <cstdint>

// A Huffman table as JPEG sends it: BITS (how many codes of each length 1..16) and HUFFVAL (the
// symbols in code order).
struct HuffmanSpec {
    uint8_t counts[16];
    const uint8_t* symbols;
    int symbolCount;
};

// Tables K.3 (luminance DC), K.4 (chrominance DC), K.5 (luminance AC) and K.6 (chrominance AC)
// of ITU-T T.81.
extern const HuffmanSpec kDcLumaSpec;
extern const HuffmanSpec kDcChromaSpec;
extern const HuffmanSpec kAcLumaSpec;
extern const HuffmanSpec kAcChromaSpec;

// Lookup form: 256 entries indexed by symbol, 0 where undefined. A symbol's low four bits are
// the number of extra bits that follow its code (SSSS, in DC and AC symbols alike), so an entry
// holds the code already shifted over them: bits 0..26 are code << size and bits 27..31 are code
// length + size (at most 16 + 10 for AC, 11 + 11 for DC). The coders OR the extra bits in.
// Codes are canonical (T.81 Annex C): starting at 0, +1 per code, doubled per length step.
constexpr int kLookupLengthShift = 27;
constexpr uint32_t kLookupFieldMask = (uint32_t{1} << kLookupLengthShift) - 1;
void buildHuffmanLookup(const uint8_t* counts, const uint8_t* symbols, uint32_t* table);

// For zigzag position k (0..63), the index of that coefficient in a quantised block, which holds
// frequency (u, v) at v * 8 + u: the T.81 zigzag with rows and columns exchanged, so positions
// 0..15 read 0, 8, 1, 2, 9, 16, 24, 17, 10, 3, 4, 11, 18, 25, 32, 40.
struct ReadOrder {
    uint8_t index[64];
};
inline constexpr ReadOrder kReadOrder = [] {
    ReadOrder order{};
    int k = 0;
    for (int s = 0; s < 15; ++s) {  // anti-diagonals u + v = s; even ones run up, odd ones down
        for (int i = 0; i < 8; ++i) {
            const int u = (s % 2 == 0) ? s - i : i;
            const int v = s - u;
            if (u < 0 || u > 7 || v < 0 || v > 7) continue;
            order.index[k++] = static_cast<uint8_t>(v * 8 + u);
        }
    }
    return order;
}();
static_assert(kReadOrder.index[1] == 8 && kReadOrder.index[2] == 1 && kReadOrder.index[5] == 16 &&
              kReadOrder.index[15] == 40 && kReadOrder.index[63] == 63);

// The scalar reference. Appends the block's codes at bit `*cursor` of `output` (bits counted
// from `output`): the DC difference against `*dcPredictor` (which becomes block[0]), then the AC
// run/size symbols with ZRL for runs of 16 and EOB unless position 63 is non-zero. Bytes 0xFF are
// followed by 0x00. A byte holding fewer than 8 pending bits is stored at the final position
// (lower bits 0) without advancing; the next block takes it back.
void encodeBlock(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                 const uint32_t* dcTable, const uint32_t* acTable);

// Vector variants (x86-64 only): vector compares find the non-zero coefficients, the coder skips
// the zero runs by counting bits, and a 64-bit buffer leaves eight bytes at a time. Same stream
// and cursor as encodeBlock; they may also write up to seven zero bytes after the cursor's byte,
// which the next block or the EOI marker overwrites (kMaxCodedBlockBytes allows for them).
void encodeBlockSse2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable);
void encodeBlockAvx2(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                     const uint32_t* dcTable, const uint32_t* acTable);

// The AVX2 transform and coder fused (a TransformCodeFn of kernels.h): each pair of blocks is
// transformed and quantised in registers, where the same vectors give the sizes, the extra bits
// and the zigzag mask of the non-zero coefficients, and one packer runs through all the blocks.
struct BlockJob;
void transformCodeAvx2(const BlockJob* jobs, uint32_t count, uint8_t* output, uint32_t* cursor);
