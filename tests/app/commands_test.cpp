// The command dispatcher in process, on a simulated handheld with a recording fake camera: the
// action key in each capture mode and the transitions of the activity it owns, the free-space
// rule of movies, the averaging buffer of interval runs, the end of a run, and screen taps.
#include "app/commands.h"

#include <filesystem>

#include "app/key_dispatch.h"
#include "app/keys.h"
#include "media/audio_capture.h"
#include "media/capture_test_support.h"
#include "net/webcam.h"
#include "support/wait_until.h"

namespace {

using namespace capturetest;

constexpr int kWidth = 240, kHeight = 320;  // the screen

// The dispatcher's world: settings at their defaults in `mode`, "Portrait", the geometry
// computed, the camera closed behind the fake source.
struct Dispatcher {
    explicit Dispatcher(int32_t mode, const DeviceProfile& p = profile()) : state(p) {
        setting(kSlotCaptureMode).current.store(mode);
        setting(kSlotOrientation).current.store(1);
        reconfigureForMode(false);
        gApp.normalKeys = GXGetDefaultKeys(GX_NORMALKEYS);
        gApp.landscapeKeys = GXGetDefaultKeys(GX_LANDSCAPEKEYS);
        applyOrientation();
        gApp.osdMessage.store(nullptr);
        previewMode.store(Live);
    }
    ~Dispatcher() {
        if (gApp.activity.load() == Active && valueOf(setting(kSlotCaptureMode)) == kModeInterval)
            runEnded(0);
    }
    int action() { return runAction(gApp.activeKeys.vkStart); }
    int tap(int x, int y) { return dispatchTap(0, x, y, kWidth, kHeight); }
    CaptureState state;
};

TEST(Movie, StartsOnlyWith3000000BytesFreeAndASecondActionKeyPausesIt) {
    {
        Dispatcher d(kModeVideo, profile("2006-12-05 14:30:15", 2999999));
        EXPECT_EQ(d.action(), 1);
        EXPECT_EQ(gApp.activity.load(), Idle);
        EXPECT_STREQ(gApp.osdMessage.load(), "Not enough memory(<3mb)");
        EXPECT_EQ(gApp.osdMessageDuration.load(), 2000u);
        EXPECT_FALSE(std::filesystem::exists(hostPathOf(gApp.lastFilePath)));
    }
    Dispatcher d(kModeVideo, profile("2006-12-05 14:30:15", 3000000));
    EXPECT_EQ(d.action(), 1);
    EXPECT_EQ(gApp.activity.load(), Active);
    EXPECT_EQ(gApp.freeSpaceMargin, 0u);
    EXPECT_TRUE(std::filesystem::exists(hostPathOf(gApp.lastFilePath)));
    // "Max FPS" "25": 40 ms ticks, and the sound in 100 buffers of one tick.
    EXPECT_EQ(gAviWriter.frameMs.load(), 40u);
    EXPECT_EQ(gAudioCapture.periodMs, 40u);
    EXPECT_EQ(gAudioCapture.bufferCount, 100u);
    EXPECT_EQ(gAviWriter.soundOn.load(), 1);

    EXPECT_EQ(d.action(), 1);
    EXPECT_EQ(gApp.activity.load(), Choosing);
    EXPECT_EQ(gApp.currentPage.load(), &gMenuPages[kPageMovieChoice]);
    EXPECT_EQ(gMenuPages[kPageMovieChoice].selected.load(), 0u);
    EXPECT_EQ(gMenuPages[kPageMovieChoice].parent, &gMenuPages[kPageMain]);
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    EXPECT_NE(gAviWriter.file.ops, nullptr) << "the movie stays open while paused";
    aviClose(gAviWriter);
}

TEST(Interval, AnAverageOf1AllocatesNothingAnd256OneBufferOfTheCropSizeTimes2) {
    for (int32_t average : {0, 8}) {  // "1", "256"
        SCOPED_TRACE(average);
        Dispatcher d(kModeInterval);
        setting(kSlotAverage).current.store(average);
        const CaptureGeometry& g = gController.publishedGeometry;
        const uint32_t crop = (g.cropRight - g.cropLeft + 1) * (g.cropBottom - g.cropTop + 1);
        ASSERT_EQ(d.action(), 1);
        EXPECT_EQ(gApp.activity.load(), Active);
        EXPECT_NE(gApp.intervalThread.load(), nullptr);
        EXPECT_EQ(gApp.averageBuffer != nullptr, average != 0);
        EXPECT_EQ(gApp.averageBufferSize, average ? crop * 2 : 0u);
        EXPECT_EQ(gController.snapshotFrames.load(), average ? 2u : 1u);
        EXPECT_EQ(previewMode.load(), average ? OverlayOnly : Live);
        // A second action key stops the run (through the end of a run, checked below).
        EXPECT_EQ(d.action(), 1);
        EXPECT_EQ(gApp.activity.load(), Idle);
        EXPECT_EQ(gApp.intervalThread.load(), nullptr);
        EXPECT_EQ(gApp.averageBuffer, nullptr);
    }
}

TEST(Interval, WithoutMemoryForTheAverageNothingStarts) {
    Dispatcher d(kModeInterval);
    setting(kSlotAverage).current.store(3);  // "8"
    ensureImage(gApp.photoImage, 16, 16);    // too small for the sums' low bytes
    EXPECT_EQ(d.action(), 1);
    EXPECT_EQ(gApp.activity.load(), Idle);
    EXPECT_STREQ(gApp.osdMessage.load(), "Not enough memory");
    EXPECT_EQ(gApp.osdMessageDuration.load(), 1024u);
    EXPECT_EQ(gApp.intervalThread.load(), nullptr);
}

TEST(Interval, ARunThatEndedByItselfIsCleanedUpWhenReported) {
    Dispatcher d(kModeInterval);
    setting(kSlotAverage).current.store(1);  // "2"
    ASSERT_EQ(d.action(), 1);
    // The thread ends (as after a failed shot) before the window thread hears of it.
    gApp.intervalStop.store(1);
    ASSERT_EQ(WaitForSingleObject(gApp.intervalDoneEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(
        waitUntil([] { return gApp.intervalThread.load() == nullptr; }, std::chrono::seconds(1)));
    EXPECT_EQ(runEnded(1), 1);
    EXPECT_EQ(gApp.activity.load(), Idle);
    EXPECT_EQ(gApp.averageBuffer, nullptr);
    EXPECT_EQ(gApp.intervalDoneEvent, nullptr);
    EXPECT_EQ(previewMode.load(), Live);
}

// Only the action key acts, and not while Choosing or About. (A second action key stops webcam
// streaming end to end.)
TEST(Action, NoStreamingCameraMeansNoPhotoAndOnlyTheActionKeyActsWhenIdle) {
    Dispatcher d(kModePhoto);
    EXPECT_EQ(runAction(gApp.activeKeys.vkA), 1);
    EXPECT_EQ(gApp.activity.load(), Idle);
    for (int32_t busy : {Choosing, About}) {
        gApp.activity.store(busy);
        EXPECT_EQ(d.action(), 1);
        EXPECT_EQ(gApp.activity.load(), busy);
    }
    gApp.activity.store(Idle);
    // A frame event left signalled by an earlier photo must not pass for this one.
    SetEvent(gController.frameEvent);
    EXPECT_EQ(d.action(), 1);
    EXPECT_EQ(gApp.activity.load(), Idle);
    EXPECT_EQ(gApp.menuVisible.load(), 0);
    EXPECT_EQ(previewMode.load(), Live);
    EXPECT_EQ(gController.snapshotArmed.load(), 0u);
    EXPECT_EQ(gController.snapshotRequested.load(), 0u);
}

// ---- Taps -------------------------------------------------------------------------------------

TEST(Taps, TheExitAndRotateCornersFollowTheOrientation) {
    Dispatcher t(kModePhoto);
    const int right = kWidth - 1, bottom = kHeight - 1;
    const struct {
        int exitX, exitY, rotateX, rotateY, next;
    } turns[] = {
        {right, 0, 0, bottom, 2},  // "Portrait" to "Landscape R"
        {right, bottom, 5, 5, 3},  // to "Portrait R"
        {0, bottom, right, 0, 0},  // round to "Landscape L"
        {0, 0, right, bottom, 1},  // back to "Portrait"
    };
    for (const auto& c : turns) {
        SCOPED_TRACE(c.next);
        EXPECT_EQ(t.tap(c.exitX, c.exitY), 0);
        EXPECT_EQ(t.tap(c.rotateX, c.rotateY), 1);
        EXPECT_EQ(valueOf(setting(kSlotOrientation)), c.next);
    }
}

TEST(Taps, CornersOf32PixelsActOnlyWhileIdleOrAboutElsewhereTheTouchScreenAction) {
    Dispatcher t(kModePhoto);
    setting(kSlotTouchScreen).current.store(0);  // "Disable"
    EXPECT_EQ(t.tap(kWidth - 32, 0), 1) << "x must be above W - 32";
    EXPECT_EQ(t.tap(kWidth - 1, 32), 1) << "y must be below 32";
    EXPECT_EQ(t.tap(32, kHeight - 1), 1);
    EXPECT_EQ(valueOf(setting(kSlotOrientation)), 1);
    EXPECT_EQ(gApp.menuVisible.load(), 0);
    gApp.activity.store(Active);  // a recording runs
    EXPECT_EQ(t.tap(kWidth - 1, 0), 1);
    EXPECT_EQ(t.tap(0, kHeight - 1), 1);
    EXPECT_EQ(valueOf(setting(kSlotOrientation)), 1);
    gApp.activity.store(About);
    EXPECT_EQ(t.tap(kWidth - 1, 0), 0) << "the About screen is left by the exit corner too";
    EXPECT_EQ(t.tap(120, 160), 1);
    EXPECT_EQ(gApp.activity.load(), Idle) << "any other tap closes the About screen";

    setting(kSlotTouchScreen).current.store(1);  // "Switch Menu"
    EXPECT_EQ(t.tap(120, 160), 1);
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    EXPECT_EQ(t.tap(120, 160), 1);
    EXPECT_EQ(gApp.menuVisible.load(), 0);
    // "Make Photo" is the action key: in webcam mode it starts streaming.
    setting(kSlotCaptureMode).current.store(kModeWebcam);
    setting(kSlotTouchScreen).current.store(2);
    EXPECT_EQ(t.tap(120, 160), 1);
    EXPECT_EQ(gApp.activity.load(), Active);
    stopWebcam();
    gApp.activity.store(Idle);
}

}  // namespace
