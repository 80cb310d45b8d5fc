// The built-in baseline JPEG encoder: its record, its creation and configuration, and the
// macroblock walk that turns a packed frame into a complete JFIF stream, rotated by quarter turns
// and optionally halved on the way. Standard library only (plus the processor's vector level).
//
// Stages, one file each: sample.cpp (colour conversion and chroma sampling of one macroblock),
// rotate_block.cpp (quarter turns of sample blocks), fdct.cpp (quality scaling, 16-bit AAN
// transform with folded quantisation), huffman.cpp (code tables, block coding, bit packing),
// jfif_writer.cpp (headers), frame_convert.cpp (planar pictures for the raw and external paths).
// kernels.h gathers the per-processor variants of the per-block and per-macroblock kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/pixel_format.h"

struct JpegKernels;

// Chroma sampling codes, as the "Format" settings store them.
enum ChromaFormat : uint32_t {
    Chroma420 = 1,   // Cb and Cr subsampled 2 x 2
    Chroma422 = 2,   // Cb and Cr subsampled 2 x 1
    ChromaGrey = 4,  // one component
};

// Fields in this order (the record is 72 bytes with 32-bit pointers). Every pointer but rawArea
// points into the one aligned work area.
struct JpegEncoder {
    uint32_t width;   // output picture before rotation, pixels (multiple of 16)
    uint32_t height;  // output picture before rotation, lines (multiple of the macroblock height)
    uint32_t scaleX;  // source pixels per output pixel, 1 or 2
    uint32_t scaleY;
    uint32_t format;        // ChromaFormat
    uint32_t rotation;      // quarter turns 0..3; 1 turns the right-hand column into the top row
    uint32_t headerLength;  // bytes of the header block last written; 0: headers must be written
    uint8_t* workArea;      // rawArea rounded up to a multiple of kWorkAreaAlignment
    uint8_t* rawArea;       // the allocation as returned
    int16_t* blocks;        // six 8 x 8 sample blocks ("slots") of 128 bytes
    uint16_t* lumaReciprocals;  // 64 quantisation reciprocals, transposed order (v * 8 + u)
    uint16_t* chromaReciprocals;
    uint8_t* lumaQuant;  // 64 quality-scaled quantisation values, natural order (u * 8 + v)
    uint8_t* chromaQuant;
    uint32_t* dcLumaCodes;  // 256 entries, buildHuffmanLookup's form
    uint32_t* acLumaCodes;
    uint32_t* dcChromaCodes;
    uint32_t* acChromaCodes;
};

// The work area: one allocation, divided from its aligned start.
constexpr size_t kWorkAreaAlignment = 32;
constexpr size_t kBlocksOffset = 0;
constexpr size_t kLumaReciprocalsOffset = 768;
constexpr size_t kChromaReciprocalsOffset = 896;
constexpr size_t kLumaQuantOffset = 1024;
constexpr size_t kChromaQuantOffset = 1088;
constexpr size_t kDcLumaCodesOffset = 1152;
constexpr size_t kAcLumaCodesOffset = 2176;
constexpr size_t kDcChromaCodesOffset = 3200;
constexpr size_t kAcChromaCodesOffset = 4224;
constexpr size_t kWorkAreaUsed = 5248;
constexpr size_t kWorkAreaSize = kWorkAreaUsed + kWorkAreaAlignment - 1;  // 5,279 bytes
static_assert(kAcChromaCodesOffset + 256 * sizeof(uint32_t) == kWorkAreaUsed);
static_assert(kLumaReciprocalsOffset == kBlocksOffset + 6 * 64 * sizeof(int16_t));

// Size of the header block writeJpegHeaders produces.
constexpr uint32_t kColourHeaderLength = 623;
constexpr uint32_t kGreyHeaderLength = 328;

// The most bytes one coded block can take in the output, stuffing and the trailing partial byte
// included: a DC code (at most 11 bits) with 11 extra bits, and 63 AC codes of at most 16 bits
// with 10 extra bits each, is 1,660 bits or 208 bytes; every byte may need a stuffed zero.
constexpr size_t kMaxCodedBlockBytes = 512;

// Allocates the record and its work area and builds the four Huffman code tables. The
// quantisation tables are filled by the first configuration. Null when memory is short.
JpegEncoder* createJpegEncoder();
void freeJpegEncoder(JpegEncoder* encoder);

// Stores the picture geometry and quality in the encoder, scales the quantisation tables and
// marks the headers for rewriting. A 4:2:2 request with a quarter turn (rotation 1 or 3) becomes
// 4:2:0, since a turned 16 x 8 macroblock is not a 4:2:2 macroblock. Returns the format stored.
uint32_t configureJpegEncoder(JpegEncoder& encoder, uint32_t width, uint32_t height,
                              uint32_t quality, uint32_t format, uint32_t scaleX, uint32_t scaleY,
                              uint32_t rotation);

// Height in lines of the encoder's macroblock: 16 for 4:2:0, and for grey at a quarter turn.
uint32_t macroblockHeight(const JpegEncoder& encoder);

// Encodes the frame at `source` ((width x scaleX) by (height x scaleY) pixels in `sourceFormat`,
// rows packed) into a JFIF stream at `output` and returns its length in bytes, ending with EOI.
// Headers are written when `forceHeaders` is set or none were written since the last
// configuration; otherwise the first headerLength bytes of `output` must still hold them.
//
// This differs from the designed encodeImage(encoder, output, source, forceHeaders) in two ways:
// the source layout is an argument, because this library does not read the application's frame
// record; and the caller states how many bytes `output` holds. The result is 0 (nothing encoded)
// when the geometry cannot be walked (sizes not multiples of the macroblock, scales other than
// 1:1 or 2:2, unknown codes) or when the coded data could outgrow `outputCapacity`; the walk
// never writes past it.
uint32_t encodeImage(JpegEncoder& encoder, uint8_t* output, const uint8_t* source,
                     uint32_t forceHeaders, SourcePixelFormat sourceFormat, size_t outputCapacity);

// The same walk with an explicit kernel table; tests compare the tables' streams byte for byte.
uint32_t encodeImageWith(const JpegKernels& kernels, JpegEncoder& encoder, uint8_t* output,
                         const uint8_t* source, uint32_t forceHeaders,
                         SourcePixelFormat sourceFormat, size_t outputCapacity);
