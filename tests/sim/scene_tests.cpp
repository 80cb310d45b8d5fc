// The simulated camera's test scene: marker exactly in its window, a disk that moves steadily,
// looks that change the picture (deterministically), and no allocation while rendering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/allocation_counter.h"
#include "sim/scene/scene_generator.h"

namespace {

struct Frame {
    SceneGenerator scene;
    std::vector<uint8_t> pixels;
    explicit Frame(uint32_t w = 320, uint32_t h = 240) {
        EXPECT_TRUE(sceneInit(scene, w, h));
        pixels.assign(size_t{scene.width} * scene.height * 2, 0);
    }
    void render(uint32_t frameNumber, uint32_t tick, const SceneLook& look = {}) {
        sceneRender(scene, pixels.data(), frameNumber, tick, look);
    }
    uint8_t luma(uint32_t x, uint32_t y) const {
        return pixels[(size_t{y} * scene.width + x) * 2 + 1];
    }
    uint8_t cb(uint32_t x, uint32_t y) const {
        return pixels[(size_t{y} * scene.width + x / 2 * 2) * 2];
    }
    uint8_t cr(uint32_t x, uint32_t y) const {
        return pixels[(size_t{y} * scene.width + x / 2 * 2) * 2 + 2];
    }
    bool markerShown() const {
        const uint32_t m = scene.layout.markerSize;
        for (uint32_t y = 0; y < m; ++y)
            for (uint32_t x = scene.width - m; x < scene.width; ++x)
                if (luma(x, y) != 235) return false;
        return true;
    }
    // Mean column of the orange disk on the middle row of the detail band.
    double diskColumn() const {
        const uint32_t y = scene.layout.detailTop + scene.layout.detailHeight / 2;
        double sum = 0;
        int count = 0;
        for (uint32_t x = 0; x < scene.width; ++x)
            if (cr(x, y) > 180 && cb(x, y) < 100) sum += x, ++count;
        return count ? sum / count : -1;
    }
};

constexpr uint32_t kNoMarker = 500;  // a tick outside the marker window

}  // namespace

TEST(Scene, InitRejectsZeroSizesAndRoundsTheWidthDown) {
    SceneGenerator scene;
    EXPECT_FALSE(sceneInit(scene, 0, 10));
    EXPECT_FALSE(sceneInit(scene, 1, 10));
    EXPECT_FALSE(sceneInit(scene, 10, 0));
    ASSERT_TRUE(sceneInit(scene, 37, 23));
    EXPECT_EQ(scene.width, 36u);
    std::vector<uint8_t> pixels(36 * 23 * 2);
    sceneRender(scene, pixels.data(), 123456, 1000, SceneLook{});     // small sizes clip everything
    sceneRender(SceneGenerator{}, pixels.data(), 1, 1, SceneLook{});  // uninitialised: nothing
}

TEST(Scene, MarkerShowsExactlyInItsWindow) {
    Frame f;
    for (uint32_t tick : {0u, 99u, 1000u, 1099u, 5050u, 0xFFFFFFF0u - 0xFFFFFFF0u % 1000}) {
        f.render(1, tick);
        EXPECT_TRUE(f.markerShown()) << "tick " << tick;
    }
    for (uint32_t tick : {100u, 500u, 999u, 1100u, 1999u}) {
        f.render(1, tick);
        EXPECT_FALSE(f.markerShown()) << "tick " << tick;
    }
}

TEST(Scene, DiskMovesSteadilyAndComesBack) {
    Frame f;
    constexpr uint32_t kStart = 150;
    double at[5];
    for (int i = 0; i < 5; ++i) {
        f.render(0, kStart + 400 * static_cast<uint32_t>(i));  // all on the way across
        at[i] = f.diskColumn();
        ASSERT_GE(at[i], 0) << "disk not found at step " << i;
    }
    for (int i = 1; i < 4; ++i) EXPECT_NEAR(at[i + 1] - at[i], at[1] - at[0], 2.0);
    EXPECT_GT(at[1], at[0]);
    f.render(0, kStart + kSceneDiskPeriodMs);
    EXPECT_NEAR(f.diskColumn(), at[0], 0.5) << "back after a period";
}

TEST(Scene, LooksChangeThePicture) {
    Frame plain, looked;
    plain.render(9, kNoMarker);
    const uint32_t rows = plain.scene.layout.barsHeight;  // the bars: no moving part there
    const size_t barBytes = size_t{rows} * plain.scene.width * 2;

    SceneLook look;
    look.effect = SceneEffectGrayscale;
    looked.render(9, kNoMarker, look);
    for (size_t i = 0; i < looked.pixels.size(); i += 2) ASSERT_EQ(looked.pixels[i], 128) << i;

    look = {};
    look.effect = SceneEffectNegative;
    looked.render(9, kNoMarker, look);
    for (size_t i = 1; i < barBytes; i += 2)
        ASSERT_EQ(looked.pixels[i], 16 + 235 - plain.pixels[i]) << "luma byte " << i;

    look = {};
    look.hueDegrees = 180;  // chroma turned half round
    looked.render(9, kNoMarker, look);
    for (size_t i = 0; i < barBytes; i += 2) {
        const int expected = std::clamp(256 - plain.pixels[i], 16, 240);
        ASSERT_EQ(looked.pixels[i], expected) << "chroma byte " << i;
    }

    // Mean of one byte of each pair over the bars: 0 Cb, 1 luma, 2 Cr.
    auto meanOf = [&](const std::vector<uint8_t>& p, size_t first) {
        const size_t step = first == 1 ? 2 : 4;
        double sum = 0;
        for (size_t i = first; i < barBytes; i += step) sum += p[i];
        return sum / static_cast<double>(barBytes / step);
    };
    look = {};
    look.effect = SceneEffectSepia;  // one warm tint
    looked.render(9, kNoMarker, look);
    EXPECT_EQ(looked.cb(0, 0), looked.cb(plain.scene.width * 5 / 16, 0));
    EXPECT_GT(looked.cr(0, 0), 128);

    look = {};
    look.effect = SceneEffectCool;
    looked.render(9, kNoMarker, look);
    EXPECT_GT(meanOf(looked.pixels, 0), meanOf(plain.pixels, 0) + 5);

    look = {};
    look.night = true;
    looked.render(9, kNoMarker, look);
    EXPECT_GT(meanOf(looked.pixels, 1), meanOf(plain.pixels, 1));
    // Night noise changes from frame to frame, and depends only on the inputs; the counter shows
    // the frame number.
    Frame other;
    other.render(9, kNoMarker, look);
    EXPECT_EQ(other.pixels, looked.pixels);
    other.render(10, kNoMarker, look);
    EXPECT_NE(std::vector<uint8_t>(other.pixels.begin(), other.pixels.begin() + barBytes),
              std::vector<uint8_t>(looked.pixels.begin(), looked.pixels.begin() + barBytes));
    other.render(10, kNoMarker);
    EXPECT_NE(other.pixels, plain.pixels);
}

TEST(Scene, RenderingDoesNotAllocate) {
    Frame f(640, 480);
    SceneLook look;
    look.night = true;
    look.hueDegrees = 33;
    const AllocationCount count;
    f.render(1, 1000);
    f.render(2, 1033, look);
    EXPECT_EQ(count.allocations(), 0);
}
