// Scalar reference of the sampling kernels (arithmetic in sample.h). Each kernel first fetches
// one output line of 16 pixels (halving the source when the scale is 2), then converts it.
#include "jpeg/sample.h"

namespace {

constexpr int kLevelShift = 128;

constexpr uint8_t average(uint32_t a, uint32_t b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

// Output line `row` of the macroblock as 32 Uyvy bytes (16 pixels).
template <uint32_t Scale>
void fetchUyvyLine(const uint8_t* source, uint32_t stride, uint32_t row, uint8_t line[32]) {
    if constexpr (Scale == 1) {
        const uint8_t* s = source + row * stride;
        for (int i = 0; i < 32; ++i) line[i] = s[i];
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* b = a + stride;
        uint8_t v[64];
        for (int i = 0; i < 64; ++i) v[i] = average(a[i], b[i]);
        for (int p = 0; p < 8; ++p) {  // output pair p from source pairs 2p and 2p + 1
            const uint8_t* q = v + 8 * p;
            line[4 * p + 0] = average(q[0], q[4]);  // Cb
            line[4 * p + 1] = average(q[1], q[3]);  // Y of the first source pair
            line[4 * p + 2] = average(q[2], q[6]);  // Cr
            line[4 * p + 3] = average(q[5], q[7]);  // Y of the second source pair
        }
    }
}

// Widened components of one source pixel.
struct Rgb {
    uint32_t r, g, b;
};

template <SourcePixelFormat Format>
Rgb readPixel(const uint8_t* p) {
    if constexpr (Format == Bgr24) {
        return {p[2], p[1], p[0]};
    } else {
        const uint32_t w = p[0] | (p[1] << 8);
        if constexpr (Format == Rgb565) {
            return {(w >> 11) << 3, ((w >> 5) & 63) << 2, (w & 31) << 3};
        } else {
            return {((w >> 10) & 31) << 3, ((w >> 5) & 31) << 3, (w & 31) << 3};
        }
    }
}

// Output line `row` of the macroblock as 16 pixels of widened components.
template <SourcePixelFormat Format, uint32_t Scale>
void fetchRgbLine(const uint8_t* source, uint32_t stride, uint32_t row, Rgb line[16]) {
    constexpr uint32_t bpp = bytesPerPixel(Format);
    if constexpr (Scale == 1) {
        const uint8_t* s = source + row * stride;
        for (uint32_t x = 0; x < 16; ++x) line[x] = readPixel<Format>(s + x * bpp);
    } else {
        const uint8_t* a = source + 2 * row * stride;
        const uint8_t* b = a + stride;
        Rgb v[32];
        for (uint32_t x = 0; x < 32; ++x) {
            const Rgb p = readPixel<Format>(a + x * bpp);
            const Rgb q = readPixel<Format>(b + x * bpp);
            v[x] = {average(p.r, q.r), average(p.g, q.g), average(p.b, q.b)};
        }
        for (uint32_t x = 0; x < 16; ++x) {
            const Rgb& p = v[2 * x];
            const Rgb& q = v[2 * x + 1];
            line[x] = {average(p.r, q.r), average(p.g, q.g), average(p.b, q.b)};
        }
    }
}

int16_t lumaOf(const Rgb& p) {
    return static_cast<int16_t>(((kYr * p.r + kYg * p.g + kYb * p.b) >> 8) - kLevelShift);
}

// Cb and Cr of a chroma group given its component sums, 2^k pixels.
int16_t cbOf(int32_t sumR, int32_t sumG, int32_t sumB, int k) {
    return static_cast<int16_t>((kCbB * sumB - kCbG * sumG - kCbR * sumR) >> (8 + k));
}
int16_t crOf(int32_t sumR, int32_t sumG, int32_t sumB, int k) {
    return static_cast<int16_t>((kCrR * sumR - kCrG * sumG - kCrB * sumB) >> (8 + k));
}

// Luma of one 16-pixel Uyvy line into row `row` of the left and right blocks.
void storeUyvyLuma(const uint8_t line[32], int16_t* luma, uint32_t row) {
    for (int x = 0; x < 16; ++x) {
        const int16_t y = static_cast<int16_t>(line[2 * x + 1] - kLevelShift);
        luma[(x >> 3) * 64 + row * 8 + (x & 7)] = y;
    }
}

}  // namespace

template <uint32_t Scale>
void sampleUyvy422(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma) {
    for (uint32_t row = 0; row < 8; ++row) {
        uint8_t line[32];
        fetchUyvyLine<Scale>(source, stride, row, line);
        storeUyvyLuma(line, luma, row);
        for (int p = 0; p < 8; ++p) {
            chroma[row * 8 + p] = static_cast<int16_t>(line[4 * p] - kLevelShift);
            chroma[64 + row * 8 + p] = static_cast<int16_t>(line[4 * p + 2] - kLevelShift);
        }
    }
}

template <uint32_t Scale>
void sampleUyvy420Half(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* chroma) {
    for (uint32_t pair = 0; pair < 4; ++pair) {
        uint8_t even[32], odd[32];
        fetchUyvyLine<Scale>(source, stride, 2 * pair, even);
        fetchUyvyLine<Scale>(source, stride, 2 * pair + 1, odd);
        storeUyvyLuma(even, luma, 2 * pair);
        storeUyvyLuma(odd, luma, 2 * pair + 1);
        for (int p = 0; p < 8; ++p) {
            chroma[pair * 8 + p] =
                static_cast<int16_t>(average(even[4 * p], odd[4 * p]) - kLevelShift);
            chroma[64 + pair * 8 + p] =
                static_cast<int16_t>(average(even[4 * p + 2], odd[4 * p + 2]) - kLevelShift);
        }
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb422(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb, int16_t* cr) {
    for (uint32_t row = 0; row < 8; ++row) {
        Rgb line[16];
        fetchRgbLine<Format, Scale>(source, stride, row, line);
        for (int x = 0; x < 16; ++x) luma[(x >> 3) * 64 + row * 8 + (x & 7)] = lumaOf(line[x]);
        for (int p = 0; p < 8; ++p) {
            const Rgb& a = line[2 * p];
            const Rgb& b = line[2 * p + 1];
            const int32_t r = a.r + b.r, g = a.g + b.g, bl = a.b + b.b;
            cb[row * 8 + p] = cbOf(r, g, bl, 1);
            cr[row * 8 + p] = crOf(r, g, bl, 1);
        }
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleRgb420(const uint8_t* source, uint32_t stride, int16_t* luma, int16_t* cb, int16_t* cr) {
    for (uint32_t pair = 0; pair < 8; ++pair) {
        Rgb even[16], odd[16];
        fetchRgbLine<Format, Scale>(source, stride, 2 * pair, even);
        fetchRgbLine<Format, Scale>(source, stride, 2 * pair + 1, odd);
        for (uint32_t half = 0; half < 2; ++half) {
            const uint32_t row = 2 * pair + half;
            const Rgb* line = half ? odd : even;
            // Blocks: top-left, top-right, bottom-left, bottom-right.
            int16_t* top = luma + (row >> 3) * 128 + (row & 7) * 8;
            for (int x = 0; x < 16; ++x) top[(x >> 3) * 64 + (x & 7)] = lumaOf(line[x]);
        }
        for (int p = 0; p < 8; ++p) {
            const Rgb& a = even[2 * p];
            const Rgb& b = even[2 * p + 1];
            const Rgb& c = odd[2 * p];
            const Rgb& d = odd[2 * p + 1];
            const int32_t r = a.r + b.r + c.r + d.r;
            const int32_t g = a.g + b.g + c.g + d.g;
            const int32_t bl = a.b + b.b + c.b + d.b;
            cb[pair * 8 + p] = cbOf(r, g, bl, 2);
            cr[pair * 8 + p] = crOf(r, g, bl, 2);
        }
    }
}

template <SourcePixelFormat Format, uint32_t Scale>
void sampleLuma(const uint8_t* source, uint32_t stride, int16_t* luma) {
    for (uint32_t row = 0; row < 8; ++row) {
        if constexpr (Format == Uyvy) {
            uint8_t line[32];
            fetchUyvyLine<Scale>(source, stride, row, line);
            storeUyvyLuma(line, luma, row);
        } else {
            Rgb line[16];
            fetchRgbLine<Format, Scale>(source, stride, row, line);
            for (int x = 0; x < 16; ++x) luma[(x >> 3) * 64 + row * 8 + (x & 7)] = lumaOf(line[x]);
        }
    }
}

template void sampleUyvy422<1>(const uint8_t*, uint32_t, int16_t*, int16_t*);
template void sampleUyvy422<2>(const uint8_t*, uint32_t, int16_t*, int16_t*);
template void sampleUyvy420Half<1>(const uint8_t*, uint32_t, int16_t*, int16_t*);
template void sampleUyvy420Half<2>(const uint8_t*, uint32_t, int16_t*, int16_t*);

#define LUMO_INSTANTIATE_RGB(F, S)                                                            \
    template void sampleRgb422<F, S>(const uint8_t*, uint32_t, int16_t*, int16_t*, int16_t*); \
    template void sampleRgb420<F, S>(const uint8_t*, uint32_t, int16_t*, int16_t*, int16_t*); \
    template void sampleLuma<F, S>(const uint8_t*, uint32_t, int16_t*);
LUMO_INSTANTIATE_RGB(Bgr24, 1)
LUMO_INSTANTIATE_RGB(Bgr24, 2)
LUMO_INSTANTIATE_RGB(Rgb565, 1)
LUMO_INSTANTIATE_RGB(Rgb565, 2)
LUMO_INSTANTIATE_RGB(Rgb555, 1)
LUMO_INSTANTIATE_RGB(Rgb555, 2)
#undef LUMO_INSTANTIATE_RGB
template void sampleLuma<Uyvy, 1>(const uint8_t*, uint32_t, int16_t*);
template void sampleLuma<Uyvy, 2>(const uint8_t*, uint32_t, int16_t*);
