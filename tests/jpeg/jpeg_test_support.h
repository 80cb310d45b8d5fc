// Test pictures, reference conversions and the libjpeg-turbo oracle shared by the JPEG tests.
#pragma once

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "camera/frame.h"
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
            uint8_t* out = &p.rgb[(size_t{y} * width + x) * 3];
            out[0] = clampByte(r + n);
            out[1] = clampByte(g + n);
            out[2] = clampByte(b + n);
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
inline void toYcc(const uint8_t* rgb, double& y, double& cb, double& cr) {
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    y = 0.299 * r + 0.587 * g + 0.114 * b;
    cb = 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
    cr = 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
}

// The picture in a source layout, rows packed.
inline std::vector<uint8_t> pack(const RgbPicture& p, SourcePixelFormat layout) {
    std::vector<uint8_t> out(size_t{p.width} * p.height * bytesPerPixel(layout));
    for (size_t i = 0; i < size_t{p.width} * p.height; ++i) {
        const uint8_t* s = &p.rgb[i * 3];
        if (layout == Bgr24) {
            std::reverse_copy(s, s + 3, &out[i * 3]);
        } else if (layout == Uyvy) {
            double yy, cb, cr, y2, cb2, cr2;
            toYcc(s, yy, cb, cr);
            out[i * 2 + 1] = clampByte(yy);
            if (i % 2 == 0) {
                toYcc(s + 3, y2, cb2, cr2);
                out[i * 2] = clampByte((cb + cb2) / 2);
                out[i * 2 + 2] = clampByte((cr + cr2) / 2);
            }
        } else {
            // Rgb555 with bit 15 set on purpose: it must be ignored.
            const uint16_t w =
                layout == Rgb565
                    ? uint16_t(((s[0] >> 3) << 11) | ((s[1] >> 2) << 5) | (s[2] >> 3))
                    : uint16_t(0x8000 | ((s[0] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[2] >> 3));
            out[i * 2] = uint8_t(w & 0xFF);
            out[i * 2 + 1] = uint8_t(w >> 8);
        }
    }
    return out;
}

// Y, Cb, Cr at full resolution, as doubles.
struct Planes {
    uint32_t width = 0, height = 0;
    std::vector<double> y, cb, cr;
};

// The YCbCr of pixel i of a source layout.
inline void sourceYcc(const std::vector<uint8_t>& source, SourcePixelFormat layout, size_t i,
                      double& y, double& cb, double& cr) {
    if (layout == Uyvy) {
        const uint8_t* pair = &source[(i & ~size_t{1}) * 2];
        y = source[i * 2 + 1];
        cb = pair[0];
        cr = pair[2];
        return;
    }
    uint8_t rgb[3] = {};
    if (layout == Bgr24) {
        std::reverse_copy(&source[i * 3], &source[i * 3 + 3], rgb);
    } else {
        const uint32_t word = source[i * 2] | (source[i * 2 + 1] << 8);
        rgb[0] = uint8_t((layout == Rgb565 ? word >> 11 : (word >> 10) & 31) << 3);
        rgb[1] = uint8_t(layout == Rgb565 ? ((word >> 5) & 63) << 2 : ((word >> 5) & 31) << 3);
        rgb[2] = uint8_t((word & 31) << 3);
    }
    toYcc(rgb, y, cb, cr);
}

// The YCbCr a source stands for after halving when scale is 2 and turning by `rotation`.
inline Planes referencePlanes(const std::vector<uint8_t>& source, SourcePixelFormat layout,
                              uint32_t sourceWidth, uint32_t sourceHeight, uint32_t scale,
                              uint32_t rotation) {
    const uint32_t w = sourceWidth / scale, h = sourceHeight / scale;
    const bool turned = rotation == 1 || rotation == 3;
    const size_t n = size_t{w} * h;
    Planes out{turned ? h : w, turned ? w : h, std::vector<double>(n), std::vector<double>(n),
               std::vector<double>(n)};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            double sy = 0, scb = 0, scr = 0, yy, cb, cr;
            for (uint32_t dy = 0; dy < scale; ++dy) {
                for (uint32_t dx = 0; dx < scale; ++dx) {
                    const size_t i = size_t{y * scale + dy} * sourceWidth + x * scale + dx;
                    sourceYcc(source, layout, i, yy, cb, cr);
                    sy += yy;
                    scb += cb;
                    scr += cr;
                }
            }
            // Rotation 1 puts the right column on top, 3 the left column at the bottom.
            const size_t d = rotation == 1   ? size_t{w - 1 - x} * h + y
                             : rotation == 2 ? size_t{h - 1 - y} * w + (w - 1 - x)
                             : rotation == 3 ? size_t{x} * h + (h - 1 - y)
                                             : size_t{y} * w + x;
            out.y[d] = sy / (scale * scale);
            out.cb[d] = scb / (scale * scale);
            out.cr[d] = scr / (scale * scale);
        }
    }
    return out;
}

// A JPEG decoded by libjpeg-turbo into its YCbCr planes.
struct Decoded {
    bool ok = false;
    std::string error;
    int width = 0, height = 0, subsampling = -1, chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> y, cb, cr;
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
        d.y.resize(size_t(tjPlaneWidth(0, d.width, d.subsampling)) *
                   tjPlaneHeight(0, d.height, d.subsampling));
        d.cb.resize(size_t(d.chromaWidth) * d.chromaHeight);
        d.cr.resize(d.cb.size());
        unsigned char* planes[3] = {d.y.data(), d.cb.data(), d.cr.data()};
        // TJFLAG_STOPONWARNING: a warning (corrupt data, premature end) is a failure.
        d.ok = tjDecompressToYUVPlanes(h, data, length, planes, d.width, nullptr, d.height,
                                       TJFLAG_STOPONWARNING) == 0;
    }
    if (!d.ok) d.error = tjGetErrorStr2(h);
    tjDestroy(h);
    return d;
}

// PSNR of a decoded plane against reference samples averaged over the plane's sampling grid.
inline double planePsnr(const std::vector<uint8_t>& plane, int planeWidth, int planeHeight,
                        const std::vector<double>& reference, uint32_t width, uint32_t height) {
    const uint32_t fx = width / uint32_t(planeWidth), fy = height / uint32_t(planeHeight);
    double error = 0;
    for (int y = 0; y < planeHeight; ++y) {
        for (int x = 0; x < planeWidth; ++x) {
            double sum = 0;
            for (uint32_t dy = 0; dy < fy; ++dy)
                for (uint32_t dx = 0; dx < fx; ++dx)
                    sum += reference[size_t(y * fy + dy) * width + (x * fx + dx)];
            const double e = plane[size_t(y) * planeWidth + x] - sum / (fx * fy);
            error += e * e;
        }
    }
    if (error == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * planeWidth * planeHeight / error);
}

// Decodes a stream with libjpeg-turbo and checks that it shows `source` (width x height once
// halved by `scale`) turned by `rotation`: its size, and the PSNR of its planes (Cb and Cr unless
// it is grey) against the source's.
inline Decoded expectShows(const uint8_t* jpeg, size_t size, const std::vector<uint8_t>& source,
                           SourcePixelFormat layout, uint32_t width, uint32_t height,
                           uint32_t scale, uint32_t rotation, double lumaFloor,
                           double chromaFloor) {
    Decoded d = decodeJpeg(jpeg, size);
    EXPECT_TRUE(d.ok) << d.error;
    if (!d.ok) return d;
    const Planes r =
        referencePlanes(source, layout, width * scale, height * scale, scale, rotation);
    EXPECT_EQ(d.width, int(r.width));
    EXPECT_EQ(d.height, int(r.height));
    EXPECT_GT(planePsnr(d.y, d.width, d.height, r.y, r.width, r.height), lumaFloor);
    if (d.subsampling == TJSAMP_GRAY) return d;
    EXPECT_GT(planePsnr(d.cb, d.chromaWidth, d.chromaHeight, r.cb, r.width, r.height), chromaFloor);
    EXPECT_GT(planePsnr(d.cr, d.chromaWidth, d.chromaHeight, r.cr, r.width, r.height), chromaFloor);
    return d;
}

}  // namespace jpegtest
