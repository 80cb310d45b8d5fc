// The movie branch of the frame consumer, in process: frames through consumeFrame into a movie
// file on the simulated device, read back by ffprobe and ffmpeg; a full card and the free space
// at the start pause the recording on the movie choice page; a paused recording writes no
// pictures. (Sound, which needs real time, is checked end to end.)
#include "media/record_frame.h"
#include "app/commands.h"
#include "media/capture_test_support.h"
#include "media/movie_oracle.h"

namespace {

using namespace capturetest;
using movieoracle::readMovie;

constexpr const WCHAR* kMovie = u"\\My Documents\\m.avi";

// A recording of 320 x 240 frames at "Max FPS" "25" that has just been opened, as the
// dispatcher leaves it.
struct Recording {
    // `cardBytes`: what the card still takes from the movie's opening on (negative: no limit).
    explicit Recording(const DeviceProfile& p, int64_t cardBytes = -1) : state(p) {
        state.encodeAs(320, 240, 75, 1);
        state.device().handheld().faults.writeBudget.store(cardBytes);
        setting(kSlotCaptureMode).current.store(kModeVideo);
        gAviWriter.frameMs.store(40);
        opened = openMovie(kMovie, 320, 240, false);
        gApp.activity.store(Active);
        seenActivity.store(Active);
        frameCaptureMode.store(kModeVideo);
        gApp.currentPage.store(&gMenuPages[kPageMain]);
        gApp.menuVisible.store(0);
    }
    // One camera frame at tick `now`, as the preview hands it over.
    void frame(uint32_t now, uint32_t number) {
        std::vector<uint8_t> pixels = sceneFrame(320, 240, number, now);
        frameStartTick.store(now);
        seenActivity.store(uint32_t(gApp.activity.load()));
        consumeFrame(pixels.data());
    }
    CaptureState state;
    bool opened = false;
};

TEST(RecordFrame, EveryTickHasItsPictureAndFfmpegPlaysThemAll) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    Recording r(profile());
    ASSERT_TRUE(r.opened);
    // A camera at 15 frames a second against 25 ticks a second: pictures last one or two ticks.
    for (uint32_t k = 0; k < 30; ++k) r.frame(50000 + k * 66, k);
    const uint32_t ticks = gAviWriter.ticksTotal.load();
    EXPECT_GE(ticks, 45u);
    aviClose(gAviWriter);

    const auto m = readMovie(host(kMovie));
    ASSERT_TRUE(m.read);
    EXPECT_EQ(m.streams, 1);
    EXPECT_EQ(m.width, 320);
    EXPECT_EQ(m.height, 240);
    EXPECT_EQ(m.frameRate, "25/1");
    EXPECT_EQ(m.ticks, long(ticks));
    EXPECT_DOUBLE_EQ(m.duration, ticks * 0.040);
    ASSERT_FALSE(m.pictureTicks.empty());
    EXPECT_EQ(m.pictureTicks.front(), 0);
    for (size_t i = 1; i < m.pictureTicks.size(); ++i)
        EXPECT_GT(m.pictureTicks[i], m.pictureTicks[i - 1]);
    EXPECT_LT(m.pictureTicks.back(), long(ticks));
    EXPECT_EQ(m.decodeErrors, "");
}

TEST(RecordFrame, AFullCardPausesOnTheChoicePageAndKeepsWhatWasWritten) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // Room for the header and a few pictures only: a movie started on a nearly full card.
    Recording r(profile(), 348 + 3 * 9000);
    ASSERT_TRUE(r.opened);
    uint32_t k = 0;
    for (; k < 40 && gApp.activity.load() == Active; ++k) r.frame(90000 + k * 40, k);
    ASSERT_EQ(gApp.activity.load(), Choosing) << "the recording pauses";
    EXPECT_EQ(gApp.currentPage.load(), &gMenuPages[kPageMovieChoice]);
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    EXPECT_EQ(gMenuPages[kPageMovieChoice].selected.load(), 0u);
    EXPECT_EQ(gMenuPages[kPageMovieChoice].parent, &gMenuPages[kPageMain]);
    const uint32_t ticks = gAviWriter.ticksTotal.load();
    const uint32_t pictures = gAviWriter.videoEntries;
    EXPECT_GT(ticks, 0u);

    // Paused: frames add nothing.
    for (uint32_t i = 0; i < 5; ++i) r.frame(90000 + (k + i) * 40, k + i);
    EXPECT_EQ(gAviWriter.ticksTotal.load(), ticks);

    // The user frees room and saves the movie.
    r.state.device().handheld().faults.writeBudget.store(-1);
    aviClose(gAviWriter);
    const auto m = readMovie(host(kMovie));
    ASSERT_TRUE(m.read);
    EXPECT_EQ(m.ticks, long(pictures));
    EXPECT_EQ(m.decodeErrors, "");
    EXPECT_FALSE(m.pictureTicks.empty());
}

TEST(RecordFrame, TheFreeSpaceAtTheStartLimitsTheMovie) {
    Recording r(profile());
    ASSERT_TRUE(r.opened);
    gApp.freeSpaceMargin = 20000;  // about two pictures
    for (uint32_t k = 0; k < 20 && gApp.activity.load() == Active; ++k) r.frame(1000 + k * 40, k);
    EXPECT_EQ(gApp.activity.load(), Choosing);
    EXPECT_EQ(gApp.currentPage.load(), &gMenuPages[kPageMovieChoice]);
    EXPECT_LT(gAviWriter.ticksTotal.load(), 10u);
}

TEST(RecordFrame, AScreenMovieStoresItsFirstPictureWhenTheChecksumMatchesTheStartValue) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    Recording r(profile());
    ASSERT_TRUE(r.opened);
    // An even number of equal words: the exclusive-or is 0, the checksum's start value, so the
    // screen counts as unchanged from the first frame on.
    std::vector<uint8_t> screen(320 * 240 * 2);
    for (size_t i = 0; i < screen.size(); i += 4) {
        const uint8_t grey[4] = {0x80, 0x60, 0x80, 0x60};
        std::copy(grey, grey + 4, screen.begin() + long(i));
    }
    gAviWriter.lastStoredChecksum.store(0);
    gApp.screenCaptureEdition = 1;
    gFrame.framePixels = screen.data();
    for (uint32_t k = 0; k < 6; ++k) {
        frameStartTick.store(7000 + k * 100);
        consumeFrame(screen.data());
    }
    gApp.screenCaptureEdition = 0;
    gFrame.framePixels = nullptr;
    aviClose(gAviWriter);

    const auto m = readMovie(host(kMovie));
    ASSERT_TRUE(m.read);
    EXPECT_GE(m.ticks, 10);
    ASSERT_EQ(m.pictureTicks.size(), 1u) << "one stored picture, repeated for every tick";
    EXPECT_EQ(m.pictureTicks.front(), 0);
    EXPECT_EQ(m.decodeErrors, "");
}

TEST(RecordFrame, OnlyAnActiveRecordingIsPausedFromTheCaptureThread) {
    CaptureState state(profile());
    gApp.activity.store(Idle);
    EXPECT_FALSE(pauseRecordingFromCapture());
    EXPECT_EQ(gApp.activity.load(), Idle);
    EXPECT_EQ(gApp.menuVisible.load(), 0);
    gApp.activity.store(Active);
    EXPECT_TRUE(pauseRecordingFromCapture());
    EXPECT_EQ(gApp.activity.load(), Choosing);
    EXPECT_FALSE(pauseRecordingFromCapture()) << "once";
}

}  // namespace
