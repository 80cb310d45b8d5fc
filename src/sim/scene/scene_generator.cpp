// The simulated camera's test scene.
//
// sceneInit draws the static part once, in RGB, and stores it as packed 4:2:2 with studio-level
// BT.601 (Q8 coefficients; each pair's chroma from the average of its two pixels). sceneRender
// copies it to the frame, through the look when the look is not neutral (a luma table and a 2 x 2
// chroma matrix in Q8, both built on the stack for the frame), then draws the moving parts:
// everything it needs lives in the frame, the generator and a few stack arrays, so it never
// allocates.
#include "sim/scene/scene_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLumaBlack = 16;  // studio levels
constexpr int kLumaWhite = 235;
constexpr int kChromaMin = 16;
constexpr int kChromaMax = 240;
constexpr int kDigits = 6;  // frame counter digits

struct Rgb {
    int r, g, b;
};

struct Ycc {
    uint8_t y, cb, cr;
};

constexpr int clampTo(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// Full-range RGB to studio-level BT.601, coefficients in Q8 (0.257, 0.504, 0.098 for luma, ...).
constexpr uint8_t lumaOf(const Rgb& c) {
    return static_cast<uint8_t>(kLumaBlack + ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8));
}
constexpr uint8_t cbOf(const Rgb& c) {
    return static_cast<uint8_t>(128 + ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8));
}
constexpr uint8_t crOf(const Rgb& c) {
    return static_cast<uint8_t>(128 + ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8));
}
constexpr Ycc yccOf(const Rgb& c) {
    return {lumaOf(c), cbOf(c), crOf(c)};
}

static_assert(lumaOf({255, 255, 255}) == kLumaWhite && cbOf({255, 255, 255}) == 128);
static_assert(lumaOf({0, 0, 0}) == kLumaBlack && crOf({0, 0, 0}) == 128);

constexpr Rgb kBars[8] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};
constexpr Rgb kDiskColour = {255, 128, 0};  // orange
constexpr Ycc kWhite = {kLumaWhite, 128, 128};
constexpr Ycc kBlack = {kLumaBlack, 128, 128};

// 3 x 5 digit glyphs, one row per 3 bits (bit 2 leftmost), top row first.
constexpr uint8_t kDigitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// ---- The static part ----

Rgb gray(int level) {
    return {level, level, level};
}

Rgb staticPixel(const SceneGenerator& scene, int x, int y) {
    const int w = static_cast<int>(scene.width);
    const SceneLayout& at = scene.layout;
    if (y < static_cast<int>(at.barsHeight)) return kBars[x * 8 / w];
    if (y < static_cast<int>(at.rampTop)) {
        const int band = y - static_cast<int>(at.detailTop);
        const int bandHeight = static_cast<int>(at.detailHeight);
        if (x < w / 2) {
            // Four patches of line pairs: vertical lines 1, 2 and 4 pixels wide, then horizontal
            // lines 1, 2 and 4 pixels high in three stripes.
            const int patch = x * 8 / w;
            const int local = x - patch * w / 8;
            bool white;
            if (patch < 3) {
                white = ((local >> patch) & 1) != 0;
            } else {
                const int stripe = std::min(2, band * 3 / std::max(1, bandHeight));
                white = ((band >> stripe) & 1) != 0;
            }
            return gray(white ? 255 : 0);
        }
        // Zone plate: rings whose frequency grows to 0.5 cycles per pixel at its rim.
        const int radius = std::max(1, std::min(w / 4, bandHeight / 2));
        const int dx = x - 3 * w / 4;
        const int dy = band - bandHeight / 2;
        const int r2 = dx * dx + dy * dy;
        if (r2 >= radius * radius) return gray(128);
        const double k = 3.14159265358979323846 / (2.0 * radius);
        return gray(128 + static_cast<int>(std::lround(110.0 * std::cos(k * r2))));
    }
    const int level = w > 1 ? x * 255 / (w - 1) : 0;
    return gray(level);
}

void renderBackground(SceneGenerator& scene) {
    uint8_t* out = scene.background.data();
    for (uint32_t y = 0; y < scene.height; ++y) {
        for (uint32_t x = 0; x < scene.width; x += 2, out += 4) {
            const Rgb a = staticPixel(scene, static_cast<int>(x), static_cast<int>(y));
            const Rgb b = staticPixel(scene, static_cast<int>(x) + 1, static_cast<int>(y));
            const Rgb mean = {(a.r + b.r + 1) / 2, (a.g + b.g + 1) / 2, (a.b + b.b + 1) / 2};
            out[0] = cbOf(mean);
            out[1] = lumaOf(a);
            out[2] = crOf(mean);
            out[3] = lumaOf(b);
        }
    }
}

// ---- The look ----

struct LookTables {
    bool neutral;
    uint8_t luma[256];
    // Cb' = cbBase + ((cbFromU U + cbFromV V) >> 8), Cr' likewise; U = Cb - 128, V = Cr - 128.
    int cbFromU, cbFromV, crFromU, crFromV;  // Q8
    int cbBase, crBase;
    bool night;
};

void prepareLook(const SceneLook& look, LookTables& t) {
    const uint32_t effect = look.effect;
    const bool negative = (effect & SceneEffectNegative) != 0;
    t.neutral = look.brightness == 0 && look.contrastQ8 == 256 && look.saturationQ8 == 256 &&
                look.hueDegrees % 360 == 0 && (effect & ~uint32_t{SceneEffectNormal}) == 0 &&
                !look.night;
    for (int y = 0; y < 256; ++y) {
        int v = (((y - 128) * look.contrastQ8) >> 8) + 128 + look.brightness;
        if (look.night) v += (v - kLumaBlack) / 4 + 12;  // the camera's night gain
        v = clampTo(v, kLumaBlack, kLumaWhite);
        if (negative) v = kLumaBlack + kLumaWhite - v;
        t.luma[y] = static_cast<uint8_t>(v);
    }
    const int saturation = look.night ? look.saturationQ8 / 2 : look.saturationQ8;
    const double angle = look.hueDegrees * 3.14159265358979323846 / 180.0;
    const int cosine = static_cast<int>(std::lround(saturation * std::cos(angle)));
    const int sine = static_cast<int>(std::lround(saturation * std::sin(angle)));
    t.cbFromU = cosine;
    t.cbFromV = -sine;
    t.crFromU = sine;
    t.crFromV = cosine;
    t.cbBase = 128;
    t.crBase = 128;
    if (effect & (SceneEffectGrayscale | SceneEffectSepia))
        t.cbFromU = t.cbFromV = t.crFromU = t.crFromV = 0;          // no colour of its own
    if (effect & SceneEffectSepia) t.cbBase = 108, t.crBase = 148;  // a warm brown tint
    if (effect & SceneEffectCool) t.cbBase += 16, t.crBase -= 12;   // bluer
    if (negative) {
        t.cbFromU = -t.cbFromU, t.cbFromV = -t.cbFromV;
        t.crFromU = -t.crFromU, t.crFromV = -t.crFromV;
        t.cbBase = 256 - t.cbBase, t.crBase = 256 - t.crBase;
    }
    t.night = look.night;
}

inline uint8_t lookCb(const LookTables& t, int cb, int cr) {
    return static_cast<uint8_t>(
        clampTo(t.cbBase + ((t.cbFromU * (cb - 128) + t.cbFromV * (cr - 128)) >> 8), kChromaMin,
                kChromaMax));
}
inline uint8_t lookCr(const LookTables& t, int cb, int cr) {
    return static_cast<uint8_t>(
        clampTo(t.crBase + ((t.crFromU * (cb - 128) + t.crFromV * (cr - 128)) >> 8), kChromaMin,
                kChromaMax));
}

Ycc applyLook(const LookTables& t, const Ycc& c) {
    return {t.luma[c.y], lookCb(t, c.cb, c.cr), lookCr(t, c.cb, c.cr)};
}

// The sensor noise of night mode: a fixed table of offsets in -kNoise .. kNoise, read from a
// different start each frame. Its length is prime, so the pattern does not line up with rows.
constexpr int kNoise = 6;
constexpr size_t kNoiseLength = 4093;

template <bool kNight>
void lookPairs(const uint8_t* in, uint8_t* out, size_t bytes, const LookTables& t,
               const int8_t* noise, size_t noiseStart) {
    // The background's chroma comes in long runs, so each pair reuses the last pair's result
    // while its (Cb, Cr) stays the same.
    int lastCb = -1, lastCr = -1;
    uint8_t cbOut = 0, crOut = 0;
    size_t n = noiseStart;
    for (size_t i = 0; i < bytes; i += 4) {
        const int cb = in[i], cr = in[i + 2];
        if (cb != lastCb || cr != lastCr) {
            lastCb = cb, lastCr = cr;
            cbOut = lookCb(t, cb, cr);
            crOut = lookCr(t, cb, cr);
        }
        out[i] = cbOut;
        out[i + 2] = crOut;
        if constexpr (kNight) {
            out[i + 1] =
                static_cast<uint8_t>(clampTo(t.luma[in[i + 1]] + noise[n], kLumaBlack, kLumaWhite));
            n = n + 1 == kNoiseLength ? 0 : n + 1;
            out[i + 3] =
                static_cast<uint8_t>(clampTo(t.luma[in[i + 3]] + noise[n], kLumaBlack, kLumaWhite));
            n = n + 1 == kNoiseLength ? 0 : n + 1;
        } else {
            out[i + 1] = t.luma[in[i + 1]];
            out[i + 3] = t.luma[in[i + 3]];
        }
    }
}

void copyThroughLook(const SceneGenerator& scene, const LookTables& t, uint8_t* out,
                     uint32_t frameNumber) {
    const uint8_t* in = scene.background.data();
    const size_t bytes = scene.background.size();
    if (t.neutral) {
        std::memcpy(out, in, bytes);
    } else if (t.night && scene.noise.size() == kNoiseLength) {
        const size_t start = (frameNumber * size_t{2654435761u}) % kNoiseLength;
        lookPairs<true>(in, out, bytes, t, scene.noise.data(), start);
    } else {
        lookPairs<false>(in, out, bytes, t, nullptr, 0);
    }
}

// ---- The moving parts ----

// Pixels x0 <= x < x1 of row y in colour c (clipped); chroma of every pair touched.
void fillSpan(const SceneGenerator& scene, uint8_t* frame, int y, int x0, int x1, const Ycc& c) {
    if (y < 0 || y >= static_cast<int>(scene.height)) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, static_cast<int>(scene.width));
    if (x0 >= x1) return;
    uint8_t* row = frame + static_cast<size_t>(y) * scene.width * 2;
    for (int x = x0; x < x1; ++x) row[2 * x + 1] = c.y;
    for (int pair = x0 / 2; pair <= (x1 - 1) / 2; ++pair) {
        row[4 * pair] = c.cb;
        row[4 * pair + 2] = c.cr;
    }
}

void fillRect(const SceneGenerator& scene, uint8_t* frame, int x, int y, int w, int h,
              const Ycc& c) {
    for (int r = y; r < y + h; ++r) fillSpan(scene, frame, r, x, x + w, c);
}

int isqrt(int v) {
    int r = static_cast<int>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return r;
}

void drawDisk(const SceneGenerator& scene, uint8_t* frame, uint32_t tickMs, const Ycc& colour) {
    const int radius = static_cast<int>(scene.layout.diskRadius);
    const int travel = std::max(0, static_cast<int>(scene.width) - 2 * radius);
    // A triangle wave: steady speed across and back.
    const uint32_t half = kSceneDiskPeriodMs / 2;
    const uint32_t phase = tickMs % kSceneDiskPeriodMs;
    const uint32_t along = phase < half ? phase : kSceneDiskPeriodMs - phase;
    const int cx = radius + static_cast<int>(int64_t{travel} * along / half);
    const int cy = static_cast<int>(scene.layout.detailTop + scene.layout.detailHeight / 2);
    for (int dy = -radius; dy <= radius; ++dy) {
        const int reach = isqrt(radius * radius - dy * dy);
        fillSpan(scene, frame, cy + dy, cx - reach, cx + reach + 1, colour);
    }
}

void drawCounter(const SceneGenerator& scene, uint8_t* frame, uint32_t frameNumber) {
    const int s = static_cast<int>(scene.layout.digitScale);
    const int boxW = (4 * kDigits + 1) * s;
    const int boxH = 7 * s;
    const int top = static_cast<int>(scene.height) - boxH;
    fillRect(scene, frame, 0, top, boxW, boxH, kBlack);
    uint32_t rest = frameNumber;
    for (int d = kDigits - 1; d >= 0; --d, rest /= 10) {
        const uint8_t* glyph = kDigitGlyphs[rest % 10];
        const int left = (1 + 4 * d) * s;
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph[row] & (4 >> col))
                    fillRect(scene, frame, left + col * s, top + (1 + row) * s, s, s, kWhite);
    }
}

}  // namespace

bool sceneInit(SceneGenerator& scene, uint32_t width, uint32_t height) {
    width &= ~1u;
    if (width == 0 || height == 0) return false;
    scene.width = width;
    scene.height = height;
    SceneLayout& at = scene.layout;
    at.barsHeight = height * 2 / 5;
    at.detailTop = at.barsHeight;
    at.detailHeight = height * 7 / 20;
    at.rampTop = at.detailTop + at.detailHeight;
    at.diskRadius = std::max(1u, std::min(at.detailHeight * 2 / 5, width / 8));
    at.digitScale = std::max(1u, height / 80);
    at.markerSize = std::max(2u, (height / 8) & ~1u);
    scene.background.assign(static_cast<size_t>(width) * height * 2, 0);
    renderBackground(scene);
    scene.noise.resize(kNoiseLength);
    uint32_t seed = 0x12345678u;
    for (int8_t& n : scene.noise) {  // xorshift32
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        n = static_cast<int8_t>(static_cast<int>(seed % (2 * kNoise + 1)) - kNoise);
    }
    return true;
}

bool sceneStill() {
    static const bool still = [] {
        const char* value = std::getenv("LUMO_STILL_SCENE");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return still;
}

void sceneRender(const SceneGenerator& scene, uint8_t* uyvy, uint32_t frameNumber, uint32_t tickMs,
                 const SceneLook& look) {
    if (sceneStill()) frameNumber = 0, tickMs = kSceneStillTickMs;
    if (!uyvy || scene.width == 0 ||
        scene.background.size() != size_t{scene.width} * scene.height * 2)
        return;
    LookTables tables;
    prepareLook(look, tables);
    copyThroughLook(scene, tables, uyvy, frameNumber);
    const Ycc disk = yccOf(kDiskColour);
    drawDisk(scene, uyvy, tickMs, tables.neutral ? disk : applyLook(tables, disk));
    drawCounter(scene, uyvy, frameNumber);
    if (sceneMarkerVisible(tickMs)) {
        const int size = static_cast<int>(scene.layout.markerSize);
        fillRect(scene, uyvy, static_cast<int>(scene.width) - size, 0, size, size, kWhite);
    }
}

void sceneApplyLook(const SceneGenerator& scene, uint8_t* uyvy, size_t bytes, uint32_t frameNumber,
                    const SceneLook& look) {
    if (!uyvy) return;
    if (sceneStill()) frameNumber = 0;
    LookTables tables;
    prepareLook(look, tables);
    if (tables.neutral) return;
    // lookPairs reads each pair before writing it, so it works in place.
    bytes &= ~size_t{3};
    if (tables.night && scene.noise.size() == kNoiseLength)
        lookPairs<true>(uyvy, uyvy, bytes, tables, scene.noise.data(),
                        (frameNumber * size_t{2654435761u}) % kNoiseLength);
    else
        lookPairs<false>(uyvy, uyvy, bytes, tables, nullptr, 0);
}
