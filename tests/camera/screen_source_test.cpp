// The screen source: colour bars in the camera edition; in the screen-capture edition the
// display's frame buffer, or on PXA27x devices the topmost LCD plane; its pace from "Max FPS";
// its open/start/stop/close cycle.
#include <gtest/gtest.h>

#include <optional>

#include "app/app_state.h"
#include "camera/camera_test_support.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"
#include "settings/settings_table.h"

namespace {

using namespace camtest;

const CameraBackend& camera = kScreenSourceBackend;

constexpr uint8_t kBars[8][3] = {{128, 235, 128}, {16, 211, 146}, {166, 170, 16}, {54, 145, 34},
                                 {202, 106, 222}, {90, 81, 240},  {240, 41, 109}, {128, 16, 128}};

// Makes "Max FPS" give `periodMs` (its entry with that value) for the length of a test.
class FramePeriod {
  public:
    explicit FramePeriod(int32_t periodMs)
        : list_(setting(kSlotMaxFps)), saved_(list_.current.load()) {
        for (list_.current = 0; list_.current < list_.count; ++list_.current)
            if (valueOf(list_) == periodMs) return;
        ADD_FAILURE() << "\"Max FPS\" has no entry of " << periodMs << " ms";
    }
    ~FramePeriod() { list_.current = saved_; }

  private:
    ValueList& list_;
    int32_t saved_;
};

class ScreenSource : public ::testing::Test {
  protected:
    ~ScreenSource() override {
        camera.stop();
        camera.close();
        gApp.screenCaptureEdition = 0;
        LcdPlaneReader::destroy(gDeviceInfo.lcdPlanes);
        gDeviceInfo.lcdPlanes = nullptr;
    }
    void use(const DeviceProfile& profile, bool screenCapture) {
        device_.emplace(profile);
        sink().reset();
        gApp.screenCaptureEdition = screenCapture ? 1 : 0;
        detectDevice(gDeviceInfo);
    }
    // Opens and starts the whole crop of a sensor of that size.
    void startCrop(uint32_t width, uint32_t height) {
        ASSERT_EQ(camera.open(block_), 1u);
        CaptureParams p = params(width, height, 0, 0, width, height);
        ASSERT_EQ(camera.start(&p), 1u);
    }
    // Waits for a frame that begins after now, and gives it.
    Seen nextFrame() {
        const int frames = sink().frames;
        EXPECT_TRUE(waitUntil([&] { return sink().frames >= frames + 2; }));
        return sink().seen();
    }

    FramePeriod fast_{40};
    std::optional<TempDevice> device_;
    uint8_t block_[kOpenBlockBytes] = {};
};

// Every row eight bars of 20 pairs, black at the left to white at the right; an odd width leaves
// the last column out (black, 16 and 128).
TEST_F(ScreenSource, ColourBarsFromBlackToWhite) {
    use(*findBuiltinProfile("nocamera"), false);
    const uint32_t sizes[][2] = {{320, 240}, {33, 5}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(w);
        startCrop(w, h);
        const Seen seen = nextFrame();
        EXPECT_EQ(seen.bytes, w * h * 2);
        EXPECT_EQ(seen.format, Uyvy);
        EXPECT_EQ(seen.width, w);
        EXPECT_FALSE(seen.reservedNonZero);
        std::vector<uint8_t> expected;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t pair = 0; pair < w / 2; ++pair) {
                const uint8_t* c = kBars[7 - pair / (w / 16)];
                expected.insert(expected.end(), {c[0], c[1], c[2], c[1]});
            }
            if (w % 2) expected.insert(expected.end(), {128, 16});
        }
        EXPECT_EQ(seen.pixels, expected);
        camera.stop();
        camera.close();
    }
}

TEST_F(ScreenSource, CycleAndRefusals) {
    use(*findBuiltinProfile("nocamera"), false);
    expectTwoCleanCycles(camera, params(64, 48, 0, 0, 64, 48), 64u * 48 * 2);
    ASSERT_EQ(camera.open(block_), 1u);
    EXPECT_EQ(camera.open(block_), 0u) << "already open";
    CaptureParams none = params(64, 48, 0, 0, 64, 48, nullptr);
    EXPECT_EQ(camera.start(&none), 0u) << "no frame handler";
    CaptureParams tooLarge = params(1280, 960, 0, 0, 1280, 960);
    EXPECT_EQ(camera.start(&tooLarge), 0u) << "larger than the frame buffer";
    CaptureParams p = params(64, 48, 0, 0, 64, 48);
    ASSERT_EQ(camera.start(&p), 1u);
    EXPECT_EQ(camera.start(&p), 0u) << "already streaming";
}

// About one picture every 200 ms, counted over a generous interval; and a stop that does not
// wait out a long frame period (the pacing sleep looks for the stop).
TEST_F(ScreenSource, PaceFollowsMaxFps) {
    use(*findBuiltinProfile("nocamera"), false);
    for (int32_t periodMs : {200, 1000}) {
        FramePeriod period(periodMs);
        startCrop(32, 24);
        ASSERT_TRUE(waitUntil([] { return sink().frames >= 1; }));
        const int first = sink().frames;
        if (periodMs == 200) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            EXPECT_GE(sink().frames - first, 4);
            EXPECT_LE(sink().frames - first, 8);
        }
        const auto start = std::chrono::steady_clock::now();
        camera.stop();
        EXPECT_LT(millisSince(start), 900);
        camera.close();
        sink().reset();
    }
}

// A screen height of 220 is captured as 224: the rows beyond the display are black; and so is
// the whole picture when no frame buffer is known.
TEST_F(ScreenSource, CopiesTheFrameBufferAtTheCropSize) {
    DeviceProfile plain = *findBuiltinProfile("pm200");  // no PXA27x: no plane reader
    plain.displayWidth = 176;
    plain.displayHeight = 220;
    use(plain, true);
    ASSERT_EQ(gDeviceInfo.lcdPlanes, nullptr);
    uint8_t* display = device_->handheld().displayMemory();
    std::vector<uint8_t> expected(176 * 224 * 2, 0);
    for (size_t i = 0; i < 176 * 220 * 2; ++i) display[i] = expected[i] = uint8_t(i % 251);
    for (bool known : {true, false}) {
        if (!known) gDeviceInfo.display = DisplayDescription{};
        startCrop(176, 224);
        const Seen seen = nextFrame();
        EXPECT_EQ(seen.format, Rgb565);
        EXPECT_EQ(seen.height, 224u);
        EXPECT_EQ(seen.pixels, known ? expected : std::vector<uint8_t>(expected.size(), 0));
        camera.stop();
        camera.close();
    }
}

// An overlay switched on, then off between two pictures: the next picture comes from the plane
// below; the byte count stays the crop's.
TEST_F(ScreenSource, TakesTheTopmostPlaneThatIsOn) {
    use(*findBuiltinProfile("nocamera"), true);
    ASSERT_NE(gDeviceInfo.lcdPlanes, nullptr);
    startCrop(240, 320);
    EXPECT_EQ(nextFrame().format, Rgb565) << "the base plane";
    ASSERT_EQ(device_->handheld().command({"overlay2", "yuv420", "176x144", "at", "10", "20"}), "");
    const Seen overlay = nextFrame();
    EXPECT_EQ(overlay.format, Uyvy);
    EXPECT_EQ(overlay.width, 176u);
    EXPECT_EQ(overlay.height, 144u);
    EXPECT_EQ(overlay.bytes, 240u * 320 * 2);
    ASSERT_EQ(device_->handheld().command({"overlay2", "off"}), "");
    const Seen base = nextFrame();
    EXPECT_EQ(base.format, Rgb565);
    EXPECT_EQ(base.width, 240u);
}

}  // namespace
