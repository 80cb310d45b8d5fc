// Test pictures, the reference conversion and the libjpeg-turbo oracle shared by the JPEG tests.
#pragma once

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/frame.h"
#include "jpeg/encoder.h"
#include "jpeg/kernels.h"

namespace jpegtest {

struct EncoderDeleter {
    void operator()(JpegEncoder* e) const { freeJpegEncoder(e); }
};
using EncoderPtr = std::unique_ptr<JpegEncoder, EncoderDeleter>;

// 8-bit R, G, B per pixel, rows packed.
struct RgbPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

inline uint8_t clampByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// The vector kernel tables this processor runs (checkasm: each is compared with the scalar one).
inline std::vector<const JpegKernels*> vectorKernels() {
    std::vector<const JpegKernels*> tables;
    for (simd::Level level : {simd::Level::Sse2, simd::Level::Avx2})
        if (const JpegKernels* k = jpegKernelsFor(level)) tables.push_back(k);
    return tables;
}

// A smooth, photograph-like picture: sky-to-ground gradient, a soft disc, a dark bar, ripples and
// a little noise.
inline RgbPicture naturalPicture(uint32_t width, uint32_t height, uint32_t seed = 1) {
    RgbPicture p{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double fx = double(x) / width, fy = double(y) / height;
            double r = 60 + 150 * fy + 20 * std::sin(9 * fx + 3 * fy);
            double g = 90 + 100 * (1 - fy) + 25 * std::cos(7 * fy - 5 * fx);
            double b = 200 - 140 * fy + 15 * std::sin(13 * fx * fy);
            const double dx = fx - 0.62, dy = fy - 0.38;
            if (dx * dx + dy * dy < 0.02) {
                r = 230;
                g = 190 - 300 * (dx * dx + dy * dy);
                b = 60;
            }
            if (fx > 0.2 && fx < 0.27 && fy > 0.3) r = g = b = 35;
            const int n = noise(random);
            const double rgb[3] = {r, g, b};
            for (int c = 0; c < 3; ++c)
                p.rgb[(size_t{y} * width + x) * 3 + c] = clampByte(rgb[c] + n);
        }
    }
    return p;
}

inline RgbPicture randomPicture(uint32_t width, uint32_t height, uint32_t seed) {
    RgbPicture p{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    std::mt19937 random(seed);
    for (auto& v : p.rgb) v = static_cast<uint8_t>(random());
    return p;
}

// Full-range BT.601 Y, Cb, Cr of a pixel (what a JFIF decoder expects).
inline std::array<double, 3> toYcc(const uint8_t* rgb) {
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    return {0.299 * r + 0.587 * g + 0.114 * b, 128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
            128 + 0.5 * r - 0.418688 * g - 0.081312 * b};
}

// A picture packed in a source layout; `shown` is the picture with only the colour bits the
// layout keeps, the reference for what an encoder of `bytes` must show.
struct Source {
    RgbPicture shown;
    std::vector<uint8_t> bytes;
};

inline Source pack(RgbPicture p, SourcePixelFormat layout) {
    std::vector<uint8_t> out(size_t{p.width} * p.height * bytesPerPixel(layout));
    for (size_t i = 0; i < size_t{p.width} * p.height; ++i) {
        uint8_t* s = &p.rgb[i * 3];
        if (layout == Bgr24) {
            std::reverse_copy(s, s + 3, &out[i * 3]);
        } else if (layout == Uyvy) {
            const auto ycc = toYcc(s);
            out[i * 2 + 1] = clampByte(ycc[0]);
            if (i % 2 == 0) {
                const auto next = toYcc(s + 3);
                out[i * 2] = clampByte((ycc[1] + next[1]) / 2);
                out[i * 2 + 2] = clampByte((ycc[2] + next[2]) / 2);
            }
        } else {
            const bool wideGreen = layout == Rgb565;
            s[0] &= 0xF8;
            s[1] &= wideGreen ? 0xFC : 0xF8;
            s[2] &= 0xF8;
            // Rgb555 with bit 15 set on purpose: it must be ignored.
            const uint16_t w = wideGreen
                                   ? uint16_t((s[0] << 8) | (s[1] << 3) | (s[2] >> 3))
                                   : uint16_t(0x8000 | (s[0] << 7) | (s[1] << 2) | (s[2] >> 3));
            out[i * 2] = uint8_t(w & 0xFF);
            out[i * 2 + 1] = uint8_t(w >> 8);
        }
    }
    return {std::move(p), std::move(out)};
}

// The picture turned as the encoder turns it: rotation 1 puts the right column on top, 3 the left
// column at the bottom.
inline RgbPicture turned(const RgbPicture& p, uint32_t rotation) {
    const uint32_t w = p.width, h = p.height;
    const bool quarter = rotation % 2 == 1;
    RgbPicture out{quarter ? h : w, quarter ? w : h, std::vector<uint8_t>(p.rgb.size())};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const size_t d = rotation == 1   ? size_t{w - 1 - x} * h + y
                             : rotation == 2 ? size_t{h - 1 - y} * w + (w - 1 - x)
                             : rotation == 3 ? size_t{x} * h + (h - 1 - y)
                                             : size_t{y} * w + x;
            std::copy_n(&p.rgb[(size_t{y} * w + x) * 3], 3, &out.rgb[d * 3]);
        }
    }
    return out;
}

// PSNR of a decoded plane against component c (0 Y, 1 Cb, 2 Cr) of the reference, averaged over
// the reference pixels each sample covers.
inline double planePsnr(const std::vector<uint8_t>& plane, int width, int height,
                        const RgbPicture& reference, int c) {
    const uint32_t fx = reference.width / uint32_t(width), fy = reference.height / uint32_t(height);
    double error = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sum = 0;
            for (uint32_t dy = 0; dy < fy; ++dy)
                for (uint32_t dx = 0; dx < fx; ++dx)
                    sum += toYcc(
                        &reference
                             .rgb[(size_t(y * fy + dy) * reference.width + (x * fx + dx)) * 3])[c];
            const double e = plane[size_t(y) * width + x] - sum / (fx * fy);
            error += e * e;
        }
    }
    return error == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * width * height / error);
}

// A JPEG decoded by libjpeg-turbo into its Y, Cb and Cr planes.
struct Decoded {
    bool ok = false;
    std::string error;
    int width = 0, height = 0, subsampling = -1, chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> planes[3];
};

inline Decoded decodeJpeg(const uint8_t* data, size_t size) {
    Decoded d;
    tjhandle h = tjInitDecompress();
    int colorspace = 0;
    const auto length = static_cast<unsigned long>(size);
    if (tjDecompressHeader3(h, data, length, &d.width, &d.height, &d.subsampling, &colorspace) ==
        0) {
        const bool grey = d.subsampling == TJSAMP_GRAY;
        d.chromaWidth = grey ? 0 : tjPlaneWidth(1, d.width, d.subsampling);
        d.chromaHeight = grey ? 0 : tjPlaneHeight(1, d.height, d.subsampling);
        d.planes[0].resize(size_t(d.width) * d.height);
        d.planes[1].resize(size_t(d.chromaWidth) * d.chromaHeight);
        d.planes[2].resize(d.planes[1].size());
        unsigned char* planes[3] = {d.planes[0].data(), d.planes[1].data(), d.planes[2].data()};
        // TJFLAG_STOPONWARNING: a warning (corrupt data, premature end) is a failure.
        d.ok = tjDecompressToYUVPlanes(h, data, length, planes, d.width, nullptr, d.height,
                                       TJFLAG_STOPONWARNING) == 0;
    }
    if (!d.ok) d.error = tjGetErrorStr2(h);
    tjDestroy(h);
    return d;
}

// Decodes a stream with libjpeg-turbo and checks that it shows `picture` halved when `scale` is 2
// and turned by `rotation`: its size, and the PSNR of its planes (Cb and Cr unless it is grey).
inline Decoded expectShows(const uint8_t* jpeg, size_t size, const RgbPicture& picture,
                           uint32_t scale, uint32_t rotation, double lumaFloor,
                           double chromaFloor) {
    Decoded d = decodeJpeg(jpeg, size);
    EXPECT_TRUE(d.ok) << d.error;
    const RgbPicture r = turned(picture, rotation);
    EXPECT_EQ(std::pair(d.width * scale, d.height * scale), std::pair(r.width, r.height));
    if (!d.ok || d.width * scale != r.width || d.height * scale != r.height) return d;
    EXPECT_GT(planePsnr(d.planes[0], d.width, d.height, r, 0), lumaFloor);
    if (d.subsampling == TJSAMP_GRAY) return d;
    for (int c : {1, 2})
        EXPECT_GT(planePsnr(d.planes[c], d.chromaWidth, d.chromaHeight, r, c), chromaFloor) << c;
    return d;
}

}  // namespace jpegtest
