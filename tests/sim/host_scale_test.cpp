// The host camera's scaling into the sensor's packed 4:2:2 picture: the area kernel against the
// area average worked out here in doubles, and every path against libswscale's bicubic rendering
// of the same centre of a lavfi test pattern.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "sim/host/host_camera.h"
#include "sim/host/host_input.h"
#include "sim/host/host_scale.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

struct Planes {
    std::vector<uint8_t> y, cb, cr;  // 4:2:2: the chroma planes are half as wide
};

Planes unpack(const std::vector<uint8_t>& uyvy) {
    Planes p;
    for (size_t i = 0; i + 3 < uyvy.size(); i += 4) {
        p.cb.push_back(uyvy[i]);
        p.y.push_back(uyvy[i + 1]);
        p.cr.push_back(uyvy[i + 2]);
        p.y.push_back(uyvy[i + 3]);
    }
    return p;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// A 4:2:2 frame whose sample of plane (0 Y, 1 Cb, 2 Cr) at (x, y) is sample(plane, x, y).
Frame makeFrame(AVPixelFormat format, int width, int height,
                const std::function<uint8_t(int, int, int)>& sample) {
    Frame f(av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool planar = format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P;
            if (planar) {
                f->data[0][y * f->linesize[0] + x] = sample(0, x, y);
                if (x % 2 == 0) {
                    f->data[1][y * f->linesize[1] + x / 2] = sample(1, x / 2, y);
                    f->data[2][y * f->linesize[2] + x / 2] = sample(2, x / 2, y);
                }
                continue;
            }
            uint8_t* pair = f->data[0] + y * f->linesize[0] + x / 2 * 4;
            const bool yFirst = format == AV_PIX_FMT_YUYV422;
            pair[(yFirst ? 0 : 1) + (x % 2) * 2] = sample(0, x, y);
            pair[yFirst ? 1 : 0] = sample(1, x / 2, y);
            pair[yFirst ? 3 : 2] = sample(2, x / 2, y);
        }
    return f;
}

// Exactly three halves each way: every output sample is the area average of the source samples
// it covers (weights 2/3 and 1/3 each way), full-range sources then mapped to studio levels.
TEST(HostScale, ThreeHalvesIsTheAreaAverage) {
    struct Case {
        AVPixelFormat format;
        bool fullRange;
    };
    const Case cases[] = {{AV_PIX_FMT_YUYV422, false},
                          {AV_PIX_FMT_UYVY422, false},
                          {AV_PIX_FMT_YUV422P, false},
                          {AV_PIX_FMT_YUVJ422P, true}};
    constexpr int kOutW = 64, kOutH = 48, kInW = 96, kInH = 72;
    // Detail at every scale, through the whole 0..255 range of every plane.
    auto sample = [](int plane, int x, int y) {
        return uint8_t((x * 37 + y * 101 + plane * 59 + (x * y) % 13 * 17) & 0xff);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(av_get_pix_fmt_name(c.format));
        Frame frame = makeFrame(c.format, kInW, kInH, sample);
        HostScaler scaler;
        std::vector<uint8_t> uyvy(kOutW * kOutH * 2);
        ASSERT_TRUE(scaleHostFrame(frame.get(), scaler, uyvy.data(), kOutW, kOutH));
        EXPECT_EQ(scaler.context, nullptr) << "libswscale was used";
        const Planes got = unpack(uyvy);
        int worst = 0;
        for (int plane = 0; plane < 3; ++plane) {
            const int outW = plane ? kOutW / 2 : kOutW;
            const std::vector<uint8_t>& out = plane == 0 ? got.y : plane == 1 ? got.cb : got.cr;
            for (int oy = 0; oy < kOutH; ++oy)
                for (int ox = 0; ox < outW; ++ox) {
                    const double w[2][3] = {{2 / 3.0, 1 / 3.0, 0}, {0, 1 / 3.0, 2 / 3.0}};
                    double v = 0;
                    for (int r = 0; r < 3; ++r)
                        for (int k = 0; k < 3; ++k)
                            v += w[oy % 2][r] * w[ox % 2][k] *
                                 sample(plane, ox / 2 * 3 + k, oy / 2 * 3 + r);
                    if (c.fullRange) v = plane ? 128 + (v - 128) * 224 / 255 : 16 + v * 219 / 255;
                    const int diff = std::abs(int(out[oy * outW + ox]) - int(std::lround(v)));
                    worst = std::max(worst, diff);
                }
        }
        EXPECT_EQ(worst, 0);
        freeHostScaler(scaler);
    }
}

// libswscale's bicubic rendering of the frame's centre in the picture's aspect, planar 4:2:2 in
// studio levels.
Planes reference(const AVFrame* source, int width, int height) {
    Frame cut(av_frame_clone(source));
    const int64_t w = cut->width, h = cut->height;
    if (w * height > int64_t{width} * h) {
        const int64_t keep = h * width / height;
        cut->crop_left = size_t((w - keep) / 2);
        cut->crop_right = size_t(w - keep - (w - keep) / 2);
    } else {
        const int64_t keep = w * height / width;
        cut->crop_top = size_t((h - keep) / 2);
        cut->crop_bottom = size_t(h - keep - (h - keep) / 2);
    }
    EXPECT_EQ(av_frame_apply_cropping(cut.get(), AV_FRAME_CROP_UNALIGNED), 0);
    const auto format = static_cast<AVPixelFormat>(cut->format);
    SwsContext* sws = sws_getContext(cut->width, cut->height, format, width, height,
                                     AV_PIX_FMT_YUV422P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, coefficients, format == AV_PIX_FMT_YUVJ422P, coefficients, 0, 0,
                             1 << 16, 1 << 16);
    Planes p;
    p.y.resize(size_t(width) * height);
    p.cb.resize(size_t(width / 2) * height);
    p.cr.resize(p.cb.size());
    uint8_t* planes[4] = {p.y.data(), p.cb.data(), p.cr.data(), nullptr};
    const int strides[4] = {width, width / 2, width / 2, 0};
    sws_scale(sws, cut->data, cut->linesize, 0, cut->height, planes, strides);
    sws_freeContext(sws);
    return p;
}

// A 1280x720 test pattern in each format a camera gives, into the sensor's two picture sizes (the
// first takes the area kernel, the second libswscale): within 30 dB of FFmpeg's own rendering.
TEST(HostScale, CameraFramesMatchFfmpegsRendering) {
    const char* formats[] = {"yuyv422", "uyvy422", "yuvj422p", "yuv420p"};
    for (const char* format : formats) {
        HostInput input;
        std::string error;
        ASSERT_TRUE(input.open(std::string("lavfi:testsrc2=size=1280x720,format=") + format,
                               HostMedia::Video, error))
            << error;
        Frame frame(av_frame_alloc());
        double seconds = 0;
        ASSERT_GT(input.next(frame.get(), seconds), 0);
        for (const auto& [width, height] : {std::pair{640, 480}, std::pair{352, 288}}) {
            SCOPED_TRACE(std::string(format) + " into " + std::to_string(width));
            const Planes want = reference(frame.get(), width, height);
            Frame work(av_frame_clone(frame.get()));
            HostScaler scaler;
            std::vector<uint8_t> uyvy(size_t(width) * height * 2);
            ASSERT_TRUE(convertHostFrame(work.get(), scaler, uyvy.data(), width, height));
            freeHostScaler(scaler);
            const Planes got = unpack(uyvy);
            EXPECT_GE(psnr(got.y, want.y), 30.0);
            EXPECT_GE(psnr(got.cb, want.cb), 30.0);
            EXPECT_GE(psnr(got.cr, want.cr), 30.0);
        }
    }
}

}  // namespace
