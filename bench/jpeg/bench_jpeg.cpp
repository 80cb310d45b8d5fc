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
#include <emmintrin.h>
#include <sched.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>
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

// Packed Uyvy to planes for a TurboJPEG subsampling (the deinterleave of peer b), written as a
// careful user would: SSE2, 32 pixels a step (even and odd bytes split with masks and shifts,
// 4:2:0 chroma averaged over row pairs with pavgb, which rounds half up like the scalar tail).
void splitUyvy(const uint8_t* uyvy, uint32_t w, uint32_t h, int subsampling, uint8_t* yPlane,
               uint8_t* cbPlane, uint8_t* crPlane) {
    const size_t stride = size_t{w} * 2;
    const __m128i lowBytes = _mm_set1_epi16(0x00ff);
    auto load = [](const uint8_t* p, int i) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p) + i);
    };
    auto store = [](uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
    // Cb and Cr of 16 pixel pairs' chroma bytes (Cb Cr Cb Cr ... as 16-bit lanes' low bytes).
    auto storeChroma = [&](__m128i c0, __m128i c1, uint8_t* cb, uint8_t* cr) {
        const __m128i both = _mm_packus_epi16(_mm_and_si128(c0, lowBytes),
                                              _mm_and_si128(c1, lowBytes));  // Cb Cr Cb Cr ...
        const __m128i b = _mm_and_si128(both, lowBytes), r = _mm_srli_epi16(both, 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), _mm_packus_epi16(b, b));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_packus_epi16(r, r));
    };
    const uint32_t vectorW = w & ~31u;
    for (uint32_t row = 0; row < h; ++row) {
        const uint8_t* s = uyvy + row * stride;
        uint8_t* y = yPlane + size_t{row} * w;
        for (uint32_t x = 0; x < vectorW; x += 32) {
            const __m128i v0 = load(s + 2 * x, 0), v1 = load(s + 2 * x, 1);
            const __m128i v2 = load(s + 2 * x, 2), v3 = load(s + 2 * x, 3);
            store(y + x, _mm_packus_epi16(_mm_srli_epi16(v0, 8), _mm_srli_epi16(v1, 8)));
            store(y + x + 16, _mm_packus_epi16(_mm_srli_epi16(v2, 8), _mm_srli_epi16(v3, 8)));
        }
        for (uint32_t x = vectorW; x < w; ++x) y[x] = s[2 * x + 1];
        if (subsampling == TJSAMP_422) {
            uint8_t* cb = cbPlane + size_t{row} * (w / 2);
            uint8_t* cr = crPlane + size_t{row} * (w / 2);
            for (uint32_t x = 0; x < vectorW; x += 32) {
                storeChroma(load(s + 2 * x, 0), load(s + 2 * x, 1), cb + x / 2, cr + x / 2);
                storeChroma(load(s + 2 * x, 2), load(s + 2 * x, 3), cb + x / 2 + 8, cr + x / 2 + 8);
            }
            for (uint32_t p = vectorW / 2; p < w / 2; ++p) {
                cb[p] = s[4 * p];
                cr[p] = s[4 * p + 2];
            }
        } else if (subsampling == TJSAMP_420 && row % 2 == 1) {
            const uint8_t* a = s - stride;
            uint8_t* cb = cbPlane + size_t{row / 2} * (w / 2);
            uint8_t* cr = crPlane + size_t{row / 2} * (w / 2);
            for (uint32_t x = 0; x < vectorW; x += 32) {
                __m128i m[4];
                for (int i = 0; i < 4; ++i)
                    m[i] = _mm_avg_epu8(load(a + 2 * x, i), load(s + 2 * x, i));
                storeChroma(m[0], m[1], cb + x / 2, cr + x / 2);
                storeChroma(m[2], m[3], cb + x / 2 + 8, cr + x / 2 + 8);
            }
            for (uint32_t p = vectorW / 2; p < w / 2; ++p) {
                cb[p] = uint8_t((a[4 * p] + s[4 * p] + 1) >> 1);
                cr[p] = uint8_t((a[4 * p + 2] + s[4 * p + 2] + 1) >> 1);
            }
        }
    }
}

// Rgb565 widened to RGBX bytes (the conversion of peer b for RGB frames; TurboJPEG takes RGBX as
// fast as RGB), SSE2, 8 pixels a step.
void widenRgb565(const uint8_t* src, size_t pixels, uint8_t* rgbx) {
    const __m128i red = _mm_set1_epi16(static_cast<short>(0xf800));
    const __m128i green = _mm_set1_epi16(0x07e0), blueMask = _mm_set1_epi16(0x001f);
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xff));
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i r = _mm_srli_epi16(_mm_and_si128(w, red), 8);       // (w >> 11) << 3
        const __m128i g = _mm_srli_epi16(_mm_and_si128(w, green), 3);     // ((w >> 5) & 63) << 2
        const __m128i b = _mm_slli_epi16(_mm_and_si128(w, blueMask), 3);  // (w & 31) << 3
        const __m128i r8 = _mm_packus_epi16(r, r), g8 = _mm_packus_epi16(g, g);
        const __m128i b8 = _mm_packus_epi16(b, b);
        const __m128i rg = _mm_unpacklo_epi8(r8, g8), bx = _mm_unpacklo_epi8(b8, opaque);
        __m128i* out = reinterpret_cast<__m128i*>(rgbx + 4 * i);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(rg, bx));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(rg, bx));
    }
    for (; i < pixels; ++i) {
        const uint32_t w = src[2 * i] | (src[2 * i + 1] << 8);
        rgbx[4 * i] = uint8_t((w >> 11) << 3);
        rgbx[4 * i + 1] = uint8_t(((w >> 5) & 63) << 2);
        rgbx[4 * i + 2] = uint8_t((w & 31) << 3);
        rgbx[4 * i + 3] = 0xff;
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

// One picture and case, with ours and the two peers ready to run. Each run leaves its stream in
// its own buffer and its length in the matching field.
struct Bench {
    uint32_t w, h;
    Case c;
    std::vector<uint8_t> frame, uyvy, ours, theirs, planes, scratch;
    unsigned long bound = 0;
    size_t oursBytes = 0, theirBytes = 0;
    JpegEncoder* encoder;
    tjhandle tj;

    Bench(int picture, const Case& cs, uint32_t width, uint32_t height, JpegEncoder* e, tjhandle t)
        : w(width), h(height), c(cs), encoder(e), tj(t) {
        uyvy = picture == 0 ? photoFrame(w, h) : cameraFrame(w, h);
        frame = c.layout == Uyvy ? uyvy : toRgb565(uyvy, w, h);
        ours.resize(frame.size() * 2 + 65536);
        bound = tjBufSize(int(w), int(h), c.subsampling);
        theirs.resize(bound);
        // Planes for (a), made once from the frame itself (Rgb565 through its Uyvy twin).
        planes.resize(size_t{w} * h * 3);
        splitUyvy(uyvy.data(), w, h, c.subsampling, planes.data(), planes.data() + size_t{w} * h,
                  planes.data() + size_t{w} * h * 2);
        scratch.resize(size_t{w} * h * 4);
    }
    void runOurs() {
        configureJpegEncoder(*encoder, w, h, c.quality, c.format, 1, 1, 0);
        oursBytes = encodeImage(*encoder, ours.data(), frame.data(), 1, c.layout, ours.size());
    }
    void compressPlanes(uint8_t* y) {
        const unsigned char* p[3] = {y, y + size_t{w} * h, y + size_t{w} * h * 2};
        unsigned char* out = theirs.data();
        unsigned long length = bound;
        tjCompressFromYUVPlanes(tj, p, int(w), nullptr, int(h), c.subsampling, &out, &length,
                                int(c.quality), TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
        theirBytes = length;
    }
    void runPlanar() { compressPlanes(planes.data()); }
    void runPacked() {
        if (c.layout == Uyvy) {
            uint8_t* y = scratch.data();
            splitUyvy(frame.data(), w, h, c.subsampling, y, y + size_t{w} * h,
                      y + size_t{w} * h * 2);
            compressPlanes(y);
            return;
        }
        widenRgb565(frame.data(), size_t{w} * h, scratch.data());
        unsigned char* out = theirs.data();
        unsigned long length = bound;
        tjCompress2(tj, scratch.data(), int(w), 0, int(h), TJPF_RGBX, &out, &length, c.subsampling,
                    int(c.quality), TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
        theirBytes = length;
    }
};

// Whether a stream decodes (by TurboJPEG) to a picture of the expected size.
bool decodes(tjhandle decoder, const uint8_t* data, size_t bytes, uint32_t w, uint32_t h) {
    int width = 0, height = 0, sampling = 0, colours = 0;
    if (bytes == 0 ||
        tjDecompressHeader3(decoder, data, bytes, &width, &height, &sampling, &colours) != 0)
        return false;
    if (uint32_t(width) != w || uint32_t(height) != h) return false;
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    return tjDecompress2(decoder, data, bytes, rgb.data(), width, 0, height, TJPF_RGB, 0) == 0;
}

// The rows of the table: each is ours against one peer on one picture.
struct TableRow {
    const char* name;
    int picture;  // 0 photo-like, 1 camera scene
    Case c;
    bool packedPeer;  // peer (b) instead of (a)
};
const TableRow kTable[] = {
    {"JPEG 640x480 4:2:2 q85 photo, planar", 0, {"", Uyvy, 2, TJSAMP_422, 85}, false},
    {"JPEG 640x480 4:2:0 q75 photo, planar", 0, {"", Uyvy, 1, TJSAMP_420, 75}, false},
    {"JPEG 640x480 grey q75 photo, planar", 0, {"", Uyvy, 4, TJSAMP_GRAY, 75}, false},
    {"JPEG 640x480 4:2:2 q85 photo, packed UYVY", 0, {"", Uyvy, 2, TJSAMP_422, 85}, true},
    {"JPEG 640x480 4:2:2 q85 scene, planar", 1, {"", Uyvy, 2, TJSAMP_422, 85}, false},
    {"JPEG 640x480 4:2:2 q85 scene, packed UYVY", 1, {"", Uyvy, 2, TJSAMP_422, 85}, true},
    {"JPEG 640x480 4:2:0 q75 photo, packed Rgb565", 0, {"", Rgb565, 1, TJSAMP_420, 75}, true},
};
constexpr int kTableRows = sizeof kTable / sizeof kTable[0];

// The frames callgrind counts (--toggle-collect=benchFrames): nothing else is measured.
__attribute__((noinline)) void benchFrames(Bench& b, bool ours, bool packed, int frames) {
    for (int i = 0; i < frames; ++i) {
        if (ours)
            b.runOurs();
        else if (packed)
            b.runPacked();
        else
            b.runPlanar();
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: lumo-bench-jpeg [--table | --row N --side ours|peer --frames F]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // One core: stay on the processor we started on.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof set, &set);

    bool table = false;
    int row = -1, frames = 1;
    const char* side = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--table") {
            table = true;
        } else if (a == "--row" && i + 1 < argc) {
            row = std::atoi(argv[++i]);
        } else if (a == "--side" && i + 1 < argc) {
            side = argv[++i];
        } else if (a == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "lumo-bench-jpeg: unknown argument '%s'\n", argv[i]);
            return usage();
        }
    }
    std::unique_ptr<JpegEncoder, void (*)(JpegEncoder*)> encoder(createJpegEncoder(),
                                                                 freeJpegEncoder);
    tjhandle tj = tjInitCompress();
    tjhandle decoder = tjInitDecompress();
    std::unique_ptr<void, int (*)(void*)> closeTj(tj, tjDestroy), closeDecoder(decoder, tjDestroy);

    if (row >= 0) {  // one contender of one row, for callgrind
        if (row >= kTableRows || !side || (std::strcmp(side, "ours") && std::strcmp(side, "peer")))
            return usage();
        const TableRow& r = kTable[row];
        Bench b(r.picture, r.c, 640, 480, encoder.get(), tj);
        const bool ours = std::strcmp(side, "ours") == 0;
        // First-use set-up outside the count.
        if (ours)
            b.runOurs();
        else if (r.packedPeer)
            b.runPacked();
        else
            b.runPlanar();
        benchFrames(b, ours, r.packedPeer, frames);
        const size_t bytes = ours ? b.oursBytes : b.theirBytes;
        if (!decodes(decoder, ours ? b.ours.data() : b.theirs.data(), bytes, 640, 480)) {
            std::fprintf(stderr, "lumo-bench-jpeg: row %d %s: the stream does not decode\n", row,
                         side);
            return 1;
        }
        std::printf("bytes %zu\n", bytes);
        return 0;
    }

    if (table) {  // name|peer|our seconds|peer seconds|our bytes|peer bytes, one line a row
        for (const TableRow& r : kTable) {
            Bench b(r.picture, r.c, 640, 480, encoder.get(), tj);
            Timer mine{[&] { b.runOurs(); }};
            Timer peer{[&] { r.packedPeer ? b.runPacked() : b.runPlanar(); }};
            for (int round = 0; round < 15; ++round) {
                mine.round(20);
                peer.round(20);
            }
            if (!decodes(decoder, b.ours.data(), b.oursBytes, 640, 480) ||
                !decodes(decoder, b.theirs.data(), b.theirBytes, 640, 480)) {
                std::fprintf(stderr, "lumo-bench-jpeg: %s: a stream does not decode\n", r.name);
                return 1;
            }
            std::printf("%s|%s|%.9f|%.9f|%zu|%zu\n", r.name,
                        r.packedPeer ? (r.c.layout == Uyvy ? "TurboJPEG, SSE2 split"
                                                           : "TurboJPEG, SSE2 widen")
                                     : "TurboJPEG, planes ready",
                        mine.best, peer.best, b.oursBytes, b.theirBytes);
        }
        return 0;
    }

    std::printf("lumo-bench-jpeg: built-in encoder (%s kernels) vs libjpeg-turbo %s, one core\n",
                simd::levelName(simd::level()), "TurboJPEG");
    std::printf(
        "(a) tjCompressFromYUVPlanes, TJFLAG_FASTDCT, planes ready; "
        "(b) the same from the packed frame split (or widened) with SSE2, conversion counted\n\n");

    const Case cases[] = {
        {"Uyvy 4:2:2 q85", Uyvy, 2, TJSAMP_422, 85},
        {"Uyvy 4:2:0 q75", Uyvy, 1, TJSAMP_420, 75},
        {"grey q75", Uyvy, 4, TJSAMP_GRAY, 75},
        {"Rgb565 4:2:0 q75", Rgb565, 1, TJSAMP_420, 75},
    };
    const uint32_t sizes[][2] = {{640, 480}, {1280, 960}};
    for (int picture = 0; picture < 2; ++picture) {
        std::printf("%s\n", picture == 0 ? "photograph-like picture" : "camera scene (test chart)");
        std::printf("%-20s %-10s %7s %7s %8s %8s %8s %8s %8s\n", "case", "size", "ours B", "(a) B",
                    "ours", "(a)", "(b)", "ours/(a)", "ours/(b)");
        for (const auto& size : sizes) {
            const uint32_t w = size[0], h = size[1];
            const double megapixels = double(w) * h / 1e6;
            for (const Case& c : cases) {
                Bench b(picture, c, w, h, encoder.get(), tj);
                Timer mine{[&] { b.runOurs(); }};
                Timer peerA{[&] { b.runPlanar(); }};
                Timer peerB{[&] { b.runPacked(); }};
                const int calls = w >= 1280 ? 6 : 20;
                for (int round = 0; round < 15; ++round) {
                    mine.round(calls);
                    peerA.round(calls);
                    peerB.round(calls);
                }
                const size_t peerBytes = b.theirBytes;
                b.runPlanar();
                if (!decodes(decoder, b.ours.data(), b.oursBytes, w, h) ||
                    !decodes(decoder, b.theirs.data(), b.theirBytes, w, h) || peerBytes == 0) {
                    std::fprintf(stderr, "lumo-bench-jpeg: %s: a stream does not decode\n", c.name);
                    return 1;
                }
                const double oursRate = megapixels / mine.best, aRate = megapixels / peerA.best,
                             bRate = megapixels / peerB.best;
                char dims[16];
                std::snprintf(dims, sizeof dims, "%ux%u", w, h);
                std::printf("%-20s %-10s %7zu %7zu %8.1f %8.1f %8.1f %8.2f %8.2f\n", c.name, dims,
                            b.oursBytes, b.theirBytes, oursRate, aRate, bRate, oursRate / aRate,
                            oursRate / bRate);
            }
        }
        std::printf("\n");
    }
    std::printf("figures in megapixels per second, stream sizes in bytes\n");
    return 0;
}
