// The screen source: colour bars in the camera edition; in the screen-capture edition the
// display's frame buffer, or on PXA27x devices the topmost LCD plane; its pace from "Max FPS";
// its open/start/stop/close cycle.
#include <gtest/gtest.h>

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
    explicit FramePeriod(int32_t periodMs) : list_(setting(kSlotMaxFps)) {
        saved_ = list_.current.load();
        for (int32_t i = 0; i < list_.count; ++i) {
            list_.current = i;
            if (valueOf(list_) == periodMs) return;
        }
        ADD_FAILURE() << "\"Max FPS\" has no entry of " << periodMs << " ms";
    }
    ~FramePeriod() { list_.current = saved_; }

  private:
    ValueList& list_;
    int32_t saved_;
};

class ScreenSource : public ::testing::Test {
  protected:
    ScreenSource(DeviceProfile profile, bool screenCapture) : device_(std::move(profile)) {
        sink().reset();
        gApp.screenCaptureEdition = screenCapture ? 1 : 0;
        detectDevice(gDeviceInfo);
    }
    ~ScreenSource() override {
        camera.stop();
        camera.close();
        gApp.screenCaptureEdition = 0;
        LcdPlaneReader::destroy(gDeviceInfo.lcdPlanes);
        gDeviceInfo.lcdPlanes = nullptr;
    }
    void command(const std::string& text) { deviceCommand(device_.handheld(), text); }
    // Starts the whole crop of a sensor of that size.
    void startCrop(uint32_t width, uint32_t height) {
        ASSERT_EQ(camera.open(block_), 1u);
        CaptureParams p = params(width, height, 0, 0, width, height);
        ASSERT_EQ(camera.start(&p), 1u);
    }
    // Waits for a frame that begins after now.
    void nextFrame() {
        const int seen = sink().frames;
        ASSERT_TRUE(waitUntil([&] { return sink().frames >= seen + 2; }));
    }

    TempDevice device_;
    uint8_t block_[kOpenBlockBytes] = {};
    FramePeriod fast_{40};
};

class ColourBars : public ScreenSource {
  protected:
    ColourBars() : ScreenSource(profileOf("nocamera"), false) {}
};

TEST_F(ColourBars, EightBarsFromBlackToWhite) {
    sink().keepCopy = true;
    startCrop(320, 240);
    nextFrame();
    EXPECT_EQ(sink().lastBytes, 153600u);
    EXPECT_EQ(sink().lastFormat, Uyvy);
    EXPECT_EQ(sink().lastWidth, 320u);
    EXPECT_EQ(sink().lastHeight, 240u);
    EXPECT_TRUE(sink().reservedWasZero);
    const auto frame = sink().lastCopy();
    ASSERT_EQ(frame.size(), 153600u);
    for (uint32_t y = 0; y < 240; ++y)
        for (uint32_t pair = 0; pair < 160; ++pair) {
            const uint8_t* c = kBars[7 - pair / 20];  // 20 pairs a bar, black at the left
            const uint8_t* p = &frame[(y * 160 + pair) * 4];
            ASSERT_TRUE(p[0] == c[0] && p[1] == c[1] && p[2] == c[2] && p[3] == c[1])
                << "row " << y << " pair " << pair;
        }
}

TEST_F(ColourBars, OddWidthLeavesTheLastColumnOut) {
    sink().keepCopy = true;
    startCrop(33, 5);
    nextFrame();
    const auto frame = sink().lastCopy();
    ASSERT_EQ(frame.size(), 33u * 5 * 2);
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t pair = 0; pair < 16; ++pair)
            EXPECT_EQ(frame[y * 66 + pair * 4 + 1], kBars[7 - pair / 2][1]) << y << "," << pair;
        EXPECT_EQ(frame[y * 66 + 64], 128);
        EXPECT_EQ(frame[y * 66 + 65], 16);
    }
}

TEST_F(ColourBars, CycleAndRefusals) {
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

TEST_F(ColourBars, PaceFollowsMaxFps) {
    FramePeriod period(200);
    startCrop(32, 24);
    ASSERT_TRUE(waitUntil([] { return sink().frames >= 1; }));
    const int first = sink().frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const int made = sink().frames - first;
    EXPECT_GE(made, 4) << "about one picture per 200 ms";
    EXPECT_LE(made, 8);
}

TEST_F(ColourBars, StopDoesNotWaitOutALongFramePeriod) {
    FramePeriod period(1000);
    startCrop(32, 24);
    ASSERT_TRUE(waitUntil([] { return sink().frames >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    camera.stop();
    EXPECT_LT(millisSince(start), 900) << "the pacing sleep looks for the stop";
}

DeviceProfile plainDisplay() {
    DeviceProfile p = profileOf("pm200");  // no PXA27x: no plane reader
    p.displayWidth = 176;
    p.displayHeight = 220;
    return p;
}

class ScreenCapture : public ScreenSource {
  protected:
    ScreenCapture() : ScreenSource(plainDisplay(), true) {}
};

TEST_F(ScreenCapture, CopiesTheFrameBufferAtTheCropSize) {
    ASSERT_EQ(gDeviceInfo.lcdPlanes, nullptr);
    uint8_t* display = device_.handheld().displayMemory();
    for (size_t i = 0; i < 176 * 220 * 2; ++i) display[i] = static_cast<uint8_t>(i % 251);
    sink().keepCopy = true;
    startCrop(176, 224);  // a screen height of 220 is captured as 224
    nextFrame();
    EXPECT_EQ(sink().lastFormat, Rgb565);
    EXPECT_EQ(sink().lastWidth, 176u);
    EXPECT_EQ(sink().lastHeight, 224u);
    const auto frame = sink().lastCopy();
    ASSERT_EQ(frame.size(), 176u * 224 * 2);
    EXPECT_TRUE(std::equal(display, display + 176 * 220 * 2, frame.begin()));
    EXPECT_TRUE(std::all_of(frame.begin() + 176 * 220 * 2, frame.end(), [](uint8_t b) {
        return b == 0;
    })) << "the rows beyond the display are black";
}

TEST_F(ScreenCapture, NoFrameBufferKnownGivesABlackPicture) {
    gDeviceInfo.display = DisplayDescription{};
    sink().keepCopy = true;
    startCrop(176, 224);
    nextFrame();
    const auto frame = sink().lastCopy();
    ASSERT_EQ(frame.size(), 176u * 224 * 2);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0; }));
}

class PlaneCapture : public ScreenSource {
  protected:
    PlaneCapture() : ScreenSource(profileOf("nocamera"), true) {}
};

TEST_F(PlaneCapture, TakesTheTopmostPlaneThatIsOn) {
    ASSERT_NE(gDeviceInfo.lcdPlanes, nullptr);
    startCrop(240, 320);
    nextFrame();
    EXPECT_EQ(sink().lastFormat, Rgb565) << "the base plane";
    EXPECT_EQ(sink().lastWidth, 240u);
    command("overlay2 yuv420 176x144 at 10 20");
    nextFrame();
    EXPECT_EQ(sink().lastFormat, Uyvy);
    EXPECT_EQ(sink().lastWidth, 176u);
    EXPECT_EQ(sink().lastHeight, 144u);
    EXPECT_EQ(sink().lastBytes, 240u * 320 * 2) << "the byte count stays the crop's";
    command("overlay2 off");
    nextFrame();
    EXPECT_EQ(sink().lastFormat, Rgb565);
    EXPECT_EQ(sink().lastWidth, 240u);
}

}  // namespace
