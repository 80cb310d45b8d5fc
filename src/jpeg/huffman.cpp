// Huffman coding and bit packing of the built-in encoder.
//
// Each code and its extra bits form one field, (code << size) | bits, of (code length + size)
// bits; negative values send (value - 1) truncated to `size` bits, as T.81 F.1.2.1 has it. The
// fields are appended most significant bit first. Every output byte 0xFF is followed by a stuffed
// 0x00. Between blocks the bit position lives in the caller's cursor: a last byte with fewer than
// 8 bits is stored with its free low bits 0 and taken back by the next block, so a picture's
// blocks join into one continuous bit stream and the last byte of the picture ends in 0-bits.
#include "jpeg/huffman.h"

#include "jpeg/huffman_wide.h"

namespace {

constexpr uint8_t kDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

constexpr uint8_t kAcLumaSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

constexpr uint8_t kAcChromaSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

constexpr int countSum(const uint8_t (&counts)[16]) {
    int n = 0;
    for (uint8_t c : counts) n += c;
    return n;
}

// The reference packer: pending bits in the low end of a 64-bit accumulator, written out a byte
// at a time whenever 32 or more have gathered.
struct ReferencePacker {
    uint8_t* position;
    uint64_t accumulator;
    uint32_t pending;

    void writeByte(uint8_t b) {
        *position++ = b;
        if (b == 0xFF) *position++ = 0x00;
    }
    void append(uint32_t field, uint32_t length) {
        accumulator = (accumulator << length) | field;
        pending += length;
        if (pending >= 32) {
            while (pending >= 8) {
                pending -= 8;
                writeByte(static_cast<uint8_t>(accumulator >> pending));
            }
        }
    }
    void appendCode(uint32_t entry, uint32_t bits) {
        append((entry & kLookupFieldMask) | bits, entry >> kLookupLengthShift);
    }
};

constexpr ZigzagBits makeZigzagBits() {
    uint8_t position[64] = {};
    for (int k = 0; k < 64; ++k) position[kReadOrder.index[k]] = static_cast<uint8_t>(k);
    ZigzagBits t{};
    for (int r = 0; r < 8; ++r)
        for (int value = 0; value < 256; ++value)
            for (int b = 0; b < 8; ++b)
                if (value & (1 << b)) t.bits[r][value] |= uint64_t{1} << position[r * 8 + b];
    return t;
}
}  // namespace

constinit const ZigzagBits kZigzagBits = makeZigzagBits();

const HuffmanSpec kDcLumaSpec = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, kDcSymbols, 12};
const HuffmanSpec kDcChromaSpec = {
    {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, kDcSymbols, 12};
const HuffmanSpec kAcLumaSpec = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}, kAcLumaSymbols, 162};
const HuffmanSpec kAcChromaSpec = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}, kAcChromaSymbols, 162};
static_assert(countSum({0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}) == 162);
static_assert(countSum({0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}) == 162);

void buildHuffmanLookup(const uint8_t* counts, const uint8_t* symbols, uint32_t* table) {
    for (int i = 0; i < 256; ++i) table[i] = 0;
    uint32_t code = 0;
    int next = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (int n = 0; n < counts[length - 1]; ++n) {
            const uint32_t symbol = symbols[next++];
            const uint32_t size = symbol & 0x0F;
            table[symbol] = ((length + size) << kLookupLengthShift) | (code << size);
            ++code;
        }
        code <<= 1;
    }
}

void encodeBlock(const int16_t* block, uint8_t* output, uint32_t* cursor, int16_t* dcPredictor,
                 const uint32_t* dcTable, const uint32_t* acTable) {
    ReferencePacker packer{output + (*cursor >> 3), 0, *cursor & 7};
    if (packer.pending != 0) packer.accumulator = *packer.position >> (8 - packer.pending);

    const int32_t difference = int32_t{block[0]} - *dcPredictor;
    *dcPredictor = block[0];
    const uint32_t dcSize = magnitudeBits(difference);
    packer.appendCode(dcTable[dcSize], extraBits(difference, dcSize));

    uint32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        const int32_t f = block[kReadOrder.index[k]];
        if (f == 0) {
            ++run;
            continue;
        }
        while (run >= 16) {
            packer.appendCode(acTable[kZrl], 0);
            run -= 16;
        }
        const uint32_t size = magnitudeBits(f);
        packer.appendCode(acTable[(run << 4) + size], extraBits(f, size));
        run = 0;
    }
    if (block[kReadOrder.index[63]] == 0) packer.appendCode(acTable[kEob], 0);

    while (packer.pending >= 8) {
        packer.pending -= 8;
        packer.writeByte(static_cast<uint8_t>(packer.accumulator >> packer.pending));
    }
    *packer.position = static_cast<uint8_t>((packer.accumulator << (8 - packer.pending)) & 0xFF);
    *cursor = static_cast<uint32_t>(packer.position - output) * 8 + packer.pending;
}
