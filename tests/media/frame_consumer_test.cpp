// Photo files and the frame consumer: BMP bytes and colours as ffmpeg reads them, JPEG and BMP
// photos at each turn, the shutter sound, failed saves, the averaging of interval shots, and the
// movie branch, in process on a simulated device (the real file sink): a full card, or the free
// space counted when the movie started, pauses the recording from the capture thread, and a
// paused recording writes no pictures. (A whole recording with sound, and a saved movie after a
// full card, are checked end to end; the unchanged-screen rule with the writer.)
#include <algorithm>
#include <cstring>

#include "app/commands.h"
#include "media/capture_test_support.h"
#include "media/frame_average.h"
#include "media/record_frame.h"
#include "media/test_pictures.h"

namespace {

using namespace capturetest;

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(Bmp, ExactHeaderAndColoursAsFfmpegReadsThemAndFailedWrites) {
    CaptureState state(profile());
    // An asymmetric 10 x 6 I420 picture (BMP rows of 30 bytes, padded to 32): luma rising to
    // the right and down with a bright block at the top left, chroma varying in both planes.
    const uint32_t w = 10, h = 6;
    std::vector<uint8_t> p(w * h * 3 / 2);
    for (uint32_t i = 0; i < w * h; ++i)
        p[i] = uint8_t(i % w < 3 && i / w < 2 ? 235 : 20 + i % w * 9 + i / w * 13);
    for (uint32_t i = 0; i < w * h / 4; ++i) {
        p[w * h + i] = uint8_t(60 + i * 11);
        p[w * h * 5 / 4 + i] = uint8_t(200 - i * 7);
    }
    ASSERT_EQ(writeBmp(u"\\My Documents\\t.bmp", p.data(), w, h), 1u);
    const std::vector<uint8_t> file = testpics::readFile(hostPathOf(u"\\My Documents\\t.bmp"));
    ASSERT_EQ(file.size(), 32u * h + 54);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 2), "BM");
    const uint32_t words[][2] = {{2, 32 * h + 54}, {6, 0},     {10, 54},           {14, 40},
                                 {18, w},          {22, h},    {26, 1 | 24 << 16}, {30, 0},
                                 {34, 32 * h},     {38, 3780}, {42, 3780},         {46, 0},
                                 {50, 0}};  // at 26: 1 plane, 24 bits a pixel
    for (const auto& [at, value] : words) EXPECT_EQ(get32(file, at), value) << "offset " << at;

    // No rows, a folder that does not exist, a path out of the device, a card that fills up.
    EXPECT_EQ(writeBmp(u"\\My Documents\\empty.bmp", p.data(), w, 0), 1u);
    EXPECT_EQ(testpics::readFile(hostPathOf(u"\\My Documents\\empty.bmp")).size(), 54u);
    EXPECT_EQ(writeBmp(u"\\No Such Folder\\x.bmp", p.data(), w, h), 0u);
    EXPECT_EQ(writeBmp(u"\\..\\outside.bmp", p.data(), w, h), 0u);
    state.device().handheld().faults.writeBudget.store(100);
    EXPECT_EQ(writeBmp(u"\\My Documents\\full.bmp", p.data(), w, h), 0u);
    state.device().handheld().faults.writeBudget.store(-1);
    EXPECT_EQ(testpics::readFile(hostPathOf(u"\\My Documents\\full.bmp")).size(), 100u);

    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string bmp = hostPathOf(u"\\My Documents\\t.bmp");
    testpics::run("ffmpeg -v error -y -i '" + bmp + "' -f rawvideo -pix_fmt rgb24 '" + bmp +
                  ".rgb'");
    std::vector<uint8_t> want;  // by the integer equations, from each 2 x 2 block's chroma
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const int Y = p[y * w + x], c = int(y / 2 * (w / 2) + x / 2);
            const int U = p[w * h + c] - 128, V = p[w * h * 5 / 4 + c] - 128;
            for (int v :
                 {Y + ((V * 359) >> 8), Y + ((-V * 183 - U * 88) >> 8), Y + ((U * 453) >> 8)})
                want.push_back(uint8_t(std::clamp(v, 0, 255)));
        }
    EXPECT_EQ(testpics::readFile(bmp + ".rgb"), want);  // as wide and high as written too
}

// The raw planes are turned as the JPEG is (checked with the encoder); the BMP takes the turned
// size, and "Sound Off" silences the shutter.
TEST(SavePhoto, JpegAndBmpPhotosAtATurnTakeTheTurnedSizeWithTheShutterSound) {
    CaptureState state(profile());
    setting(kSlotCaptureMode).current.store(kModePhoto);
    for (const int32_t format : {-1, 0}) {  // "JPEG", "BMP"
        SCOPED_TRACE(format);
        setting(kSlotPhotoFormat).current.store(format);
        setting(kSlotShutter).current.store(format ? -1 : 1);  // "Sound Off" for the BMP
        state.encodeAs(320, 240, format ? 90 : 0, 1, 1);
        std::vector<uint8_t> frame = sceneFrame(320, 240);
        traceClear();
        ASSERT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 1u);
        EXPECT_EQ(traceCount("PlaySoundW"), format ? 1u : 0u);
        EXPECT_EQ(traceCount("PlaySoundW MenuPop.wav async"), format ? 1u : 0u);
        const std::vector<uint8_t> file = testpics::readFile(hostPathOf(gApp.lastFilePath));
        const Gray jpeg = decodeGray(file);
        EXPECT_EQ(format ? jpeg.width : int(get32(file, 18)), 240);
        EXPECT_EQ(format ? jpeg.height : int(get32(file, 22)), 320);
    }
    setting(kSlotPhotoFormat).current.store(-1);
    setting(kSlotShutter).current.store(-1);
}

TEST(StillPicture, AFailedPhotoLeavesTheRequestArmedAndStillWakesTheWaiter) {
    CaptureState state(profile());
    state.encodeAs(320, 240, 85, 1);
    std::vector<uint8_t> frame = sceneFrame(320, 240);
    seenActivity.store(Active);
    frameCaptureMode.store(kModePhoto);
    consumeFrame(frame.data());  // no request: nothing happens
    EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_TIMEOUT);

    gController.snapshotArmed.store(1);
    state.device().handheld().faults.writeBudget.store(10);
    consumeFrame(frame.data());
    state.device().handheld().faults.writeBudget.store(-1);
    EXPECT_EQ(gController.snapshotArmed.load(), 1u);
    EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_OBJECT_0);

    ResetEvent(gController.frameEvent);
    consumeFrame(frame.data());
    EXPECT_EQ(gController.snapshotArmed.load(), 0u);
    EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(decodeGray(testpics::readFile(hostPathOf(gApp.lastFilePath))).width, 320);
    // A frame smaller than the encoder expects (an overlay plane smaller than the screen) is not
    // encoded at all: no shutter sound, and the message line says so. So does a failed write.
    gFrame.frameHeight = 120;
    setting(kSlotShutter).current.store(1);
    gApp.osdMessage.store(nullptr);
    traceClear();
    EXPECT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 0u);
    EXPECT_EQ(traceCount("PlaySoundW"), 0u);
    EXPECT_STREQ(gApp.osdMessage.load(), "Photo not saved");
    gFrame.frameHeight = 240;
    gApp.osdMessage.store(nullptr);
    state.device().handheld().faults.writeBudget.store(10);
    EXPECT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 0u);
    state.device().handheld().faults.writeBudget.store(-1);
    EXPECT_STREQ(gApp.osdMessage.load(), "Photo not saved");
    setting(kSlotShutter).current.store(-1);
}

TEST(StillPicture, AnAveragedIntervalShotIsSavedFromTheMeanOfItsFrames) {
    // The sums live in two byte planes: 256 frames of 255 make 65280, which still fits.
    uint8_t low = 0, high = 0, mean = 0;
    const uint8_t white = 255;
    for (int i = 0; i < 256; ++i) accumulateFrame(&low, &high, &white, 1);
    finishAverage(&mean, &low, &high, 1, 8);
    EXPECT_EQ(mean, 255);

    CaptureState state(profile());
    state.encodeAs(64, 32, 75, 1);
    setting(kSlotCaptureMode).current.store(kModeInterval);
    setting(kSlotAverage).current.store(2);  // "4"
    // The sums' low bytes live in the photo buffer: a larger buffer is refused.
    EXPECT_FALSE(allocateAverageBuffer(gApp.photoImage.header.biSizeImage + 1));
    EXPECT_FALSE(allocateAverageBuffer(0));
    EXPECT_EQ(gApp.averageBuffer, nullptr);
    const uint32_t bytes = 64 * 32 * 2;
    ASSERT_TRUE(allocateAverageBuffer(bytes));
    // What an earlier shot or the preview's scratch left in the sums: the first frame clears it.
    std::memset(gApp.averageBuffer, 0xA5, bytes);
    std::memset(gApp.photoImage.pixels, 0x5A, bytes);
    seenActivity.store(Active);
    frameCaptureMode.store(kModeInterval);
    gApp.intervalShots.store(3);
    std::vector<uint8_t> frame(bytes);
    for (uint8_t value : {10, 11, 12, 13}) {
        std::memset(frame.data(), value, bytes);
        intervalFirstFrame.store(value == 10);
        intervalLastFrame.store(value == 13);
        gController.snapshotArmed.store(1);
        ResetEvent(gController.frameEvent);
        consumeFrame(frame.data());
        EXPECT_EQ(gController.snapshotArmed.load(), 0u);
        EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_OBJECT_0);
    }
    EXPECT_EQ(frame, std::vector<uint8_t>(bytes, 11));  // 46 >> 2
    const Gray shot = decodeGray(testpics::readFile(hostPathOf(gApp.lastFilePath)));
    ASSERT_EQ(shot.width, 64);
    EXPECT_NEAR(shot.at(30, 15), 11, 2);
    intervalFirstFrame.store(0);
    intervalLastFrame.store(0);
}

TEST(RecordFrame, AFullCardOrTheStartsMarginPausesTheRecordingFromTheCaptureThread) {
    for (const bool fullCard : {true, false}) {
        SCOPED_TRACE(fullCard ? "full card" : "free space margin");
        CaptureState state(profile());
        state.encodeAs(320, 240, 75, 1);
        // Room for the header and a few pictures only, on the card or by the margin.
        state.device().handheld().faults.writeBudget.store(fullCard ? 348 + 3 * 9000 : -1);
        setting(kSlotCaptureMode).current.store(kModeVideo);
        gAviWriter.frameMs.store(40);  // "Max FPS" "25"
        ASSERT_TRUE(openMovie(u"\\My Documents\\m.avi", 320, 240, false));
        if (!fullCard) gApp.freeSpaceMargin = 20000;
        gApp.activity.store(Active);
        frameCaptureMode.store(kModeVideo);
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
        EXPECT_FALSE(pauseRecordingFromCapture()) << "only an active recording is paused";
        const uint32_t ticks = gAviWriter.ticksTotal.load();
        EXPECT_GT(ticks, 0u);
        EXPECT_LT(ticks, 10u);
        for (uint32_t i = 0; i < 5; ++i) frame(k + i);
        EXPECT_EQ(gAviWriter.ticksTotal.load(), ticks) << "paused: frames add nothing";
        state.device().handheld().faults.writeBudget.store(-1);
    }
}

}  // namespace
