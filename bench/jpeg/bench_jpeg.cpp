// lumo-bench-jpeg: megapixels per second of the built-in encoder on one core, beside
// libjpeg-turbo's TurboJPEG API measured in the same run:
//   (a) tjCompressFromYUVPlanes from planes prepared beforehand, with TJFLAG_FASTDCT (the same
//       kind of 16-bit AAN transform);
//   (b) the same frame as the camera delivers it: the packed frame is first split into planes
//       (Uyvy) or widened to 24-bit RGB (Rgb565), and that conversion is counted.
// Two pictures: the simulated camera's scene (a test chart: flat patches, line pairs, a zone
// plate, about 1 bit per pixel at q85) and a photograph-like picture (smooth shading with
// texture at every scale and a little sensor noise, 2 to 4 bits per pixel at q85, like a real
// photo). Times are the thread's processor time; each figure is the best of several rounds,
// taken in turn, so that whatever else the machine does affects all three alike.
#include <sched.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "jpeg/encoder.h"
#include "simd/cpu.h"
#if LUMO_HAVE_SCENE
#include "sim/scene/scene_generator.h"
#endif

namespace {

std::vector<uint8_t> cameraFrame(uint32_t w, uint32_t h) {
    std::vector<uint8_t> frame(size_t{w} * h * 2);
#if LUMO_HAVE_SCENE
    SceneGenerator scene;
    sceneInit(scene, w, h);
    sceneRender(scene, frame.data(), 17, 400, SceneLook{});
#else
    for (uint32_t y = 0; y < h; ++y)  // a smooth stand-in with some edges
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &frame[(size_t{y} * w + x) * 2];
            p[1] = uint8_t(40 + (x * 150) / w + ((x / 37 + y / 29) % 2) * 30);
            if (x % 2 == 0) {
                p[0] = uint8_t(128 + (int(y) - int(h / 2)) * 60 / int(h));
                p[2] = uint8_t(128 + (int(x) - int(w / 2)) * 60 / int(w));
            }
        }
#endif
    return frame;
}

uint8_t clampByte(int v) {
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Smooth random lattice noise, bilinearly interpolated, in -1..1.
struct LatticeNoise {
    uint32_t cell, columns;
    std::vector<float> values;
    LatticeNoise(uint32_t w, uint32_t h, uint32_t cellSize, std::mt19937& random)
        : cell(cellSize), columns(w / cellSize + 2) {
        values.resize(size_t{columns} * (h / cellSize + 2));
        std::uniform_real_distribution<float> d(-1, 1);
        for (float& v : values) v = d(random);
    }
    float at(uint32_t x, uint32_t y) const {
        const uint32_t cx = x / cell, cy = y / cell;
        const float fx = float(x % cell) / float(cell), fy = float(y % cell) / float(cell);
        const float* r0 = &values[size_t{cy} * columns + cx];
        const float* r1 = r0 + columns;
        const float top = r0[0] + (r0[1] - r0[0]) * fx, bottom = r1[0] + (r1[1] - r1[0]) * fx;
        return top + (bottom - top) * fy;
    }
};

// A photograph-like Uyvy picture: shading, objects with edges, texture whose amplitude falls
// with its scale (as in natural images), and noise of about 3.5 levels.
std::vector<uint8_t> photoFrame(uint32_t w, uint32_t h) {
    std::mt19937 random(2024);
    std::vector<LatticeNoise> octaves;
    for (uint32_t cell : {128u, 64u, 32u, 16u, 8u, 4u, 2u})
        octaves.emplace_back(w, h, cell, random);
    LatticeNoise tint(w, h, 96, random), tint2(w, h, 48, random);
    std::normal_distribution<float> grain(0, 3.5f);
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            float texture = 0, amplitude = 30;
            for (const LatticeNoise& n : octaves) {
                texture += amplitude * n.at(x, y);
                amplitude *= 0.9f;
            }
            const float fx = float(x) / float(w), fy = float(y) / float(h);
            float base = 70 + 110 * fy;
            // A few objects with hard edges: a bright window, a dark post, a round shape.
            if (fx > 0.55f && fx < 0.8f && fy > 0.15f && fy < 0.45f) base += 60;
            if (fx > 0.3f && fx < 0.34f) base -= 50;
            const float dx = fx - 0.25f, dy = fy - 0.7f;
            if (dx * dx + dy * dy < 0.012f) base += 35;
            const float l = base + texture + grain(random);
            const float t = 30 * tint.at(x, y), u = 20 * tint2.at(x, y);
            uint8_t* p = &rgb[(size_t{y} * w + x) * 3];
            p[0] = clampByte(int(l + t + 10));
            p[1] = clampByte(int(l - 0.4f * t + u));
            p[2] = clampByte(int(l - t - u - 15));
        }
    }
    std::vector<uint8_t> uyvy(size_t{w} * h * 2);
    auto luma = [](const uint8_t* p) { return 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2]; };
    for (size_t i = 0; i < size_t{w} * h; i += 2) {
        const uint8_t* a = &rgb[i * 3];
        const uint8_t* b = a + 3;
        const float r = float(a[0] + b[0]) / 2, g = float(a[1] + b[1]) / 2,
                    bl = float(a[2] + b[2]) / 2;
        uyvy[i * 2] = clampByte(int(128 - 0.168736f * r - 0.331264f * g + 0.5f * bl + 0.5f));
        uyvy[i * 2 + 1] = clampByte(int(luma(a) + 0.5f));
        uyvy[i * 2 + 2] = clampByte(int(128 + 0.5f * r - 0.418688f * g - 0.081312f * bl + 0.5f));
        uyvy[i * 2 + 3] = clampByte(int(luma(b) + 0.5f));
    }
    return uyvy;
}

// The scene as Rgb565 (not timed).
std::vector<uint8_t> toRgb565(const std::vector<uint8_t>& uyvy, uint32_t w, uint32_t h) {
    std::vector<uint8_t> out(size_t{w} * h * 2);
    for (size_t i = 0; i < size_t{w} * h; ++i) {
        const uint8_t* pair = &uyvy[(i & ~size_t{1}) * 2];
        const int y = uyvy[i * 2 + 1], cb = pair[0] - 128, cr = pair[2] - 128;
        const int r = clampByte(y + (359 * cr >> 8)),
                  g = clampByte(y - ((88 * cb + 183 * cr) >> 8)),
                  b = clampByte(y + (454 * cb >> 8));
        const uint16_t word = uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        out[i * 2] = uint8_t(word);
        out[i * 2 + 1] = uint8_t(word >> 8);
    }
    return out;
}

// Packed Uyvy to planes for a TurboJPEG subsampling (the deinterleave of peer b).
void splitUyvy(const uint8_t* uyvy, uint32_t w, uint32_t h, int subsampling, uint8_t* yPlane,
               uint8_t* cbPlane, uint8_t* crPlane) {
    const size_t stride = size_t{w} * 2;
    for (uint32_t row = 0; row < h; ++row) {
        const uint8_t* s = uyvy + row * stride;
        uint8_t* y = yPlane + size_t{row} * w;
        for (uint32_t x = 0; x < w; ++x) y[x] = s[2 * x + 1];
        if (subsampling == TJSAMP_422) {
            uint8_t* cb = cbPlane + size_t{row} * (w / 2);
            uint8_t* cr = crPlane + size_t{row} * (w / 2);
            for (uint32_t p = 0; p < w / 2; ++p) {
                cb[p] = s[4 * p];
                cr[p] = s[4 * p + 2];
            }
        } else if (subsampling == TJSAMP_420 && row % 2 == 1) {
            const uint8_t* a = s - stride;
            uint8_t* cb = cbPlane + size_t{row / 2} * (w / 2);
            uint8_t* cr = crPlane + size_t{row / 2} * (w / 2);
            for (uint32_t p = 0; p < w / 2; ++p) {
                cb[p] = uint8_t((a[4 * p] + s[4 * p] + 1) >> 1);
                cr[p] = uint8_t((a[4 * p + 2] + s[4 * p + 2] + 1) >> 1);
            }
        }
    }
}

// Rgb565 widened to RGB bytes (the conversion of peer b for RGB frames).
void widenRgb565(const uint8_t* src, size_t pixels, uint8_t* rgb) {
    for (size_t i = 0; i < pixels; ++i) {
        const uint32_t w = src[2 * i] | (src[2 * i + 1] << 8);
        rgb[3 * i] = uint8_t((w >> 11) << 3);
        rgb[3 * i + 1] = uint8_t(((w >> 5) & 63) << 2);
        rgb[3 * i + 2] = uint8_t((w & 31) << 3);
    }
}

struct Case {
    const char* name;
    SourcePixelFormat layout;
    uint32_t format;
    int subsampling;
    uint32_t quality;
};

// Processor time of this thread, in seconds: other processes on a busy machine do not count.
double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Seconds per call: the best of several rounds of `calls` calls.
struct Timer {
    std::function<void()> call;
    double best = 1e9;
    void round(int calls) {
        const double start = threadSeconds();
        for (int i = 0; i < calls; ++i) call();
        best = std::min(best, (threadSeconds() - start) / calls);
    }
};

volatile uint32_t gSink;  // keeps results alive

}  // namespace

int main() {
    // One core: stay on the processor we started on.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof set, &set);

    std::printf("lumo-bench-jpeg: built-in encoder (%s kernels) vs libjpeg-turbo %s, one core\n",
                simd::levelName(simd::level()), "TurboJPEG");
    std::printf(
        "(a) tjCompressFromYUVPlanes, TJFLAG_FASTDCT, planes ready; "
        "(b) the same from the packed frame, conversion counted\n\n");

    const Case cases[] = {
        {"Uyvy 4:2:2 q85", Uyvy, 2, TJSAMP_422, 85},
        {"Uyvy 4:2:0 q75", Uyvy, 1, TJSAMP_420, 75},
        {"grey q85", Uyvy, 4, TJSAMP_GRAY, 85},
        {"Rgb565 4:2:0 q75", Rgb565, 1, TJSAMP_420, 75},
    };
    const uint32_t sizes[][2] = {{640, 480}, {1280, 960}};
    std::unique_ptr<JpegEncoder, void (*)(JpegEncoder*)> encoder(createJpegEncoder(),
                                                                 freeJpegEncoder);
    tjhandle tj = tjInitCompress();

    for (int picture = 0; picture < 2; ++picture) {
        std::printf("%s\n", picture == 0 ? "photograph-like picture" : "camera scene (test chart)");
        std::printf("%-20s %-10s %6s %9s %9s %9s %8s %8s\n", "case", "size", "bits/px", "ours",
                    "(a)", "(b)", "ours/(a)", "ours/(b)");
        for (const auto& size : sizes) {
            const uint32_t w = size[0], h = size[1];
            const std::vector<uint8_t> uyvy = picture == 0 ? photoFrame(w, h) : cameraFrame(w, h);
            const std::vector<uint8_t> rgb565 = toRgb565(uyvy, w, h);
            const double megapixels = double(w) * h / 1e6;
            for (const Case& c : cases) {
                const std::vector<uint8_t>& frame = c.layout == Uyvy ? uyvy : rgb565;
                configureJpegEncoder(*encoder, w, h, c.quality, c.format, 1, 1, 0);
                std::vector<uint8_t> ours(frame.size() * 2 + 65536);
                const unsigned long bound = tjBufSize(int(w), int(h), c.subsampling);
                std::vector<uint8_t> theirs(bound);

                // Planes for (a), made once from the frame itself (Rgb565 through its Uyvy twin).
                std::vector<uint8_t> planes(size_t{w} * h * 3);
                uint8_t* yPlane = planes.data();
                uint8_t* cbPlane = yPlane + size_t{w} * h;
                uint8_t* crPlane = cbPlane + size_t{w} * h;
                splitUyvy(uyvy.data(), w, h, c.subsampling, yPlane, cbPlane, crPlane);
                const unsigned char* planePointers[3] = {yPlane, cbPlane, crPlane};
                std::vector<uint8_t> scratch(size_t{w} * h * 3);

                auto compressPlanes = [&](const unsigned char** p) {
                    unsigned char* out = theirs.data();
                    unsigned long length = bound;
                    tjCompressFromYUVPlanes(tj, p, int(w), nullptr, int(h), c.subsampling, &out,
                                            &length, int(c.quality),
                                            TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
                    gSink = uint32_t(length);
                };
                Timer mine{[&] {
                    gSink =
                        encodeImage(*encoder, ours.data(), frame.data(), 1, c.layout, ours.size());
                }};
                Timer peerA{[&] { compressPlanes(planePointers); }};
                Timer peerB{[&] {
                    if (c.layout == Uyvy) {
                        uint8_t* y = scratch.data();
                        uint8_t* cb = y + size_t{w} * h;
                        uint8_t* cr = cb + size_t{w} * h;
                        splitUyvy(frame.data(), w, h, c.subsampling, y, cb, cr);
                        const unsigned char* p[3] = {y, cb, cr};
                        compressPlanes(p);
                    } else {
                        widenRgb565(frame.data(), size_t{w} * h, scratch.data());
                        unsigned char* out = theirs.data();
                        unsigned long length = bound;
                        tjCompress2(tj, scratch.data(), int(w), 0, int(h), TJPF_RGB, &out, &length,
                                    c.subsampling, int(c.quality),
                                    TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
                        gSink = uint32_t(length);
                    }
                }};
                const int calls = w >= 1280 ? 6 : 20;
                for (int round = 0; round < 15; ++round) {
                    mine.round(calls);
                    peerA.round(calls);
                    peerB.round(calls);
                }
                const double oursRate = megapixels / mine.best, aRate = megapixels / peerA.best,
                             bRate = megapixels / peerB.best;
                mine.call();  // its size, for the bits per pixel
                const double bits = 8.0 * gSink / (double(w) * h);
                char dims[16];
                std::snprintf(dims, sizeof dims, "%ux%u", w, h);
                std::printf("%-20s %-10s %6.2f %9.1f %9.1f %9.1f %8.2f %8.2f\n", c.name, dims, bits,
                            oursRate, aRate, bRate, oursRate / aRate, oursRate / bRate);
            }
        }
        std::printf("\n");
    }
    std::printf("figures in megapixels per second; targets: ours/(a) >= 0.8, ours/(b) >= 1.0\n");
    tjDestroy(tj);
    return 0;
}
