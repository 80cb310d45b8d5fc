// Photo files and the still-picture branch of the frame consumer: BMP bytes and their reading by
// ffmpeg, JPEG photos read back by libjpeg-turbo, turned BMPs, the shutter sound, failed saves,
// and the averaging of interval shots.
#include <cstring>
#include <filesystem>

#include "media/capture_test_support.h"
#include "media/frame_average.h"
#include "media/test_pictures.h"

namespace {

using namespace capturetest;

// An asymmetric I420 picture: luma rising to the right and down with a bright block at the
// top left; chroma varying across both planes.
std::vector<uint8_t> i420(uint32_t w, uint32_t h) {
    std::vector<uint8_t> p(size_t{w} * h * 3 / 2);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            p[y * w + x] = uint8_t(x < w / 3 && y < h / 3 ? 235 : 20 + x * 9 + y * 13);
    uint8_t* u = p.data() + w * h;
    uint8_t* v = u + w * h / 4;
    for (uint32_t i = 0; i < w * h / 4; ++i) {
        u[i] = uint8_t(60 + i * 11);
        v[i] = uint8_t(200 - i * 7);
    }
    return p;
}

uint8_t clamp(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The colour the BMP must hold for pixel (x, y), by the integer equations.
void expectedRgb(const std::vector<uint8_t>& p, uint32_t w, uint32_t h, uint32_t x, uint32_t y,
                 uint8_t rgb[3]) {
    const int Y = p[y * w + x];
    const size_t c = (y / 2) * (w / 2) + x / 2;
    const int U = p[w * h + c] - 128, V = p[w * h + w * h / 4 + c] - 128;
    rgb[0] = clamp(Y + ((V * 359) >> 8));
    rgb[1] = clamp(Y + ((-V * 183 - U * 88) >> 8));
    rgb[2] = clamp(Y + ((U * 453) >> 8));
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// ffmpeg's reading of an image file as packed RGB, and its size.
std::vector<uint8_t> ffmpegRgb(const std::string& path, int& width, int& height) {
    auto info = testpics::probe(path, "-show_entries stream=width,height");
    width = std::atoi(info["streams.stream.0.width"].c_str());
    height = std::atoi(info["streams.stream.0.height"].c_str());
    const std::string out = path + ".rgb";
    testpics::run("ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt rgb24 '" + out + "'");
    std::vector<uint8_t> rgb = testpics::readFile(out);
    std::filesystem::remove(out);
    return rgb;
}

std::vector<uint8_t> readDeviceFile(const WCHAR* path) {
    return testpics::readFile(host(path));
}

TEST(Bmp, HeaderRowsAndColoursAsFfmpegReadsThem) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    CaptureState state(profile());
    const uint32_t w = 10, h = 6;  // rows of 30 bytes, padded to 32
    const std::vector<uint8_t> planes = i420(w, h);
    ASSERT_EQ(writeBmp(u"\\My Documents\\t.bmp", planes.data(), w, h), 1u);
    const std::vector<uint8_t> file = readDeviceFile(u"\\My Documents\\t.bmp");
    ASSERT_EQ(file.size(), 32u * h + 54);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(file[26] | file[27] << 8, 1);   // planes
    EXPECT_EQ(file[28] | file[29] << 8, 24);  // bits per pixel
    const uint32_t words[][2] = {{2, 32 * h + 54}, {6, 0},     {10, 54}, {14, 40},
                                 {18, w},          {22, h},    {30, 0},  {34, 32 * h},
                                 {38, 3780},       {42, 3780}, {46, 0},  {50, 0}};
    for (const auto& [at, value] : words) EXPECT_EQ(get32(file, at), value) << "offset " << at;

    int width = 0, height = 0;
    const std::vector<uint8_t> rgb = ffmpegRgb(host(u"\\My Documents\\t.bmp"), width, height);
    ASSERT_EQ(width, int(w));
    ASSERT_EQ(height, int(h));
    ASSERT_EQ(rgb.size(), size_t{w} * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t want[3];
            expectedRgb(planes, w, h, x, y, want);
            const uint8_t* got = &rgb[(y * w + x) * 3];
            ASSERT_EQ(std::vector<uint8_t>(got, got + 3), std::vector<uint8_t>(want, want + 3))
                << "pixel " << x << "," << y;
        }
}

TEST(Bmp, NoRowsUnopenableFilesAndAShortWrite) {
    CaptureState state(profile());
    const std::vector<uint8_t> planes = i420(16, 16);
    EXPECT_EQ(writeBmp(u"\\My Documents\\empty.bmp", planes.data(), 16, 0), 1u);
    EXPECT_EQ(readDeviceFile(u"\\My Documents\\empty.bmp").size(), 54u);
    EXPECT_EQ(writeBmp(u"\\No Such Folder\\x.bmp", planes.data(), 16, 16), 0u);
    EXPECT_EQ(writeBmp(u"\\..\\outside.bmp", planes.data(), 16, 16), 0u);
    state.device().handheld().faults.writeBudget.store(300);
    EXPECT_EQ(writeBmp(u"\\My Documents\\full.bmp", planes.data(), 16, 16), 0u);
    state.device().handheld().faults.writeBudget.store(-1);
    EXPECT_EQ(readDeviceFile(u"\\My Documents\\full.bmp").size(), 300u) << "left as written";
}

TEST(SavePhoto, AJpegPhotoWithTheShutterSoundDecodesToTheFrame) {
    CaptureState state(profile());
    state.encodeAs(320, 240, 85, 2);
    std::vector<uint8_t> frame = sceneFrame(320, 240);
    const std::vector<uint8_t> source = frame;
    setting(kSlotCaptureMode).current.store(kModePhoto);
    traceClear();
    ASSERT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 1u);
    EXPECT_EQ(traceCount("PlaySoundW MenuPop.wav async"), 1u);
    EXPECT_EQ(narrow(gApp.lastFilePath),
              "\\Storage Card\\My Documents\\My Pictures\\61205-143015.jpg");
    const Gray photo = decodeGray(readDeviceFile(gApp.lastFilePath));
    ASSERT_EQ(photo.width, 320);
    ASSERT_EQ(photo.height, 240);
    double error = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            error += std::abs(photo.at(x, y) - source[(y * 320 + x) * 2 + 1]);
    EXPECT_LT(error / (320 * 240), 4.0) << "the photo is the frame, upright";

    setting(kSlotShutter).current.store(1);  // "Sound Off"
    traceClear();
    ASSERT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 1u);
    EXPECT_EQ(traceCount("PlaySoundW"), 0u);
}

TEST(SavePhoto, ABmpAtAQuarterTurnHasItsSidesExchangedLikeTheJpeg) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    CaptureState state(profile());
    setting(kSlotCaptureMode).current.store(kModePhoto);
    const std::vector<uint8_t> source = sceneFrame(320, 240);
    for (uint32_t rotation : {1u, 3u}) {
        // The JPEG of the turned frame (libjpeg-turbo reads it) against the BMP of the same.
        state.encodeAs(320, 240, 90, 1, rotation);
        std::vector<uint8_t> frame = source;
        ASSERT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 1u);
        const Gray jpeg = decodeGray(readDeviceFile(gApp.lastFilePath));
        ASSERT_EQ(jpeg.width, 240);
        ASSERT_EQ(jpeg.height, 320);
        DeleteFileW(gApp.lastFilePath);

        setting(kSlotPhotoFormat).current.store(0);  // "BMP"
        state.encodeAs(320, 240, 0, 1, rotation);
        frame = source;
        ASSERT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 1u);
        EXPECT_EQ(narrow(gApp.lastFilePath).substr(narrow(gApp.lastFilePath).size() - 4), ".bmp");
        int width = 0, height = 0;
        const std::vector<uint8_t> rgb = ffmpegRgb(host(gApp.lastFilePath), width, height);
        ASSERT_EQ(width, 240) << "rotation " << rotation;
        ASSERT_EQ(height, 320);
        ASSERT_EQ(rgb.size(), size_t{240} * 320 * 3);
        double error = 0;
        for (int i = 0; i < 240 * 320; ++i) {
            const double luma =
                0.299 * rgb[i * 3] + 0.587 * rgb[i * 3 + 1] + 0.114 * rgb[i * 3 + 2];
            error += std::abs(luma - jpeg.pixels[i]);
        }
        EXPECT_LT(error / (240 * 320), 6.0) << "rotation " << rotation;
        DeleteFileW(gApp.lastFilePath);
        setting(kSlotPhotoFormat).current.store(-1);
    }
}

TEST(StillPicture, AFailedPhotoLeavesTheRequestArmedAndStillWakesTheWaiter) {
    CaptureState state(profile());
    state.encodeAs(320, 240, 85, 1);
    std::vector<uint8_t> frame = sceneFrame(320, 240);
    seenActivity.store(Active);
    frameCaptureMode.store(kModePhoto);

    // No request: nothing happens.
    consumeFrame(frame.data());
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
    EXPECT_EQ(decodeGray(readDeviceFile(gApp.lastFilePath)).width, 320);
    // A frame smaller than the encoder expects is not encoded at all.
    gFrame.frameHeight = 120;
    EXPECT_EQ(savePhoto(gApp.photoImage.pixels, frame.data()), 0u);
}

TEST(Averaging, SumsInTwoBytePlanesAndShiftsByTheFrameCount) {
    uint8_t low[3] = {}, high[3] = {};
    for (uint8_t value : {10, 11, 12, 13}) {
        const uint8_t frame[3] = {value, uint8_t(value + 100), 255};
        accumulateFrame(low, high, frame, 3);
    }
    uint8_t out[3];
    finishAverage(out, low, high, 3, 2);
    EXPECT_EQ(out[0], 11);  // 46 >> 2
    EXPECT_EQ(out[1], 111);
    EXPECT_EQ(out[2], 255);

    // 256 frames of 255 make 65280, which still fits the 16 bits.
    std::memset(low, 0, 3);
    std::memset(high, 0, 3);
    const uint8_t white[3] = {255, 255, 255};
    for (int i = 0; i < 256; ++i) accumulateFrame(low, high, white, 3);
    finishAverage(out, low, high, 3, 8);
    EXPECT_EQ(out[0], 255);
}

TEST(StillPicture, AnAveragedIntervalShotIsSavedFromTheMeanOfItsFrames) {
    CaptureState state(profile());
    state.encodeAs(64, 32, 75, 1);
    setting(kSlotCaptureMode).current.store(kModeInterval);
    setting(kSlotAverage).current.store(2);  // "4"
    // The sums' low bytes live in the photo buffer: a larger buffer is refused.
    const uint32_t photoBytes = gApp.photoImage.header.biSizeImage;
    EXPECT_FALSE(allocateAverageBuffer(photoBytes + 1));
    EXPECT_FALSE(allocateAverageBuffer(0));
    EXPECT_EQ(gApp.averageBuffer, nullptr);
    EXPECT_TRUE(allocateAverageBuffer(photoBytes));
    releaseAverageBuffer();
    EXPECT_EQ(gApp.averageBufferSize, 0u);
    const uint32_t bytes = 64 * 32 * 2;
    ASSERT_TRUE(allocateAverageBuffer(bytes));
    std::memset(gApp.averageBuffer, 0, bytes);
    std::memset(gApp.photoImage.pixels, 0, bytes);
    seenActivity.store(Active);
    frameCaptureMode.store(kModeInterval);
    gApp.intervalShots.store(3);

    std::vector<uint8_t> frame(bytes);
    for (uint8_t value : {10, 11, 12, 13}) {
        std::memset(frame.data(), value, bytes);
        intervalLastFrame.store(value == 13);
        gController.snapshotArmed.store(1);
        ResetEvent(gController.frameEvent);
        consumeFrame(frame.data());
        EXPECT_EQ(gController.snapshotArmed.load(), 0u);
        EXPECT_EQ(WaitForSingleObject(gController.frameEvent, 0), WAIT_OBJECT_0);
    }
    EXPECT_EQ(frame, std::vector<uint8_t>(bytes, 11));
    EXPECT_EQ(narrow(gApp.lastFilePath),
              "\\Storage Card\\My Documents\\My Pictures\\61205-143015-03.jpg");
    const Gray shot = decodeGray(readDeviceFile(gApp.lastFilePath));
    ASSERT_EQ(shot.width, 64);
    EXPECT_NEAR(shot.at(30, 15), 11, 2);
    intervalLastFrame.store(0);
}

}  // namespace
