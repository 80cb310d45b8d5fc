// The camera controller against a recording fake source: opening and the settings sent, the
// property ids, the restart and reopen rules, the geometry walk, the status texts and the
// encoder's arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/frame.h"
#include "platform/hooks.h"
#include "preview/preview_loop.h"
#include "settings/settings_test_support.h"
#include "settings/size_table.h"

namespace {

using Calls = std::vector<std::string>;

std::string text(const StatusText& status) {
    char buffer[kStatusTextBytes];
    const uint32_t length = readStatusText(status, buffer);
    EXPECT_EQ(length, std::strlen(buffer));
    return buffer;
}

// The crop window: left, top, right, bottom.
using Window = std::vector<uint32_t>;

Window crop(const CaptureGeometry& g) {
    return {g.cropLeft, g.cropTop, g.cropRight, g.cropBottom};
}

// Every word of a geometry: the sensor size, the crop window, the output window, the output size
// and the scale.
using Words = std::vector<uint32_t>;
static_assert(sizeof(CaptureGeometry) == 13 * sizeof(uint32_t));

Words words(const CaptureGeometry& g) {
    const uint32_t* w = &g.sensorWidth;
    return {w, w + 13};
}

// Selects the size entry whose row is `row`.
void chooseRow(ValueList& sizes, int32_t row) {
    for (int32_t i = 0; i < sizes.count; ++i)
        if (entryValue(sizes, i) == row) return sizes.current.store(i);
    FAIL() << "row " << row << " is not in the list";
}

// The Brightness list's entry count, default index and current index.
std::vector<int32_t> brightnessList() {
    const ValueList& b = gController.brightness;
    return {b.count, b.defaultIndex, b.current.load()};
}

void openAndStart() {
    ASSERT_EQ(openCamera(), 1u);
    reconfigureForMode(false);
    ASSERT_EQ(startCapture(), 1u);
    gFakeCamera.calls.clear();
}

// Each test starts from the model at its defaults on camera type 1 (streaming at most 640x480)
// with the camera closed, and leaves the camera closed.
class CameraControllerTest : public ::testing::Test {
  protected:
    void SetUp() override { buildModel(); }
    void TearDown() override { closeCamera(); }
};
using CaptureGeometryTest = CameraControllerTest;
using EncoderArgumentsTest = CameraControllerTest;

}  // namespace

TEST_F(CameraControllerTest, OpenSendsOnlyChosenSettings) {
    EXPECT_EQ(openCamera(), 1u);
    EXPECT_EQ(gFakeCamera.calls, Calls{"open"});  // every setting at its default: nothing sent
    EXPECT_EQ(gController.opened.load(), 1);
    EXPECT_EQ(openCamera(), 1u);  // already open: nothing
    EXPECT_EQ(gFakeCamera.calls.size(), 1u);
    closeCamera();
    EXPECT_EQ(gFakeCamera.calls, (Calls{"open", "close"}));

    gFakeCamera.calls.clear();
    gController.brightness.current.store(6);  // 7
    gController.flicker.current.store(2);     // "60hz"
    gController.effect.current.store(0);      // "Normal", chosen explicitly
    gController.gamma.current.store(0);       // never sent on open
    openCamera();
    EXPECT_EQ(gFakeCamera.calls, (Calls{"open", "set 5=7", "set 1=4", "set 10=1"}));
}

TEST_F(CameraControllerTest, FailedOpenAndEmptySourceTables) {
    gFakeCamera.openResult = 0;
    EXPECT_EQ(openCamera(), 0u);
    EXPECT_EQ(gController.opened.load(), 0);
    EXPECT_EQ(startCapture(), 0u);  // a closed camera is not started
    EXPECT_EQ(gFakeCamera.calls, Calls{"open"});

    // A source whose library did not load has no operations: nothing is called through them.
    const CameraBackend empty = {};
    gController.backend = &empty;
    EXPECT_EQ(openCamera(), 0u);
    gController.opened.store(1);
    EXPECT_EQ(startCapture(), 0u);
    applySetting(gController.brightness);
    closeCamera();
    EXPECT_EQ(gController.opened.load(), 0);
    gController.backend = nullptr;
    EXPECT_EQ(openCamera(), 0u);
    gController.backend = &kFakeBackend;
}

// Type 13 exchanges the Brightness and Contrast property ids; type 5 probes the Brightness range.
TEST_F(CameraControllerTest, Type13PropertyIdsAndType5BrightnessProbe) {
    buildModel({.cameraType = 13});
    openCamera();
    gController.brightness.current.store(2);
    applySetting(gController.brightness);
    gController.contrast.current.store(6);
    applySetting(gController.contrast);
    EXPECT_EQ(gFakeCamera.properties(), (Calls{"set 4=2", "set 5=6"}));
    closeCamera();

    buildModel({.cameraType = 5});
    gFakeCamera.setPropertyResult = 1;
    gController.brightness.current.store(12);
    openCamera();
    EXPECT_EQ(gFakeCamera.properties(), (Calls{"set 5=120", "set 5=180"}));
    EXPECT_EQ(brightnessList(), (std::vector<int32_t>{18, 8, 12}));
    closeCamera();

    // The camera refuses 120: 0 to 8. An index beyond the new range returns to the default.
    gFakeCamera = FakeCamera{};
    gFakeCamera.setPropertyResult = 0;
    openCamera();
    EXPECT_EQ(gFakeCamera.properties(), Calls{"set 5=120"});
    EXPECT_EQ(brightnessList(), (std::vector<int32_t>{9, 4, -1}));
    EXPECT_EQ(valueOf(gController.brightness), 4);
}

TEST_F(CameraControllerTest, ApplyingSettingsRestartsOrReopensWhereNeeded) {
    gController.brightness.current.store(7);
    applySetting(gController.brightness);  // closed: only the list changed
    EXPECT_TRUE(gFakeCamera.calls.empty());

    openAndStart();
    applySetting(gController.brightness);
    EXPECT_EQ(gFakeCamera.calls, Calls{"set 5=8"});

    gFakeCamera.calls.clear();
    gController.flicker.current.store(1);
    applySetting(gController.flicker);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "set 1=2", "start 640x480"}));

    // Night mode: the plain effect carries the night bit, and the stream restarts.
    gFakeCamera.calls.clear();
    gController.nightMode.current.store(1);
    applySetting(gController.nightMode);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "set 10=128", "start 640x480"}));
    EXPECT_EQ(valueOf(gController.effect), 128);

    // Back to the plain effect while open: closed and opened again, all settings sent.
    gFakeCamera.calls.clear();
    gController.effect.current.store(0);
    applySetting(gController.effect);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "close", "open", "set 5=8", "set 1=2", "set 10=128",
                                        "set 10=128", "set 10=128", "start 640x480"}));
    EXPECT_EQ(gController.running.load(), 1);
}

TEST_F(CameraControllerTest, StartPassesTheGeometryAndHandsOverASnapshot) {
    openCamera();
    reconfigureForMode(false);
    gController.snapshotFrames.store(2);
    gController.snapshotRequested.store(1);
    SetEvent(gController.frameEvent);
    ASSERT_EQ(startCapture(), 1u);
    const CaptureParams& p = gFakeCamera.lastParams;
    // "Auto" exposure, the whole 640x480 field, each twice.
    EXPECT_EQ((Words{p.exposure, p.sensorWidth, p.sensorHeight, p.cropLeft, p.cropTop, p.cropRight,
                     p.cropBottom}),
              (Words{2, 640, 480, 0, 0, 639, 479}));
    EXPECT_EQ((Words{p.exposureAgain, p.cropLeftAgain, p.cropTopAgain, p.cropRightAgain,
                     p.cropBottomAgain}),
              (Words{2, 0, 0, 639, 479}));
    EXPECT_EQ(Words(p.constants, p.constants + 6), (Words{128, 0, 0, 240, 320, 0}));
    EXPECT_EQ(p.frameHandler, gController.frameHandler);
    EXPECT_EQ((Words{gFrame.frameWidth, gFrame.frameHeight, gFrame.frameFormat}),
              (Words{640, 480, Uyvy}));
    EXPECT_EQ(gController.snapshotArmed.load(), 1u);
    EXPECT_EQ(gController.snapshotRequested.load(), 0u);
    EXPECT_EQ(previewMode.load(), 2u);
    EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_TIMEOUT);  // reset
    // Already running: nothing more, and the frame record is left to the capture thread.
    gFrame.frameWidth = 7;
    EXPECT_EQ(startCapture(), 1u);
    EXPECT_EQ(gFrame.frameWidth, 7u);
    previewMode.store(Live);
}

TEST_F(CameraControllerTest, ReconfigureRestartsOnlyForANewGeometryOrExposure) {
    openAndStart();
    EXPECT_EQ(reconfigure(true, true, kPreviewGeometry), 0u);  // unchanged
    EXPECT_TRUE(gFakeCamera.calls.empty());

    // The snapshot of a 1280x960 photo: a new geometry, with the snapshot exposure.
    chooseRow(gController.photoSize, 4);
    EXPECT_EQ(reconfigure(true, true, kSnapshotGeometry), 1u);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "start 1280x960"}));
    EXPECT_EQ(gFakeCamera.lastParams.exposure, 4u);  // "Locked"

    // Only the exposure changes: a restart with the same geometry.
    gFakeCamera.calls.clear();
    gController.previewExposure.current.store(2);  // "Auto(Night)"
    EXPECT_EQ(reconfigure(false, true, kPreviewGeometry), 1u);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "start 1280x960"}));
    EXPECT_EQ(gFakeCamera.lastParams.exposure, 6u);

    // Stopped: the new values are kept for the next start.
    closeCamera();
    gFakeCamera.calls.clear();
    gController.previewExposure.current.store(-1);
    EXPECT_EQ(reconfigure(true, true, kPreviewGeometry), 1u);
    EXPECT_TRUE(gFakeCamera.calls.empty());
    EXPECT_EQ(gController.streamGeometry.sensorWidth, 640u);
}

TEST_F(CaptureGeometryTest, ZoomWalkOverRows1_3_4) {
    const uint8_t capable[kSizeRows] = {0, 1, 0, 1, 1, 0, 0, 0};
    std::memcpy(gPhotoCapableRows, capable, sizeof capable);
    buildSizeList(true);
    chooseRow(gController.photoSize, 1);  // 320x240
    struct Step {
        Words geometry;
        const char* zoomText;
    };
    const Step steps[] = {
        // The whole field; the whole field at half sampling; 320x240 out of 640x480; out of
        // 1280x960.
        {{320, 240, 0, 0, 319, 239, 0, 0, 319, 239, 320, 240, 0x10000}, "100%%"},
        {{640, 480, 0, 0, 639, 479, 0, 0, 639, 479, 320, 240, 0x10000}, "100%%h"},
        {{640, 480, 160, 120, 479, 359, 0, 0, 319, 239, 320, 240, 0x20000}, "200%%"},
        {{1280, 960, 480, 360, 799, 599, 0, 0, 319, 239, 320, 240, 0x40000}, "400%%"},
    };
    // Step 4 is beyond the rows: step 3 again, and the list steps back.
    for (int32_t z = 0; z < 5; ++z) {
        SCOPED_TRACE(z);
        const int32_t taken = std::min(z, 3);
        gController.photoZoom.current.store(z);
        CaptureGeometry stream{}, published{};
        ASSERT_TRUE(computeCaptureGeometry(true, kSnapshotGeometry, stream, published));
        EXPECT_EQ(words(stream), steps[taken].geometry);
        EXPECT_EQ(gController.photoZoom.current.load(), taken);
        gController.publishedGeometry = published;
        refreshStatusTexts();
        EXPECT_EQ(text(gZoomText), steps[taken].zoomText);
        EXPECT_EQ(text(gSizeText), "320x240");
    }
    // The size text turns with the picture ("Portrait"), and back with "Rotation" "90L".
    setting(kSlotOrientation).current.store(1);
    refreshStatusTexts();
    EXPECT_EQ(text(gSizeText), "240x320");
    setting(kSlotRotation).current.store(1);
    refreshStatusTexts();
    EXPECT_EQ(text(gSizeText), "320x240");
}

// A 16:9 video of 640x352 is centred in the sensor picture; a photo's preview is reduced to the
// stream maximum.
TEST_F(CaptureGeometryTest, WideAspectIsCentredAndPhotoPreviewIsReduced) {
    chooseRow(gController.videoSize, 3);
    gController.videoZoom.current.store(0);
    gController.videoAspect.current.store(2);  // "16:9": 640x352
    CaptureGeometry stream{}, published{};
    ASSERT_TRUE(computeCaptureGeometry(false, kPreviewGeometry, stream, published));
    EXPECT_EQ(words(stream), (Words{640, 480, 0, 64, 639, 415, 0, 0, 639, 351, 640, 352, 0x10000}));

    chooseRow(gController.photoSize, 4);
    ASSERT_TRUE(computeCaptureGeometry(true, kPreviewGeometry, stream, published));
    EXPECT_EQ(crop(published), (Window{0, 0, 1279, 959}));
    EXPECT_EQ(words(stream), (Words{640, 480, 0, 0, 639, 479, 0, 0, 639, 479, 640, 480, 0x10000}));

    // 16:9: the crop keeps its ratio at multiples of 8 (960 / 720 in 16.16 is 87381, and
    // 480 / that is 360).
    gController.photoAspect.current.store(2);
    ASSERT_TRUE(computeCaptureGeometry(true, kPreviewGeometry, stream, published));
    EXPECT_EQ(crop(published), (Window{0, 120, 1279, 839}));
    EXPECT_EQ(crop(stream), (Window{0, 56, 639, 415}));
    EXPECT_EQ(stream.outHeight, 360u);

    // The snapshot is never reduced.
    ASSERT_TRUE(computeCaptureGeometry(true, kSnapshotGeometry, stream, published));
    EXPECT_EQ(stream.sensorWidth, 1280u);
}

TEST_F(CaptureGeometryTest, NoQualifyingRowFailsAndKeepsTheGeometry) {
    openCamera();
    reconfigureForMode(false);
    const Window before = crop(gController.streamGeometry);
    gController.photoSize.count = 0;
    CaptureGeometry stream{}, published{};
    EXPECT_FALSE(computeCaptureGeometry(true, kPreviewGeometry, stream, published));
    reconfigureForMode(false);
    EXPECT_EQ(crop(gController.streamGeometry), before);
}

TEST_F(CaptureGeometryTest, ScreenCaptureWindowIsAlignedAndUsedAsTheOutput) {
    const int32_t window[4] = {3, 27, 241, 270};
    std::copy(window, window + 4, gApp.captureWindow);
    buildModel({.cameraType = 14, .screenCapture = true});
    EXPECT_EQ(gController.captureWindowValid, 1);
    EXPECT_EQ(std::vector<int32_t>(gController.alignedCaptureWindow,
                                   gController.alignedCaptureWindow + 4),
              (std::vector<int32_t>{2, 26, 240, 256}));
    CaptureGeometry stream{}, published{};
    ASSERT_TRUE(computeCaptureGeometry(true, kPreviewGeometry, stream, published));
    EXPECT_EQ(words(stream), (Words{240, 320, 0, 0, 239, 319, 2, 26, 241, 281, 240, 256, 0x10000}));

    // No window (no Config.txt), or one entirely off the top left: not used.
    for (int32_t v : {-1, -4}) {
        std::fill(gApp.captureWindow, gApp.captureWindow + 4, v);
        if (v == -4) gApp.captureWindow[2] = gApp.captureWindow[3] = 64;
        buildModel({.cameraType = 14, .screenCapture = true});
        EXPECT_EQ(gController.captureWindowValid, 0) << v;
    }
    std::fill(gApp.captureWindow, gApp.captureWindow + 4, 0);
}

TEST_F(EncoderArgumentsTest, ModeFormatQualityFactorsAndTurn) {
    buildModel({.cameraType = 1, .encoder = false});
    chooseRow(gController.photoSize, 1);
    gController.photoZoom.current.store(1);  // 640x480 at half sampling
    setting(kSlotOrientation).current.store(3);
    setting(kSlotRotation).current.store(1);
    reconfigureForMode(false);
    EXPECT_EQ(prepareEncoderArguments(), 1u);
    // "BMP": the raw path (quality 0); 320x240 at half sampling; turned by 3 - 1.
    const EncoderSetup& e = gEncoderSetup;
    EXPECT_EQ((Words{e.quality, e.width, e.height, e.scaleX, e.scaleY, e.rotation}),
              (Words{0, 320, 240, 2, 2, 2}));
}
