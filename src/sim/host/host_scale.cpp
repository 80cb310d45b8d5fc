#include "sim/host/host_scale.h"

#include <array>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kAreaSumLevels = 9 * 255 + 1;  // nine-fold weighted sums of 8-bit samples
using Levels = std::array<uint8_t, kAreaSumLevels>;

// Nine-fold sums to levels: studio sources keep theirs; full-range (JPEG) sources are mapped to
// studio levels, luma 0..255 onto 16..235 and chroma onto 16..240 around 128.
Levels makeLevels(bool fullRange, bool chroma) {
    Levels levels{};
    for (int sum = 0; sum < kAreaSumLevels; ++sum) {
        double v = sum / 9.0;
        if (fullRange) v = chroma ? 128 + (v - 128) * 224 / 255 : 16 + v * 219 / 255;
        levels[sum] = static_cast<uint8_t>(v + 0.5);
    }
    return levels;
}

const Levels kStudio = makeLevels(false, false);
const Levels kFullLuma = makeLevels(true, false);
const Levels kFullChroma = makeLevels(true, true);

// round(sum / 9) for every nine-fold sum (0..2295): 7282 / 2^16 errs by under 0.01 there.
struct Ninth {
    uint8_t operator()(int sum) const { return static_cast<uint8_t>((sum * 7282 + 32768) >> 16); }
};
// Any mapping of the sums, by table.
struct ByTable {
    const uint8_t* levels;
    uint8_t operator()(int sum) const { return levels[sum]; }
};

// The kernel with its steps known and studio sources computed rather than looked up, so the
// compiler can vectorise the sample loads.
template <int SrcStep, int DstStep, typename Map>
void areaKernel(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int outWidth,
                int outHeight, Map levels) {
    for (int oy = 0; oy < outHeight; oy += 2) {
        const uint8_t* s0 = src + ptrdiff_t{oy / 2 * 3} * srcStride;
        const uint8_t* s1 = s0 + srcStride;
        const uint8_t* s2 = s1 + srcStride;
        uint8_t* d0 = dst + ptrdiff_t{oy} * dstStride;
        uint8_t* d1 = d0 + dstStride;
        for (int ox = 0, x = 0; ox < outWidth; ox += 2, x += 3) {
            int top[3], bottom[3];
            for (int c = 0; c < 3; ++c) {
                const int p0 = s0[(x + c) * SrcStep], p1 = s1[(x + c) * SrcStep],
                          p2 = s2[(x + c) * SrcStep];
                top[c] = 2 * p0 + p1;
                bottom[c] = p1 + 2 * p2;
            }
            d0[ox * DstStep] = levels(2 * top[0] + top[1]);
            d0[(ox + 1) * DstStep] = levels(top[1] + 2 * top[2]);
            d1[ox * DstStep] = levels(2 * bottom[0] + bottom[1]);
            d1[(ox + 1) * DstStep] = levels(bottom[1] + 2 * bottom[2]);
        }
    }
}

// Packed 4:2:2 studio sources: rows first, all bytes alike (Y and C interleaved), which the
// compiler vectorises; then each 12-byte group of three weighted rows (six Y, three Cb, three Cr)
// makes an 8-byte group of the picture. `Y`, `Cb`, `Cr`: the source's byte offsets in a group.
template <int Y, int Cb, int Cr>
void areaPacked(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int outWidth,
                int outHeight, std::vector<uint16_t>& rows) {
    const int groups = outWidth / 4, bytes = groups * 12;
    rows.resize(size_t(bytes) * 2);
    uint16_t* top = rows.data();
    uint16_t* bottom = top + bytes;
    const Ninth ninth;
    for (int oy = 0; oy < outHeight; oy += 2) {
        const uint8_t* s0 = src + ptrdiff_t{oy / 2 * 3} * srcStride;
        const uint8_t* s1 = s0 + srcStride;
        const uint8_t* s2 = s1 + srcStride;
        for (int i = 0; i < bytes; ++i) {
            top[i] = static_cast<uint16_t>(2 * s0[i] + s1[i]);
            bottom[i] = static_cast<uint16_t>(s1[i] + 2 * s2[i]);
        }
        for (int half = 0; half < 2; ++half) {
            const uint16_t* r = half ? bottom : top;
            uint8_t* d = dst + ptrdiff_t{oy + half} * dstStride;
            for (int g = 0; g < groups; ++g, r += 12, d += 8) {
                d[0] = ninth(2 * r[Cb] + r[Cb + 4]);
                d[1] = ninth(2 * r[Y] + r[Y + 2]);
                d[2] = ninth(2 * r[Cr] + r[Cr + 4]);
                d[3] = ninth(r[Y + 2] + 2 * r[Y + 4]);
                d[4] = ninth(r[Cb + 4] + 2 * r[Cb + 8]);
                d[5] = ninth(2 * r[Y + 6] + r[Y + 8]);
                d[6] = ninth(r[Cr + 4] + 2 * r[Cr + 8]);
                d[7] = ninth(r[Y + 8] + 2 * r[Y + 10]);
            }
        }
    }
}

bool isFullRange(const AVFrame* frame) {
    const auto format = static_cast<AVPixelFormat>(frame->format);
    return frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
           format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
}

// Packed (Cb Y0 Cr Y1) offsets in the sensor's picture.
constexpr int kOutCb = 0, kOutY = 1, kOutCr = 2;

bool scaleThreeToTwo(const AVFrame* frame, uint8_t* uyvy, int width, int height,
                     std::vector<uint16_t>& rows) {
    if (int64_t{frame->width} * 2 != int64_t{width} * 3 ||
        int64_t{frame->height} * 2 != int64_t{height} * 3 || width % 4 != 0 || height % 2 != 0)
        return false;
    const bool full = isFullRange(frame);
    const uint8_t* luma = (full ? kFullLuma : kStudio).data();
    const uint8_t* chroma = (full ? kFullChroma : kStudio).data();
    const int out = width * 2;
    switch (frame->format) {
        case AV_PIX_FMT_YUYV422:    // Y0 Cb Y1 Cr
        case AV_PIX_FMT_UYVY422: {  // Cb Y0 Cr Y1
            const bool yFirst = frame->format == AV_PIX_FMT_YUYV422;
            const uint8_t* s = frame->data[0];
            const int in = frame->linesize[0];
            if (full) {
                areaKernel<2, 2>(s + (yFirst ? 0 : 1), in, uyvy + kOutY, out, width, height,
                                 ByTable{luma});
                areaKernel<4, 4>(s + (yFirst ? 1 : 0), in, uyvy + kOutCb, out, width / 2, height,
                                 ByTable{chroma});
                areaKernel<4, 4>(s + (yFirst ? 3 : 2), in, uyvy + kOutCr, out, width / 2, height,
                                 ByTable{chroma});
                return true;
            }
            if (yFirst)
                areaPacked<0, 1, 3>(s, in, uyvy, out, width, height, rows);
            else
                areaPacked<1, 0, 2>(s, in, uyvy, out, width, height, rows);
            return true;
        }
        case AV_PIX_FMT_YUV422P:
        case AV_PIX_FMT_YUVJ422P:
            areaKernel<1, 2>(frame->data[0], frame->linesize[0], uyvy + kOutY, out, width, height,
                             ByTable{luma});
            areaKernel<1, 4>(frame->data[1], frame->linesize[1], uyvy + kOutCb, out, width / 2,
                             height, ByTable{chroma});
            areaKernel<1, 4>(frame->data[2], frame->linesize[2], uyvy + kOutCr, out, width / 2,
                             height, ByTable{chroma});
            return true;
        default:
            return false;
    }
}

}  // namespace

void freeHostScaler(HostScaler& scaler) {
    sws_freeContext(scaler.context);
    scaler.context = nullptr;
}

bool scaleHostFrame(const AVFrame* frame, HostScaler& scaler, uint8_t* uyvy, uint32_t width,
                    uint32_t height) {
    if (scaleThreeToTwo(frame, uyvy, static_cast<int>(width), static_cast<int>(height),
                        scaler.rows))
        return true;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    // Planar output: libswscale's packed 4:2:2 writer is the slow part of its bilinear path.
    if (!(scaler.context =
              sws_getCachedContext(scaler.context, frame->width, frame->height, format, w, h,
                                   AV_PIX_FMT_YUV422P, SWS_BILINEAR, nullptr, nullptr, nullptr)))
        return false;
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler.context, coefficients, isFullRange(frame), coefficients, 0, 0,
                             1 << 16, 1 << 16);
    const int half = (w + 1) / 2;
    scaler.planar.resize(size_t(w) * h + 2 * size_t(half) * h);
    uint8_t* y = scaler.planar.data();
    uint8_t* cb = y + size_t(w) * h;
    uint8_t* cr = cb + size_t(half) * h;
    uint8_t* planes[4] = {y, cb, cr, nullptr};
    const int strides[4] = {w, half, half, 0};
    sws_scale(scaler.context, frame->data, frame->linesize, 0, frame->height, planes, strides);
    for (int row = 0; row < h; ++row) {
        const uint8_t* ly = y + size_t(row) * w;
        const uint8_t* lb = cb + size_t(row) * half;
        const uint8_t* lr = cr + size_t(row) * half;
        uint8_t* o = uyvy + size_t(row) * w * 2;
        for (int i = 0; i < w / 2; ++i) {
            o[4 * i + kOutCb] = lb[i];
            o[4 * i + kOutY] = ly[2 * i];
            o[4 * i + kOutCr] = lr[i];
            o[4 * i + 3] = ly[2 * i + 1];
        }
    }
    return true;
}
