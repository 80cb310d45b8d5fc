// Frame conversions for the raw and external paths (see frame_convert.h for the arithmetic).
#include "jpeg/frame_convert.h"

#include <cstddef>

#include "jpeg/encoder.h"

namespace {

struct Pixel {
    int32_t r, g, b;
};

Pixel readRgb(const uint8_t* p, uint32_t bits) {
    if (bits == 24) return {p[2], p[1], p[0]};
    const int32_t w = p[0] | (p[1] << 8);
    if (bits == 16) return {(w >> 11) << 3, ((w >> 5) & 63) << 2, (w & 31) << 3};
    return {((w >> 10) & 31) << 3, ((w >> 5) & 31) << 3, (w & 31) << 3};
}

uint8_t clampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Where sample (x, y) of a plane of planeWidth x planeHeight lands when the plane is turned.
size_t turnedIndex(uint32_t x, uint32_t y, uint32_t planeWidth, uint32_t planeHeight,
                   uint32_t rotation) {
    switch (rotation) {
        case 1:
            return size_t{planeWidth - 1 - x} * planeHeight + y;
        case 2:
            return size_t{planeHeight - 1 - y} * planeWidth + (planeWidth - 1 - x);
        case 3:
            return size_t{x} * planeHeight + (planeHeight - 1 - y);
        default:
            return size_t{y} * planeWidth + x;
    }
}

}  // namespace

void convertRgbToUyvy(uint8_t* destination, const uint8_t* source, uint32_t byteCount,
                      uint32_t bits) {
    const uint32_t pairs = byteCount / 4;
    const size_t sourcePair = bits == 24 ? 6 : 4;
    const size_t pixelBytes = bits == 24 ? 3 : 2;
    // In place the output (4 bytes per pair) never overtakes the input (4 or 6 bytes per pair).
    for (uint32_t i = 0; i < pairs; ++i) {
        const uint8_t* s = source + i * sourcePair;
        const Pixel p0 = readRgb(s, bits);
        const Pixel p1 = readRgb(s + pixelBytes, bits);
        const int32_t y0 = (77 * p0.r + 150 * p0.g + 29 * p0.b) >> 8;
        const int32_t y1 = (77 * p1.r + 150 * p1.g + 29 * p1.b) >> 8;
        const int32_t cr = ((((p0.r - y0) * 183) >> 8) + (((p1.r - y1) * 183) >> 8) + 256) >> 1;
        const int32_t cb = ((((p0.b - y0) * 145) >> 8) + (((p1.b - y1) * 145) >> 8) + 256) >> 1;
        uint8_t* d = destination + size_t{i} * 4;
        d[0] = clampByte(cb);
        d[1] = static_cast<uint8_t>(y0);
        d[2] = clampByte(cr);
        d[3] = static_cast<uint8_t>(y1);
    }
}

void halveUyvy(uint8_t* frame, uint32_t width, uint32_t height) {
    const size_t outStride = size_t{width} * 2;
    const size_t inStride = outStride * 2;
    // Output line r lies at or before source line 2r, and within a line output pair p at or
    // before source pair 2p, so in place nothing is overwritten before it is read.
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* top = frame + 2 * r * inStride;
        const uint8_t* bottom = top + inStride;
        uint8_t* out = frame + r * outStride;
        for (uint32_t p = 0; p < width / 2; ++p) {
            const uint8_t* a = top + 8 * p;  // pairs a, b above and c, d below
            const uint8_t* c = bottom + 8 * p;
            const uint32_t cb = a[0] + a[4] + c[0] + c[4];
            const uint32_t y0 = a[1] + a[3] + c[1] + c[3];
            const uint32_t cr = a[2] + a[6] + c[2] + c[6];
            const uint32_t y1 = a[5] + a[7] + c[5] + c[7];
            out[4 * p + 0] = static_cast<uint8_t>((cb + 2) >> 2);
            out[4 * p + 1] = static_cast<uint8_t>((y0 + 2) >> 2);
            out[4 * p + 2] = static_cast<uint8_t>((cr + 2) >> 2);
            out[4 * p + 3] = static_cast<uint8_t>((y1 + 2) >> 2);
        }
    }
}

uint32_t convertFrameToPlanes(uint8_t* destination, uint8_t* source, uint32_t width,
                              uint32_t height, uint32_t scaleX, uint32_t format,
                              uint32_t rotation) {
    const bool turned = rotation == 1 || rotation == 3;
    if (format != Chroma420 && format != Chroma422 && format != ChromaGrey) return 0;
    if (format == Chroma422 && turned) return 0;
    if (scaleX == 2) halveUyvy(source, width, height);

    const size_t stride = size_t{width} * 2;
    const size_t lumaSize = (size_t{width} * height) & ~size_t{3};
    uint8_t* yPlane = destination;
    uint8_t* cbPlane = destination + lumaSize;
    const uint32_t pairs = width / 2;

    if (format == Chroma420) {
        const uint32_t chromaHeight = height / 2;
        uint8_t* crPlane = cbPlane + size_t{pairs} * chromaHeight;
        for (uint32_t j = 0; j < chromaHeight; ++j) {
            const uint8_t* even = source + 2 * j * stride;
            const uint8_t* odd = even + stride;
            for (uint32_t x = 0; x < width; ++x) {
                yPlane[turnedIndex(x, 2 * j, width, height, rotation)] = even[2 * x + 1];
                yPlane[turnedIndex(x, 2 * j + 1, width, height, rotation)] = odd[2 * x + 1];
            }
            for (uint32_t p = 0; p < pairs; ++p) {
                const size_t at = turnedIndex(p, j, pairs, chromaHeight, rotation);
                cbPlane[at] = static_cast<uint8_t>((even[4 * p] + odd[4 * p] + 1) >> 1);
                crPlane[at] = static_cast<uint8_t>((even[4 * p + 2] + odd[4 * p + 2] + 1) >> 1);
            }
        }
        return 1;
    }

    uint8_t* crPlane = cbPlane + size_t{pairs} * height;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* line = source + y * stride;
        for (uint32_t x = 0; x < width; ++x) {
            yPlane[turnedIndex(x, y, width, height, rotation)] = line[2 * x + 1];
        }
        if (format == ChromaGrey) continue;
        for (uint32_t p = 0; p < pairs; ++p) {
            const size_t at = turnedIndex(p, y, pairs, height, rotation);
            cbPlane[at] = line[4 * p];
            crPlane[at] = line[4 * p + 2];
        }
    }
    return 1;
}
