// The built-in encoder's record and its macroblock walk.
//
// The walk visits the source in the order that yields the turned picture in raster order (outer
// counter o, inner counter i; source position (x, y) of the macroblock, in output pixels):
//   rotation 0: o = y from 0 down the picture, i = x from 0 to the right
//   rotation 1: o = x from the right-hand macroblock column leftwards, i = y from 0 downwards
//   rotation 2: o = y from the bottom macroblock row upwards, i = x from the right leftwards
//   rotation 3: o = x from 0 rightwards, i = y from the bottom upwards
// A macroblock is 16 output pixels wide and 8 or 16 lines high (16 for 4:2:0, and for grey at a
// quarter turn). For each one the sampling kernel fills the block slots, each sample block is
// turned, and the blocks are transformed and coded in the raster order of the turned macroblock:
// for rotation 1 the source's top-right, bottom-right, top-left and bottom-left blocks; rotation 3
// mirrors that; rotation 2 reverses the order. Cb and Cr follow.
//
// Grey pictures are one-component scans, whose blocks must come in the raster order of the whole
// turned picture. At a quarter turn, a row of output blocks is a column of source blocks, so the
// walk goes down each 8-pixel source column in turn (sampling each 16-pixel macroblock column
// twice, once per half) instead of coding 2 x 2 groups.
#include "jpeg/encoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "jpeg/fdct.h"
#include "jpeg/huffman.h"
#include "jpeg/jfif_writer.h"
#include "jpeg/kernels.h"

namespace {

constexpr uint32_t kMacroblockWidth = 16;
constexpr uint32_t kBlockSamples = 64;
constexpr int kLuma = 0, kCb = 1, kCr = 2;

template <typename T>
T* at(uint8_t* base, size_t offset) {
    return reinterpret_cast<T*>(base + offset);
}

// The bit stream being coded and what each block needs.
struct Coder {
    const JpegKernels& kernels;
    JpegEncoder& encoder;
    uint8_t* output;
    size_t capacity;
    uint32_t cursor;
    int16_t predictors[3];
    bool full;                       // a block might no longer fit: the picture is abandoned
    ComponentCoding coding[3] = {};  // Y, Cb, Cr; filled by prepare()

    void prepare() {
        for (int k = 0; k < 3; ++k) {
            const bool luma = k == kLuma;
            coding[k] = {.reciprocals = reciprocals(k),
                         .dcPredictor = &predictors[k],
                         .dcTable = luma ? encoder.dcLumaCodes : encoder.dcChromaCodes,
                         .acTable = luma ? encoder.acLumaCodes : encoder.acChromaCodes};
        }
    }

    int16_t* slot(int k) const { return encoder.blocks + k * kBlockSamples; }

    const uint16_t* reciprocals(int component) const {
        return component == kLuma ? encoder.lumaReciprocals : encoder.chromaReciprocals;
    }

    void transform(int first, int firstComponent, int second, int secondComponent) {
        kernels.fdctPair(slot(first), reciprocals(firstComponent), slot(second),
                         reciprocals(secondComponent));
    }

    void code(int k, int component) {
        if ((cursor >> 3) + kMaxCodedBlockBytes + 2 > capacity) full = true;
        if (full) return;
        const bool luma = component == kLuma;
        kernels.encodeBlock(slot(k), output, &cursor, &predictors[component],
                            luma ? encoder.dcLumaCodes : encoder.dcChromaCodes,
                            luma ? encoder.acLumaCodes : encoder.acChromaCodes);
    }

    // Transforms and codes the blocks in order, each given as {slot, component}. When the output
    // might not hold them all, block by block with the check before each, so that the picture is
    // abandoned exactly where the blocks alone would abandon it.
    template <size_t N>
    void transformCode(const int (&jobs)[N][2]) {
        static_assert(N % 2 == 0, "blocks are transformed in pairs");
        if (full) return;
        if ((cursor >> 3) + N * kMaxCodedBlockBytes + 2 > capacity) {
            for (size_t j = 0; j < N; j += 2)
                transform(jobs[j][0], jobs[j][1], jobs[j + 1][0], jobs[j + 1][1]);
            for (size_t j = 0; j < N; ++j) code(jobs[j][0], jobs[j][1]);
            return;
        }
        BlockJob batch[N];
#pragma GCC unroll 8
        for (size_t j = 0; j < N; ++j) batch[j] = {slot(jobs[j][0]), &coding[jobs[j][1]]};
        kernels.transformCode(batch, N, output, &cursor);
    }

    void turn(int destination, int source) {
        kernels.rotate[encoder.rotation - 1](slot(destination), slot(source));
    }
};

// How many macroblocks ahead the walk asks for source lines. Each source line yields only 32 to
// 96 bytes to one macroblock before the walk moves on, and a macroblock reads 8 to 32 lines at a
// time: too scattered for the processor to see the streams in time by itself.
constexpr int64_t kLookahead = 4;

void prefetchMacroblock(const uint8_t* address, uint32_t stride, uint32_t rows, uint32_t bytes) {
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* line = address + size_t{r} * stride;
        __builtin_prefetch(line);
        __builtin_prefetch(line + bytes - 1);
    }
}

// Luminance slot order of a 16-line macroblock whose blocks are top-left, top-right,
// bottom-left, bottom-right in slots 0..3, for each rotation.
constexpr int kQuadOrder[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {3, 2, 1, 0}, {2, 0, 3, 1}};

// Rotation 0 or 2 only: Y in slots 0-1, Cb 2, Cr 3.
void finishEightLine(Coder& c) {
    const bool reversed = c.encoder.rotation == 2;
    if (reversed) {
        for (int k = 0; k < 4; ++k) c.turn(k, k);
    }
    const int first = reversed ? 1 : 0;
    c.transformCode({{first, kLuma}, {1 - first, kLuma}, {2, kCb}, {3, kCr}});
}

void codeMacroblock(Coder& c, const uint8_t* source, uint32_t stride,
                    SourcePixelFormat sourceFormat, uint32_t mcuHeight) {
    const JpegKernels& k = c.kernels;
    const uint32_t scale = c.encoder.scaleX - 1;
    const uint32_t rotation = c.encoder.rotation;
    if (sourceFormat == Uyvy) {
        if (mcuHeight == 8) {
            k.uyvy422[scale](source, stride, c.slot(0), c.slot(2));
            finishEightLine(c);
            return;
        }
        // Top half: luma into slots 0-1, chroma rows 0-3 into slots 2 (Cb) and 3 (Cr).
        k.uyvy420[scale](source, stride, c.slot(0), c.slot(2));
        if (rotation == 0) {
            c.transformCode({{0, kLuma}, {1, kLuma}});
        } else {
            c.turn(5, 0);  // top-left
            c.turn(4, 1);  // top-right
        }
        // Bottom half: 8 output lines further; chroma rows 4-7.
        k.uyvy420[scale](source + 8 * c.encoder.scaleY * stride, stride, c.slot(0), c.slot(2) + 32);
        if (rotation == 0) {
            c.transformCode({{0, kLuma}, {1, kLuma}, {2, kCb}, {3, kCr}});
            return;
        }
        for (int s = 0; s < 4; ++s) c.turn(s, s);
        // Slots: 5 top-left, 4 top-right, 0 bottom-left, 1 bottom-right.
        constexpr int kHalfOrder[4][4] = {{}, {4, 1, 5, 0}, {1, 0, 4, 5}, {0, 5, 1, 4}};
        const int* order = kHalfOrder[rotation];
        c.transformCode({{order[0], kLuma},
                         {order[1], kLuma},
                         {order[2], kLuma},
                         {order[3], kLuma},
                         {2, kCb},
                         {3, kCr}});
        return;
    }

    const uint32_t layout = sourceFormat;  // Bgr24 0, Rgb565 1, Rgb555 2
    if (mcuHeight == 8) {
        k.rgb422[layout][scale](source, stride, c.slot(0), c.slot(2), c.slot(3));
        finishEightLine(c);
        return;
    }
    k.rgb420[layout][scale](source, stride, c.slot(0), c.slot(4), c.slot(5));
    if (rotation != 0) {
        for (int s = 0; s < 6; ++s) c.turn(s, s);
    }
    const int* order = kQuadOrder[rotation];
    c.transformCode({{order[0], kLuma},
                     {order[1], kLuma},
                     {order[2], kLuma},
                     {order[3], kLuma},
                     {4, kCb},
                     {5, kCr}});
}

}  // namespace

JpegEncoder* createJpegEncoder() {
    JpegEncoder* encoder = new (std::nothrow) JpegEncoder{};
    if (encoder == nullptr) return nullptr;
    uint8_t* raw = static_cast<uint8_t*>(std::malloc(kWorkAreaSize));
    if (raw == nullptr) {
        delete encoder;
        return nullptr;
    }
    std::memset(raw, 0, kWorkAreaSize);
    const uintptr_t address = reinterpret_cast<uintptr_t>(raw);
    uint8_t* work =
        raw + ((kWorkAreaAlignment - address % kWorkAreaAlignment) % kWorkAreaAlignment);

    encoder->rawArea = raw;
    encoder->workArea = work;
    encoder->blocks = at<int16_t>(work, kBlocksOffset);
    encoder->lumaReciprocals = at<uint16_t>(work, kLumaReciprocalsOffset);
    encoder->chromaReciprocals = at<uint16_t>(work, kChromaReciprocalsOffset);
    encoder->lumaQuant = work + kLumaQuantOffset;
    encoder->chromaQuant = work + kChromaQuantOffset;
    encoder->dcLumaCodes = at<uint32_t>(work, kDcLumaCodesOffset);
    encoder->acLumaCodes = at<uint32_t>(work, kAcLumaCodesOffset);
    encoder->dcChromaCodes = at<uint32_t>(work, kDcChromaCodesOffset);
    encoder->acChromaCodes = at<uint32_t>(work, kAcChromaCodesOffset);

    buildHuffmanLookup(kDcLumaSpec.counts, kDcLumaSpec.symbols, encoder->dcLumaCodes);
    buildHuffmanLookup(kAcLumaSpec.counts, kAcLumaSpec.symbols, encoder->acLumaCodes);
    buildHuffmanLookup(kDcChromaSpec.counts, kDcChromaSpec.symbols, encoder->dcChromaCodes);
    buildHuffmanLookup(kAcChromaSpec.counts, kAcChromaSpec.symbols, encoder->acChromaCodes);
    return encoder;
}

void freeJpegEncoder(JpegEncoder* encoder) {
    if (encoder == nullptr) return;
    std::free(encoder->rawArea);
    delete encoder;
}

uint32_t configureJpegEncoder(JpegEncoder& encoder, uint32_t width, uint32_t height,
                              uint32_t quality, uint32_t format, uint32_t scaleX, uint32_t scaleY,
                              uint32_t rotation) {
    if (format == Chroma422 && (rotation == 1 || rotation == 3)) format = Chroma420;
    encoder.width = width;
    encoder.height = height;
    encoder.scaleX = scaleX;
    encoder.scaleY = scaleY;
    encoder.format = format;
    encoder.rotation = rotation;
    setQuality(encoder, quality);
    encoder.headerLength = 0;
    return format;
}

uint32_t macroblockHeight(const JpegEncoder& encoder) {
    const bool turned = encoder.rotation == 1 || encoder.rotation == 3;
    if (encoder.format == Chroma420 || (encoder.format == ChromaGrey && turned)) return 16;
    return 8;
}

uint32_t encodeImage(JpegEncoder& encoder, uint8_t* output, const uint8_t* source,
                     uint32_t forceHeaders, SourcePixelFormat sourceFormat, size_t outputCapacity) {
    return encodeImageWith(jpegKernels(), encoder, output, source, forceHeaders, sourceFormat,
                           outputCapacity);
}

uint32_t encodeImageWith(const JpegKernels& kernels, JpegEncoder& encoder, uint8_t* output,
                         const uint8_t* source, uint32_t forceHeaders,
                         SourcePixelFormat sourceFormat, size_t outputCapacity) {
    const uint32_t width = encoder.width, height = encoder.height;
    const uint32_t rotation = encoder.rotation, format = encoder.format;
    const uint32_t mcuHeight = macroblockHeight(encoder);
    const bool turned = rotation == 1 || rotation == 3;
    const bool known = (format == Chroma420 || format == Chroma422 || format == ChromaGrey) &&
                       rotation <= 3 && sourceFormat <= Uyvy && !(format == Chroma422 && turned);
    const bool walkable = width != 0 && height != 0 && width % kMacroblockWidth == 0 &&
                          height % mcuHeight == 0 && encoder.scaleX == encoder.scaleY &&
                          (encoder.scaleX == 1 || encoder.scaleX == 2);
    if (!known || !walkable) return 0;
    // The cursor counts bits in 32 bits and the kernels take a 32-bit stride.
    const size_t bpp = bytesPerPixel(sourceFormat);
    if (size_t{width} * encoder.scaleX * bpp > (size_t{1} << 30)) return 0;
    outputCapacity = std::min(outputCapacity, size_t{1} << 29);

    if (encoder.headerLength == 0 || forceHeaders != 0) {
        const uint32_t needed = format == ChromaGrey ? kGreyHeaderLength : kColourHeaderLength;
        if (outputCapacity < needed + 2) return 0;
        writeJpegHeaders(encoder, output);
    }

    Coder c{kernels, encoder, output, outputCapacity, encoder.headerLength * 8, {0, 0, 0}, false};
    c.prepare();
    const uint32_t scale = encoder.scaleX;
    const uint32_t stride = static_cast<uint32_t>(width * scale * bpp);
    // Source address of the macroblock at output position (x, y).
    auto address = [&](int64_t x, int64_t y) {
        return source +
               (static_cast<size_t>(y) * scale * width + static_cast<size_t>(x)) * scale * bpp;
    };
    const int64_t w = width, h = height, mh = mcuHeight, mw = kMacroblockWidth;

    auto prefetch = [&](int64_t x, int64_t y, uint32_t lines) {
        if (x >= 0 && x < w && y >= 0 && y < h) {
            prefetchMacroblock(address(x, y), stride, lines * scale,
                               static_cast<uint32_t>(mw * scale * bpp));
        }
    };

    if (format != ChromaGrey) {
        // (x, y) the macroblock, (ax, ay) the one kLookahead steps further along the inner loop.
        auto macroblock = [&](int64_t x, int64_t y, int64_t ax, int64_t ay) {
            prefetch(ax, ay, mcuHeight);
            codeMacroblock(c, address(x, y), stride, sourceFormat, mcuHeight);
            return !c.full;
        };
        const int64_t aheadX = mw * kLookahead, aheadY = mh * kLookahead;
        switch (rotation) {
            case 0:
                for (int64_t o = 0; o != h && !c.full; o += mh)
                    for (int64_t i = 0; i != w && macroblock(i, o, i + aheadX, o); i += mw) {
                    }
                break;
            case 1:
                for (int64_t o = w - mw; o != -mw && !c.full; o -= mw)
                    for (int64_t i = 0; i != h && macroblock(o, i, o, i + aheadY); i += mh) {
                    }
                break;
            case 2:
                for (int64_t o = h - mh; o != -mh && !c.full; o -= mh)
                    for (int64_t i = w - mw; i != -mw && macroblock(i, o, i - aheadX, o); i -= mw) {
                    }
                break;
            default:
                for (int64_t o = 0; o != w && !c.full; o += mw)
                    for (int64_t i = h - mh; i != -mh && macroblock(o, i, o, i - aheadY); i -= mh) {
                    }
                break;
        }
    } else {
        const LumaSampleFn luma = kernels.luma[sourceFormat][scale - 1];
        switch (rotation) {
            case 0:
            case 2: {
                const bool reversed = rotation == 2;
                for (int64_t row = 0; row != h && !c.full; row += 8) {
                    const int64_t y = reversed ? h - 8 - row : row;
                    for (int64_t column = 0; column != w && !c.full; column += mw) {
                        const int64_t x = reversed ? w - mw - column : column;
                        prefetch(reversed ? x - mw * kLookahead : x + mw * kLookahead, y, 8);
                        luma(address(x, y), stride, c.slot(0));
                        if (reversed) {
                            c.turn(0, 0);
                            c.turn(1, 1);
                        }
                        const int first = reversed ? 1 : 0;
                        c.transformCode({{first, kLuma}, {1 - first, kLuma}});
                    }
                }
                break;
            }
            default: {
                // One output block row per 8-pixel source column: rotation 1 takes the columns
                // from the right and walks each downwards, rotation 3 from the left, upwards.
                const bool fromRight = rotation == 1;
                for (int64_t column = 0; column != w && !c.full; column += mw) {
                    const int64_t x = fromRight ? w - mw - column : column;
                    for (int half = 0; half < 2 && !c.full; ++half) {
                        const int side = fromRight ? 1 - half : half;  // 0 left, 1 right block
                        for (int64_t row = 0; row != h && !c.full; row += 16) {
                            const int64_t y = fromRight ? row : h - 16 - row;
                            prefetch(x, fromRight ? y + 16 * kLookahead : y - 16 * kLookahead, 16);
                            luma(address(x, y), stride, c.slot(0));
                            luma(address(x, y + 8), stride, c.slot(2));
                            // Slot 4 is coded first: the upper source block for rotation 1,
                            // the lower one for rotation 3.
                            c.turn(4, fromRight ? side : 2 + side);
                            c.turn(5, fromRight ? 2 + side : side);
                            c.transformCode({{4, kLuma}, {5, kLuma}});
                        }
                    }
                }
                break;
            }
        }
    }
    if (c.full) return 0;

    const uint32_t end = (c.cursor + 7) / 8;
    output[end] = kMarkerPrefix;
    output[end + 1] = kMarkerEoi;
    return end + 2;
}
