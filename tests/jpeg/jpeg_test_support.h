// Test pictures, reference conversions and the libjpeg-turbo oracle shared by the JPEG tests.
#pragma once

#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "camera/frame.h"

namespace jpegtest {

// A smooth, photograph-like picture with some edges and fine texture: 8-bit R, G, B per pixel.
struct RgbPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // 3 bytes per pixel, R G B
};

inline RgbPicture naturalPicture(uint32_t width, uint32_t height, uint32_t seed = 1) {
    RgbPicture p{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double fx = double(x) / width, fy = double(y) / height;
            // Sky-to-ground gradient, a soft disc, a dark bar and gentle ripples.
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
            const double v[3] = {r + n, g + n, b + n};
            for (int c = 0; c < 3; ++c) {
                const double clamped = v[c] < 0 ? 0 : (v[c] > 255 ? 255 : v[c]);
                p.rgb[(size_t{y} * width + x) * 3 + c] = static_cast<uint8_t>(clamped);
            }
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

inline uint8_t clampByte(double v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v)));
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
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint8_t* s = &p.rgb[(size_t{y} * p.width + x) * 3];
            const size_t i = size_t{y} * p.width + x;
            switch (layout) {
                case Bgr24:
                    out[i * 3] = s[2];
                    out[i * 3 + 1] = s[1];
                    out[i * 3 + 2] = s[0];
                    break;
                case Rgb565: {
                    const uint16_t w =
                        uint16_t(((s[0] >> 3) << 11) | ((s[1] >> 2) << 5) | (s[2] >> 3));
                    out[i * 2] = uint8_t(w & 0xFF);
                    out[i * 2 + 1] = uint8_t(w >> 8);
                    break;
                }
                case Rgb555: {
                    // Bit 15 set on purpose: it must be ignored.
                    const uint16_t w =
                        uint16_t(0x8000 | ((s[0] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[2] >> 3));
                    out[i * 2] = uint8_t(w & 0xFF);
                    out[i * 2 + 1] = uint8_t(w >> 8);
                    break;
                }
                case Uyvy: {
                    double yy, cb, cr;
                    toYcc(s, yy, cb, cr);
                    out[i * 2 + 1] = clampByte(yy);
                    if (x % 2 == 0) {
                        double y2, cb2, cr2;
                        toYcc(s + 3, y2, cb2, cr2);
                        out[i * 2] = clampByte((cb + cb2) / 2);
                        out[i * 2 + 2] = clampByte((cr + cr2) / 2);
                    }
                    break;
                }
            }
        }
    }
    return out;
}

// Planes of a picture (full resolution, no subsampling), as doubles.
struct Planes {
    uint32_t width = 0, height = 0;
    std::vector<double> y, cb, cr;
};

// The YCbCr a source layout stands for, at full resolution, after halving when scale is 2 and
// turning by `rotation`.
inline Planes referencePlanes(const std::vector<uint8_t>& source, SourcePixelFormat layout,
                              uint32_t sourceWidth, uint32_t sourceHeight, uint32_t scale,
                              uint32_t rotation) {
    const uint32_t w = sourceWidth / scale, h = sourceHeight / scale;
    Planes full{w, h, std::vector<double>(size_t{w} * h), std::vector<double>(size_t{w} * h),
                std::vector<double>(size_t{w} * h)};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            double sy = 0, scb = 0, scr = 0;
            for (uint32_t dy = 0; dy < scale; ++dy) {
                for (uint32_t dx = 0; dx < scale; ++dx) {
                    const uint32_t px = x * scale + dx, py = y * scale + dy;
                    const size_t i = size_t{py} * sourceWidth + px;
                    double yy, cb, cr;
                    if (layout == Uyvy) {
                        const uint8_t* pair = &source[(i & ~size_t{1}) * 2];
                        yy = source[i * 2 + 1];
                        cb = pair[0];
                        cr = pair[2];
                    } else {
                        uint8_t rgb[3];
                        if (layout == Bgr24) {
                            rgb[0] = source[i * 3 + 2];
                            rgb[1] = source[i * 3 + 1];
                            rgb[2] = source[i * 3];
                        } else {
                            const uint32_t word = source[i * 2] | (source[i * 2 + 1] << 8);
                            if (layout == Rgb565) {
                                rgb[0] = uint8_t((word >> 11) << 3);
                                rgb[1] = uint8_t(((word >> 5) & 63) << 2);
                            } else {
                                rgb[0] = uint8_t(((word >> 10) & 31) << 3);
                                rgb[1] = uint8_t(((word >> 5) & 31) << 3);
                            }
                            rgb[2] = uint8_t((word & 31) << 3);
                        }
                        toYcc(rgb, yy, cb, cr);
                    }
                    sy += yy;
                    scb += cb;
                    scr += cr;
                }
            }
            const double n = scale * scale;
            const size_t o = size_t{y} * w + x;
            full.y[o] = sy / n;
            full.cb[o] = scb / n;
            full.cr[o] = scr / n;
        }
    }
    const bool turned = rotation == 1 || rotation == 3;
    Planes out{turned ? h : w, turned ? w : h, full.y, full.cb, full.cr};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            // Rotation 1 puts the right column on top, 3 the left column at the bottom.
            const size_t d = rotation == 1   ? size_t{w - 1 - x} * h + y
                             : rotation == 2 ? size_t{h - 1 - y} * w + (w - 1 - x)
                             : rotation == 3 ? size_t{x} * h + (h - 1 - y)
                                             : size_t{y} * w + x;
            out.y[d] = full.y[size_t{y} * w + x];
            out.cb[d] = full.cb[size_t{y} * w + x];
            out.cr[d] = full.cr[size_t{y} * w + x];
        }
    }
    return out;
}

// A JPEG decoded by libjpeg-turbo into its YCbCr planes.
struct Decoded {
    bool ok = false;
    std::string error;
    int width = 0, height = 0, subsampling = -1;
    std::vector<uint8_t> y, cb, cr;
    int chromaWidth = 0, chromaHeight = 0;
};

inline Decoded decodeJpeg(const uint8_t* data, size_t size) {
    Decoded d;
    tjhandle h = tjInitDecompress();
    int colorspace = 0;
    if (tjDecompressHeader3(h, data, static_cast<unsigned long>(size), &d.width, &d.height,
                            &d.subsampling, &colorspace) != 0) {
        d.error = tjGetErrorStr2(h);
        tjDestroy(h);
        return d;
    }
    const int components = d.subsampling == TJSAMP_GRAY ? 1 : 3;
    d.chromaWidth = components == 1 ? 0 : tjPlaneWidth(1, d.width, d.subsampling);
    d.chromaHeight = components == 1 ? 0 : tjPlaneHeight(1, d.height, d.subsampling);
    d.y.resize(size_t(tjPlaneWidth(0, d.width, d.subsampling)) *
               tjPlaneHeight(0, d.height, d.subsampling));
    d.cb.resize(size_t(d.chromaWidth) * d.chromaHeight);
    d.cr.resize(d.cb.size());
    unsigned char* planes[3] = {d.y.data(), d.cb.data(), d.cr.data()};
    // TJFLAG_STOPONWARNING: a warning (corrupt data, premature end) is a failure.
    if (tjDecompressToYUVPlanes(h, data, static_cast<unsigned long>(size), planes, d.width, nullptr,
                                d.height, TJFLAG_STOPONWARNING) != 0) {
        d.error = tjGetErrorStr2(h);
        tjDestroy(h);
        return d;
    }
    tjDestroy(h);
    d.ok = true;
    return d;
}

inline double psnr(double squaredError, size_t count) {
    if (squaredError == 0) return 99;
    const double mse = squaredError / double(count);
    return 10 * std::log10(255.0 * 255.0 / mse);
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
    return psnr(error, size_t(planeWidth) * planeHeight);
}

}  // namespace jpegtest
