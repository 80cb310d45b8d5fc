// The movie branch of the frame consumer, in process: camera frames through consumeFrame into a
// movie file on the simulated device (the real file sink). A full card, or the free space counted
// when the movie started, pauses the recording from the capture thread on the movie choice page;
// a paused recording writes no pictures; the movie saved afterwards plays in ffmpeg. (A whole
// recording with sound, its ticks and timestamps, is checked end to end; the unchanged-screen
// rule with the writer.)
#include "media/record_frame.h"
#include "app/commands.h"
#include "media/capture_test_support.h"
#include "media/movie_oracle.h"

namespace {

using namespace capturetest;

TEST(RecordFrame, AFullCardOrTheStartsMarginPausesOnTheChoicePageKeepingWhatWasWritten) {
    constexpr const WCHAR* kMovie = u"\\My Documents\\m.avi";
    for (const bool fullCard : {true, false}) {
        SCOPED_TRACE(fullCard ? "full card" : "free space margin");
        CaptureState state(profile());
        state.encodeAs(320, 240, 75, 1);
        // Room for the header and a few pictures only, on the card or by the margin.
        state.device().handheld().faults.writeBudget.store(fullCard ? 348 + 3 * 9000 : -1);
        setting(kSlotCaptureMode).current.store(kModeVideo);
        gAviWriter.frameMs.store(40);  // "Max FPS" "25"
        ASSERT_TRUE(openMovie(kMovie, 320, 240, false));
        if (!fullCard) gApp.freeSpaceMargin = 20000;
        gApp.activity.store(Active);
        frameCaptureMode.store(kModeVideo);
        gApp.currentPage.store(&gMenuPages[kPageMain]);
        gApp.menuVisible.store(0);
        const auto frame = [](uint32_t k) {
            std::vector<uint8_t> pixels = sceneFrame(320, 240, k, 90000 + k * 40);
            frameStartTick.store(90000 + k * 40);
            seenActivity.store(uint32_t(gApp.activity.load()));
            consumeFrame(pixels.data());
        };
        uint32_t k = 0;
        while (k < 40 && gApp.activity.load() == Active) frame(k++);
        ASSERT_EQ(gApp.activity.load(), Choosing) << "the recording pauses";
        EXPECT_EQ(gApp.currentPage.load(), &gMenuPages[kPageMovieChoice]);
        EXPECT_EQ(gApp.menuVisible.load(), 1);
        EXPECT_EQ(gMenuPages[kPageMovieChoice].selected.load(), 0u);
        EXPECT_EQ(gMenuPages[kPageMovieChoice].parent, &gMenuPages[kPageMain]);
        EXPECT_FALSE(pauseRecordingFromCapture()) << "only an active recording is paused";
        const uint32_t ticks = gAviWriter.ticksTotal.load(), pictures = gAviWriter.videoEntries;
        EXPECT_GT(ticks, 0u);
        EXPECT_LT(ticks, 10u);
        for (uint32_t i = 0; i < 5; ++i) frame(k + i);
        EXPECT_EQ(gAviWriter.ticksTotal.load(), ticks) << "paused: frames add nothing";

        // The user frees room and saves the movie.
        state.device().handheld().faults.writeBudget.store(-1);
        aviClose(gAviWriter);
        if (!testpics::haveFfmpeg()) continue;
        const auto m = movieoracle::readMovie(host(kMovie));
        ASSERT_TRUE(m.read);
        EXPECT_EQ(m.ticks, long(pictures));
        EXPECT_FALSE(m.pictureTicks.empty());
        EXPECT_EQ(m.decodeErrors, "");
    }
}

}  // namespace
