// Inside the Huffman coder: the fast packer that the vector variants of encodeBlock inline.
// Internal to src/jpeg.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jpeg/huffman.h"

// For each byte r of a by-index mask (block indices 8r..8r+7) and each value of that byte, the
// same bits placed at their zigzag positions (huffman.cpp).
struct ZigzagBits {
    uint64_t bits[8][256];
};
extern const ZigzagBits kZigzagBits;

// Everything else has internal linkage, so that each variant reads its tables by direct address.
namespace {

constexpr uint8_t kZrl = 0xF0;  // run of 16 zeros
constexpr uint8_t kEob = 0x00;  // end of block
constexpr ReadOrder kWideOrder = kReadOrder;

inline uint64_t zigzagMaskOf(uint64_t byIndex) {
    uint64_t mask = 0;
    for (int r = 0; r < 8; ++r) mask |= kZigzagBits.bits[r][(byIndex >> (8 * r)) & 0xFF];
    return mask;
}

// Number of bits of |v|, and the extra bits T.81 sends for v in that many bits.
inline uint32_t magnitudeBits(int32_t v) {
    const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    return static_cast<uint32_t>(std::bit_width(magnitude));
}
inline uint32_t extraBits(int32_t v, uint32_t size) {
    const uint32_t bits = static_cast<uint32_t>(v < 0 ? v - 1 : v);
    return bits & ((uint32_t{1} << size) - 1);
}

// The fast packer: `free` bits remain in a 64-bit buffer whose low 64 - free bits are pending
// (bits above them are stale and shifted out); a full buffer leaves as eight bytes at once unless
// one of them is 0xFF.
struct WidePacker {
    uint8_t* position;
    uint64_t buffer;
    int free;

    static bool hasFfByte(uint64_t v) {
        const uint64_t inverted = ~v;
        return ((inverted - 0x0101010101010101ull) & v & 0x8080808080808080ull) != 0;
    }
    void writeByte(uint8_t b) {
        *position++ = b;
        if (b == 0xFF) *position++ = 0x00;
    }
    // The eight bytes of `v`, most significant first, at the position (not advancing).
    void store8(uint64_t v) const {
        const uint64_t bigEndian = __builtin_bswap64(v);
        std::memcpy(position, &bigEndian, 8);
    }
    void writeFull(uint64_t full) {
        if (!hasFfByte(full)) {
            store8(full);
            position += 8;
        } else {
            for (int i = 0; i < 8; ++i) writeByte(static_cast<uint8_t>(full >> (56 - 8 * i)));
        }
    }
    // length <= 32; 1 <= free <= 64 always holds.
    void append(uint32_t field, int length) {
        if (length < free) {
            buffer = (buffer << length) | field;
            free -= length;
            return;
        }
        const int over = length - free;  // the field's low bits that do not fit
        writeFull((buffer << free) | (uint64_t{field} >> over));
        buffer = field;
        free = 64 - over;
    }
    void appendCode(uint32_t entry, uint32_t bits) {
        append((entry & kLookupFieldMask) | bits, static_cast<int>(entry >> kLookupLengthShift));
    }
};

// The size and extra bits of every coefficient of a block, by block index, as the vector
// variants compute them for the whole block at once (huffman_simd.cpp).
struct BlockBits {
    alignas(32) uint16_t size[64];
    alignas(32) uint16_t bits[64];
};

// 2^size - 1 for size 0..16: the extra bits of a coefficient of that size (one load-and-mask).
struct LowBits {
    uint32_t mask[17];
};
inline constexpr LowBits kLowBits = [] {
    LowBits t{};
    for (int size = 0; size <= 16; ++size) t.mask[size] = (uint32_t{1} << size) - 1;
    return t;
}();

// A packer that continues the stream at bit `cursor` of `output`: the byte at the cursor's
// position holds (cursor mod 8) pending upper bits, taken back into the buffer.
inline WidePacker openPacker(uint8_t* output, uint32_t cursor) {
    const uint32_t pending = cursor & 7;
    WidePacker packer{output + (cursor >> 3), 0, 64 - static_cast<int>(pending)};
    if (pending != 0) packer.buffer = *packer.position >> (8 - pending);
    return packer;
}

// Appends one block's codes: the DC difference of `dc` against `*dcPredictor` (which becomes
// `dc`), then the AC coefficients flagged in `nonZero` (bit k for zigzag position k; bit 0 is
// ignored), coefficient k having its size and extra bits at size[order[k]] and bits[order[k]].
// With Truncate, bits[] holds v, or v - 1 for negative v, in 16 bits, and the coder keeps its low
// size bits; otherwise bits[] holds exactly the extra bits.
template <bool Truncate = false>
inline __attribute__((always_inline)) void appendBlock(
    WidePacker& packer, int16_t dc, uint64_t nonZero, const uint16_t* size, const uint16_t* bits,
    const uint8_t* order, int16_t* dcPredictor, const uint32_t* dcTable, const uint32_t* acTable) {
    const int32_t difference = int32_t{dc} - *dcPredictor;
    *dcPredictor = dc;
    const uint32_t dcSize = magnitudeBits(difference);
    packer.appendCode(dcTable[dcSize], extraBits(difference, dcSize));

    const uint32_t zrl = acTable[kZrl];
    // `k` is the last position coded; bit 0 of `rest` is the flag of position k + 1, so the
    // run of zeros before the next coefficient is its count of trailing zeros.
    uint64_t rest = nonZero >> 1;
    size_t k = 0;
    while (rest != 0) {
        size_t run = static_cast<size_t>(std::countr_zero(rest));
        k += run + 1;
        rest = (rest >> run) >> 1;  // in two steps: a shift by 64 is undefined
        if (run >= 16) [[unlikely]] {
            for (; run >= 16; run -= 16) packer.appendCode(zrl, 0);
        }
        const size_t n = order[k];
        const uint32_t coefficientSize = size[n];
        uint32_t extra = bits[n];
        if constexpr (Truncate) extra &= kLowBits.mask[coefficientSize];
        packer.appendCode(acTable[(run << 4) + coefficientSize], extra);
    }
    if (k != 63) packer.appendCode(acTable[kEob], 0);
}

// Out with the whole pending bytes; the rest stays at the position with low bits 0, and the
// cursor counts it. May write up to seven zero bytes after the cursor's byte.
inline void closePacker(WidePacker& packer, uint8_t* output, uint32_t* cursor) {
    int valid = 64 - packer.free;
    uint64_t top = valid == 0 ? 0 : packer.buffer << packer.free;
    if (!WidePacker::hasFfByte(top)) {
        packer.store8(top);
        packer.position += valid / 8;
        valid %= 8;
    } else {
        for (; valid >= 8; valid -= 8, top <<= 8) packer.writeByte(static_cast<uint8_t>(top >> 56));
        *packer.position = static_cast<uint8_t>(top >> 56);
    }
    *cursor = static_cast<uint32_t>(packer.position - output) * 8 + static_cast<uint32_t>(valid);
}

// encodeBlock for a block whose non-zero coefficients are known by zigzag position (bit k of
// `nonZero`; bit 0, the DC, is ignored) and whose AC sizes and extra bits are in `coded`.
// Besides the bytes of the stream it may write up to seven zero bytes after the cursor's byte.
inline __attribute__((always_inline)) void encodeBlockWide(const int16_t* block, uint64_t nonZero,
                                                           const BlockBits& coded, uint8_t* output,
                                                           uint32_t* cursor, int16_t* dcPredictor,
                                                           const uint32_t* dcTable,
                                                           const uint32_t* acTable) {
    WidePacker packer = openPacker(output, *cursor);
    appendBlock(packer, block[0], nonZero, coded.size, coded.bits, kWideOrder.index, dcPredictor,
                dcTable, acTable);
    closePacker(packer, output, cursor);
}

}  // namespace
