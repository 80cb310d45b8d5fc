// The per-frame preview, driven frame by frame on the test thread: what reaches the screen
// picture and the display for each style, rotation and mode, what the frame consumer gets, the
// activity latch and the photo freeze, and the frame edits (pixel order, black border, capture
// window).
#include <algorithm>
#include <cstring>

#include "preview/kernel_test_support.h"
#include "preview/preview_geometry.h"
#include "preview_test_support.h"

namespace {

using namespace preview_test;
using kernel_test::Uyvy;

constexpr uint16_t kGray565 = 0x8410;  // Y = Cb = Cr = 128 through every path

// A packed 4:2:2 frame of one luma, neutral chroma.
Uyvy flat(int w, int h, uint8_t y) {
    Uyvy f(w, h);
    f.fill(y, 128, 128);
    return f;
}

void frame(Uyvy& f) {
    onFrame(f.data(), static_cast<uint32_t>(f.bytes.size()), nullptr);
}

bool displayIs(const std::vector<uint16_t>& display, uint16_t value) {
    return std::all_of(display.begin(), display.end(), [&](uint16_t p) { return p == value; });
}

// Each test starts on a 320 x 240 stream, with a gray frame of it at hand.
class PreviewLoop : public PreviewTest {
  protected:
    Uyvy gray = flat(320, 240, 128);

    void SetUp() override {
        PreviewTest::SetUp();
        streamCrop(320, 240);
    }
    bool displayShowsTheScreen() const {
        return std::memcmp(display.data(), gApp.screenImage.pixels, display.size() * 2) == 0;
    }
};

// The first frame after start-up: the picture centred with the bars cleared, the screen on the
// display, the frame with the consumer, and one activity change seen.
TEST_F(PreviewLoop, TheFirstFrameFillsTheCentredPictureAndSeesOneActivityChange) {
    seenActivity.store(About);                   // the start value
    choose(kSlotPhotoScreen, StyleKernelSmall);  // "Small": 160 rows by 120 columns at (64, 80)
    frame(gray);
    for (int y = 16; y < 304; ++y)  // the text rows at the top and the bottom aside
        for (int x = 0; x < 240; ++x) {
            const bool inside = y >= 80 && y < 240 && x >= 64 && x < 184;
            ASSERT_EQ(screenAt(x, y), inside ? kGray565 : 0) << x << "," << y;
        }
    EXPECT_TRUE(displayShowsTheScreen());
    EXPECT_EQ(gConsumed, 1);
    EXPECT_EQ(gConsumedPixels, gray.data());
    EXPECT_EQ(gFrame.framePixels, gray.data());
    EXPECT_EQ(activityChanged.load(), 1);
    EXPECT_EQ(seenActivity.load(), uint32_t{Idle});
    frame(gray);
    EXPECT_EQ(activityChanged.load(), 0);
}

// Every path turns the picture the way "Rotation" says: the camera's white top-left quarter ends
// up bottom-left with "None", top-left with "90L", top-right with "180", bottom-right with "90R".
TEST_F(PreviewLoop, EveryPathTurnsThePictureByTheRotation) {
    struct Case {
        int w, h;
        bool fast;
        uint32_t style;
    };
    const Case cases[] = {
        {320, 240, false, StyleFull},       // portable
        {320, 240, true, StyleKernelFull},  // general, turned while converting
        {640, 480, true, StyleKernelFull},  // integer factor ("None", "180"), general turned
                                            // while resizing ("90L", "90R")
        {320, 240, true, StyleKernelSmall},
    };
    const bool right[4] = {false, false, true, true}, bottom[4] = {true, false, false, true};
    for (const Case& c : cases)
        for (int32_t rotation = 0; rotation < 4; ++rotation) {
            SCOPED_TRACE(testing::Message()
                         << c.w << " style " << c.style << " rotation " << rotation);
            useScreen(240, 320, c.fast);
            streamCrop(c.w, c.h);
            choose(kSlotPhotoScreen, static_cast<int32_t>(c.style));
            choose(kSlotRotation, rotation);
            Uyvy f = flat(c.w, c.h, 16);
            for (int y = 0; y < c.h / 4; ++y)
                for (int x = 0; x < c.w / 4; ++x) f.luma(x, y) = 255;
            frame(f);
            // The pixel an eighth of the way in from each corner of the picture's rectangle:
            // white only in the corner the white quarter was turned to.
            const PreviewPlan plan = planPreview(c.style, rotation, c.w, c.h, 240, 320);
            const bool swapped = turnSwapsAxes(plan.turn);
            const int left = swapped ? plan.offY : plan.offX, top = swapped ? plan.offX : plan.offY;
            const int columns = swapped ? plan.extY : plan.extX;
            const int rows = swapped ? plan.extX : plan.extY;
            for (const bool r : {false, true})
                for (const bool b : {false, true})
                    EXPECT_EQ(screenAt(left + columns * (r ? 7 : 1) / 8,
                                       top + rows * (b ? 7 : 1) / 8) == 0xFFFF,
                              r == right[rotation] && b == bottom[rotation])
                        << r << b;
        }
}

// Without full screen nothing is drawn; "overlay only" draws the texts on black; "blank" clears
// the display after the consumer; the "Null" style draws texts only. The consumer runs for every
// frame.
TEST_F(PreviewLoop, ModesWithoutAPicture) {
    gApp.fullScreen.store(0);
    frameWorkMillis.store(1234);
    paintScreen();
    frame(gray);
    EXPECT_EQ(frameWorkMillis.load(), 1234u) << "keeps its last value";
    EXPECT_EQ(screenAt(120, 160), 0x7777);
    EXPECT_TRUE(displayIs(display, 0x5A5A));
    gApp.fullScreen.store(1);
    previewMode.store(OverlayOnly);
    frame(gray);
    EXPECT_EQ(screenAt(120, 160), 0);
    EXPECT_TRUE(displayShowsTheScreen());
    EXPECT_FALSE(displayIs(display, 0)) << "the overlay's texts are there";
    previewMode.store(Blank);
    paintScreen();
    frame(gray);
    EXPECT_EQ(gConsumed, 3);
    EXPECT_EQ(screenAt(120, 160), 0x7777) << "no picture and no overlay";
    EXPECT_TRUE(displayIs(display, 0));
    previewMode.store(Live);
    choose(kSlotPhotoScreen, StyleNull);
    frame(gray);
    EXPECT_EQ(screenAt(120, 160), 0) << "the \"Null\" style clears the picture";
}

// In photo mode the picture drawn in the frame where Active is first seen stays while the photo
// is taken and its choice is open; back in Idle the live picture returns.
TEST_F(PreviewLoop, ThePhotoFreezeKeepsThePictureOfTheFirstActiveFrame) {
    Uyvy dark = flat(320, 240, 60), light = flat(320, 240, 200), small = flat(160, 120, 200);
    frame(dark);
    const uint16_t darkPixel = screenAt(120, 160);
    gApp.activity.store(Active);
    frame(light);  // Active seen for the first time: this picture is kept
    const std::vector<uint16_t> kept = picture();
    const uint16_t keptPixel = screenAt(120, 160);
    frame(gray);
    EXPECT_EQ(picture(), kept);
    gApp.activity.store(Choosing);
    frame(dark);
    EXPECT_EQ(screenAt(120, 160), keptPixel);
    gApp.activity.store(Idle);
    frame(gray);
    EXPECT_EQ(screenAt(120, 160), kGray565);

    // The photo command blanks the preview before Active is set, and a frame of the stream being
    // stopped for the snapshot can still arrive: the picture kept is the first one drawn once
    // Active was seen, not the black one, nor the earlier photo's.
    gApp.activity.store(Active);
    previewMode.store(Blank);
    frame(light);  // Active seen on a blank frame: nothing drawn
    previewMode.store(Live);
    frame(small);  // the old stream's last frame: too small for the crop, only cleared
    EXPECT_EQ(screenAt(120, 160), 0);
    frame(dark);  // the snapshot: drawn, and kept
    frame(light);
    EXPECT_EQ(screenAt(120, 160), darkPixel);

    // Outside photo mode nothing is frozen.
    gApp.activity.store(Idle);
    frame(gray);
    choose(kSlotCaptureMode, kModeVideo);
    choose(kSlotVideoScreen, StyleKernelFull);
    gApp.activity.store(Active);
    frame(light);
    frame(gray);
    EXPECT_EQ(screenAt(120, 160), kGray565);
}

TEST_F(PreviewLoop, ReversedPixelOrderSwapsTheHalvesOfAllWordsButTheLast) {
    choose(kSlotPixelOrder, 1);
    std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    onFrame(bytes.data(), 8, nullptr);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{3, 4, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12}));
    // A whole frame: every word but the last.
    gray.bytes[0] = 0xAA;  // Cb of the first pair
    gray.bytes[gray.bytes.size() - 4] = 0xBB;
    frame(gray);
    EXPECT_EQ(gray.bytes[2], 0xAA);
    EXPECT_EQ(gray.bytes[gray.bytes.size() - 4], 0xBB);
}

TEST_F(PreviewLoop, TheLcmDriversQvgaStreamGetsItsRightBorderBlackened) {
    for (int type : {0, 1}) {  // not on other cameras
        gDeviceInfo.cameraType = type;
        Uyvy f = flat(320, 240, 200);
        frame(f);
        const uint8_t black[8] = {0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0};
        for (int row : {0, 117, 239}) {
            EXPECT_EQ(std::memcmp(&f.bytes[size_t(row) * 640 + 632], black, 8) == 0, type == 0);
            EXPECT_EQ(f.bytes[size_t(row) * 640 + 631], 200) << row;
        }
    }
}

TEST_F(PreviewLoop, TheCaptureWindowMovesToTheStartOfTheFrame) {
    gApp.fullScreen.store(0);
    gController.captureWindowValid = 1;
    auto cut = [](std::vector<uint8_t>& bytes, std::initializer_list<int32_t> window) {
        gFrame = Frame{8, 4, Rgb565, nullptr};
        std::copy(window.begin(), window.end(), gController.alignedCaptureWindow);
        onFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
    };
    std::vector<uint8_t> bytes(8 * 4 * 2);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    cut(bytes, {2, 1, 4, 2});  // x, y, width, height
    EXPECT_EQ(gFrame.frameWidth, 4u);
    EXPECT_EQ(gFrame.frameHeight, 2u);
    for (int r = 0; r < 2; ++r)
        for (int b = 0; b < 8; ++b)
            EXPECT_EQ(bytes[size_t(r) * 8 + b], ((1 + r) * 8 + 2) * 2 + b) << r << "," << b;
    // A window reaching before, beside and past the frame moves only the rows inside.
    cut(bytes, {-2, 2, 16, 4});
    EXPECT_EQ(gConsumed, 2);
    EXPECT_EQ(gFrame.frameWidth, 16u);
}

TEST_F(PreviewLoop, PicturesThatWouldOverrunTheirBuffersAreSkipped) {
    paintScreen();
    streamCrop(640, 480);
    frame(gray);  // the stream was reconfigured while this frame was on its way
    EXPECT_EQ(screenAt(120, 160), 0) << "no picture";
    EXPECT_EQ(gConsumed, 1);
    // The general path needs 153600 bytes of planar scratch in the photo buffer.
    streamCrop(320, 240);
    ensureImage(gApp.photoImage, 16, 16);
    paintScreen();
    frame(gray);
    EXPECT_EQ(screenAt(120, 160), 0x7777);
    ensureImage(gApp.photoImage, 1280, 960);
}

TEST_F(PreviewLoop, ACaptureKeepsTheDeviceAwakeEvery8192Ms) {
    traceClear();
    frame(gray);
    EXPECT_EQ(traceCount("SystemIdleTimerReset"), 0u) << "only while Active";
    gApp.activity.store(Active);
    lastIdleReset = GetTickCount();
    frame(gray);
    EXPECT_EQ(traceCount("SystemIdleTimerReset"), 0u);
    advanceTickCount(8193);
    frame(gray);
    frame(gray);
    EXPECT_EQ(traceCount("SystemIdleTimerReset"), 1u);
    lastIdleReset = GetTickCount() + 1000;  // the counter has wrapped since
    frame(gray);
    EXPECT_EQ(traceCount("SystemIdleTimerReset"), 2u);
}

}  // namespace
