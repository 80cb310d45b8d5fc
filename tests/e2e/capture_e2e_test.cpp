// Photos, movies and interval runs as the built program makes them, driven by device scripts on
// simulated handhelds; what they leave is read by independent readers: libjpeg-turbo for JPEG
// photos, ffmpeg for BMP photos, ffprobe and ffmpeg for movies.
#include <gtest/gtest.h>

#include <cmath>

#include "e2e/e2e_support.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"

namespace {

using movieoracle::readMovie;

#define REQUIRE_FFMPEG() \
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed"

const std::string kPictures = "device/Storage Card/My Documents/My Pictures";
const std::string kVideos = "device/Storage Card/My Documents/My Videos";

// Runs the program on `profile` (a built-in name or a profile file) with `script`.
int run(const TempFolder& dir, const std::string& script, const std::string& profile = "ph10c") {
    return runScript(dir, script, {"--profile", profile});
}

Picture decodeJpegFile(const std::string& path) {
    std::string complaint;
    return decodeJpeg(testpics::readFile(path), complaint);
}

// Key presses that move `items` down a page, then edit the selected value by `steps`
// (negative: up) and apply it.
std::string editItem(int items, int steps) {
    return keys("Down", items) + "key Start\n" + keys(steps < 0 ? "Up" : "Down", std::abs(steps)) +
           "key Start\n";
}

// From the hidden menu: the Main page, its mode item, the mode page.
const std::string kOpenModePage = "key A\nkey Down\nkey Start\n";
// A screenshot waits until the program has handled the input before it and has drawn the live
// picture anew: the camera streams again, so an action key that follows finds a frame to take.
const std::string kAwaitLive = "screenshot live.png\n";
const std::string kHideMenu = "key A\n" + kAwaitLive;

TEST(Photos, JpegAndBmpPhotosAndEveryPhotoChoice) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    // Each photo a second or more after the last, so their dated names differ: those waits
    // are the point. The last await lets the program handle the keys before the script ends.
    const std::string script =
        kAwaitLive +
        "key Start\nwait 1100\nkey Start\n"                      // "Save Photo"
        "key Start\nwait 1100\nkey Down\nkey Start\n"            // "Don't save photo"
        "key Start\nwait 1100\nkey Down\nkey Down\nkey Start\n"  // "View in Album"
        "await background\nforeground\nawait foreground\nkey Up\nkey Up\nkey Start\n" +
        kOpenModePage + editItem(2, -1) + kHideMenu +  // "Format" "BMP"
        "key Start\nwait 1100\nkey Start\nawait files .bmp 1\n";
    ASSERT_EQ(run(dir, script), 0) << readText(dir.file("out"));

    const auto jpegFiles = madeFiles(dir.file(kPictures), ".jpg");
    const auto bmpFiles = madeFiles(dir.file(kPictures), ".bmp");
    ASSERT_EQ(jpegFiles.size(), 2u) << "two JPEG photos kept, one deleted";
    ASSERT_EQ(bmpFiles.size(), 1u);
    const auto trace = readLines(dir.file("trace"));
    EXPECT_GE(findEntry(trace, "DeleteFileW"), 0);
    EXPECT_GE(findEntry(trace, "ShellExecuteEx"), 0);
    EXPECT_EQ(
        std::count_if(trace.begin(), trace.end(),
                      [](const std::string& e) { return e.rfind("PlaySoundW MenuPop", 0) == 0; }),
        4);

    const Picture bmp = decodeBmp(bmpFiles[0]);
    ASSERT_EQ(bmp.width, 640);
    ASSERT_EQ(bmp.height, 480);
    for (const std::string& f : jpegFiles) {
        EXPECT_EQ(decodeJpegFile(f).width, 640);
        EXPECT_EQ(decodeJpegFile(f).height, 480);
    }
    // The same scene, the right way up: only the moving parts differ.
    EXPECT_LT(meanDifference(bmp, decodeJpegFile(jpegFiles[0])), 20.0);
}

TEST(Photos, APhotoThatCannotBeSavedGoesBackToTheLivePreview) {
    TempFolder dir;
    // The failed photo opens no choice page, so the next action key takes a new photo, whose
    // page then deletes it ("Don't save photo"). Had the failure opened a page, these keys would
    // have kept a photo instead.
    // The photo is taken while the action key is handled: once its file is there the card
    // may have room again.
    const std::string script =
        kAwaitLive + "device full-card 0\nkey Start\nawait files .jpg 1\ndevice full-card off\n" +
        kAwaitLive + "key Start\nkey Down\nkey Start\nawait files .jpg 1\n";
    ASSERT_EQ(run(dir, script), 0) << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kPictures), ".jpg");
    ASSERT_EQ(files.size(), 1u) << "the failed photo's file stays as far as it was written";
    EXPECT_EQ(std::filesystem::file_size(files[0]), 0u);
    EXPECT_GE(findEntry(readLines(dir.file("trace")), "DeleteFileW"), 0);
}

TEST(Movies, WithSoundPausedAndContinuedThenSavedAndOneNotSaved) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    // The waits after the action key are how long the program records and pauses: the point.
    const std::string script =
        kAwaitLive + "key Right\n" + kAwaitLive +
        "key Start\nwait 1200\n"  // record
        "key Start\nwait 800\n"   // pause on the movie choice page
        "key Start\nwait 1200\n"  // "Continue record"
        "key Start\nkey Down\nkey Start\n" +
        kAwaitLive +  // "Save movie"
        "key Start\nwait 500\n"
        "key Start\nkey Down\nkey Down\nkey Start\nawait files .avi 1\n";  // "Don't save movie"
    ASSERT_EQ(run(dir, script), 0) << readText(dir.file("out"));

    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GE(findEntry(readLines(dir.file("trace")), "DeleteFileW"), 0);
    const auto m = readMovie(files[0]);
    ASSERT_TRUE(m.read);
    EXPECT_EQ(m.streams, 2);
    EXPECT_EQ(m.frameRate, "25/1");
    // About 2.4 seconds of recording; the pause in between left no ticks.
    EXPECT_GT(m.ticks, 45);
    EXPECT_LT(m.ticks, 75);
    EXPECT_NEAR(m.duration, m.ticks * 0.040, 1e-6);
    ASSERT_FALSE(m.pictureTicks.empty());
    EXPECT_EQ(m.pictureTicks.front(), 0);
    for (size_t i = 1; i < m.pictureTicks.size(); ++i)
        EXPECT_GT(m.pictureTicks[i], m.pictureTicks[i - 1]);
    EXPECT_LT(m.pictureTicks.back(), m.ticks);
    // One 40 ms chunk of sound a tick; a tick may be a few chunks behind.
    EXPECT_TRUE(m.sound);
    EXPECT_NEAR(double(m.soundSamples), m.ticks * 320.0, 4 * 320.0);
    EXPECT_EQ(m.decodeErrors, "");
}

TEST(Movies, SoundAndPictureStayTogetherForTenSeconds) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    // A camera at the movie's 25 frames a second, so a picture is at most one tick old.
    dir.write("p.profile", "based-on = ph10c\ncamera-fps = 25\n");
    ASSERT_EQ(run(dir,
                  kAwaitLive + "key Right\n" + kAwaitLive + "key Start\nwait 10000\n" +
                      "key Start\nkey Down\nkey Start\nawait files .avi 1\n",
                  dir.file("p.profile")),
              0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    ASSERT_EQ(m.decodeErrors, "");
    EXPECT_GT(m.ticks, 230);

    // Marker frames: the white square in the scene's top-right corner.
    const auto pictures = movieoracle::grayPictures(files[0], m.width, m.height);
    ASSERT_EQ(pictures.size(), m.pictureTicks.size());
    std::vector<long> markers;
    bool shown = false;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const bool marker = pictures[i][2 * m.width + m.width - 3] > 128;
        if (marker && !shown) markers.push_back(m.pictureTicks[i]);
        shown = marker;
    }
    // Beeps: where the sound turns loud after a quiet stretch; 320 samples a tick.
    const std::vector<int16_t> samples = movieoracle::soundSamples(files[0]);
    std::vector<double> beeps;
    long lastLoud = -100000;
    for (long i = 0; i < long(samples.size()); ++i) {
        if (std::abs(int(samples[i])) < 4000) continue;
        if (i - lastLoud > 4000) beeps.push_back(double(i) / 320);
        lastLoud = i;
    }
    ASSERT_GE(beeps.size(), 9u);
    ASSERT_GE(markers.size(), 9u);
    for (double beep : beeps) {
        // The sound may run a few chunks past the last picture: a beep there has its marker in
        // a picture that was never recorded.
        if (long(std::floor(beep)) + 1 > m.pictureTicks.back()) continue;
        long nearest = markers[0];
        for (long t : markers)
            if (std::abs(t - beep) < std::abs(nearest - beep)) nearest = t;
        EXPECT_LE(std::abs(nearest - long(std::floor(beep))), 1)
            << "beep at tick " << beep << ", marker at tick " << nearest;
    }
}

TEST(Movies, AFullCardPausesTheRecordingAndTheSavedMovieKeepsWhatWasWritten) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    const std::string script =
        kAwaitLive + "key Right\n" + kAwaitLive +
        "device full-card 150000\n"
        "key Start\nwait 4000\n"  // longer than the card's room lasts
        "device full-card off\n"
        "key Down\nkey Start\nawait files .avi 1\n";  // "Save movie" on the page the failure opened
    ASSERT_EQ(run(dir, script), 0) << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LE(std::filesystem::file_size(files[0]), 150000u + 20000u) << "chunks, index, header";
    const auto m = readMovie(files[0]);
    ASSERT_TRUE(m.read) << "the movie was closed from the choice page";
    EXPECT_GT(m.ticks, 0);
    // The card fills within about 40 ticks (40 ms each; more where pictures are dropped, as
    // under a sanitizer); the key comes 4000 ms = 100 ticks after the start.
    EXPECT_LT(m.ticks, 90) << "the recording stopped at the failure, not at the key";
    EXPECT_FALSE(m.pictureTicks.empty());
    EXPECT_EQ(m.decodeErrors, "");
}

// The second run, on a device without wave input and with room (3,000,000 bytes starting a movie
// is checked in process), closes the program in the middle of its recording: the movie is kept
// whole, header and index written, so players read every picture (about 1.5 s at 25 a second).
TEST(Movies, NotStartedBelow3000000BytesSilentWithoutAWaveInputAndKeptWhenClosed) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    dir.write("full.profile", "based-on = ph10c\nfree-space = 2999999\n");
    // The program is closed 1.5 s into its recording: that wait is the point.
    const std::string script =
        kAwaitLive + "key Right\n" + kAwaitLive + "key Start\nwait 1500\nquit\n";
    ASSERT_EQ(run(dir, script, dir.file("full.profile")), 0) << readText(dir.file("out"));
    EXPECT_TRUE(madeFiles(dir.file(kVideos), ".avi").empty());

    TempFolder second;
    second.write("nosnd.profile", "based-on = ph10c\nwave-input = no\n");
    ASSERT_EQ(run(second, script, second.file("nosnd.profile")), 0) << readText(second.file("out"));
    const auto files = madeFiles(second.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = readMovie(files[0]);
    EXPECT_EQ(m.streams, 1);
    EXPECT_FALSE(m.sound);
    EXPECT_GT(m.pictureTicks.size(), 5u);
    EXPECT_EQ(m.decodeErrors, "");
}

// The still scene of the simulated handheld (LUMO_STILL_SCENE, set here for the child only):
// every camera picture is the same frame and the microphone plays its plain tone, so two photos
// taken apart are the same bytes and a movie holds one picture. Without it the scene moves.
class StillScene {
  public:
    explicit StillScene(bool on) {
        if (on) setenv("LUMO_STILL_SCENE", "1", 1);
    }
    ~StillScene() { unsetenv("LUMO_STILL_SCENE"); }
};

// Two photos kept, 700 ms apart, then a movie of a second and a half.
std::vector<std::string> photosAndMovie(const TempFolder& dir) {
    const std::string photo = kAwaitLive + "key Start\nkey Start\n";
    const std::string script = photo + "wait 700\n" + photo + "await files .jpg 2\nkey Right\n" +
                               kAwaitLive + "key Start\nwait 1500\nkey Start\nkey Down\n" +
                               "key Start\nawait files .avi 1\n";
    EXPECT_EQ(run(dir, script), 0) << readText(dir.file("out"));
    std::vector<std::string> files = madeFiles(dir.file(kPictures), ".jpg");
    for (const std::string& movie : madeFiles(dir.file(kVideos), ".avi")) files.push_back(movie);
    return files;
}

TEST(StillScene, PhotosAndMoviePicturesDoNotDependOnWhenTheyWereTaken) {
    REQUIRE_FFMPEG();
    TempFolder still;
    std::vector<std::string> files;
    {
        StillScene on(true);
        files = photosAndMovie(still);
    }
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(testpics::readFile(files[0]), testpics::readFile(files[1]));
    const auto m = readMovie(files[2]);
    ASSERT_TRUE(m.read);
    const auto pictures = movieoracle::grayPictures(files[2], m.width, m.height);
    ASSERT_GT(pictures.size(), 10u);
    for (size_t i = 1; i < pictures.size(); ++i) EXPECT_EQ(pictures[i], pictures[0]) << i;
    // Over a second of sound without the beep: only the quiet tone (peak 600).
    const std::vector<int16_t> samples = movieoracle::soundSamples(files[2]);
    ASSERT_GT(samples.size(), 8000u);
    int peak = 0;
    for (int16_t v : samples) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 500);
    EXPECT_LT(peak, 1000);

    TempFolder moving;
    StillScene off(false);
    files = photosAndMovie(moving);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_NE(testpics::readFile(files[0]), testpics::readFile(files[1]))
        << "the frame counter and the disk moved between the photos";
}

TEST(Interval, AveragedShotsBackToBackNumberedInTheirNames) {
    TempFolder dir;
    const std::string script = kAwaitLive + "key Right\nkey Right\n" + kAwaitLive + kOpenModePage +
                               editItem(7, -4) +  // "Delay" "0 sec"
                               editItem(1, 2) +   // "Average" "4"
                               kHideMenu + "key Start\nawait files .jpg 2\nkey Start\n" +
                               kAwaitLive;
    ASSERT_EQ(run(dir, script), 0) << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kPictures), ".jpg");
    ASSERT_GE(files.size(), 2u);
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = std::filesystem::path(files[i]).filename().string();
        EXPECT_NE(name.find("-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".jpg"),
                  std::string::npos)
            << name;
        const Picture shot = decodeJpegFile(files[i]);
        EXPECT_EQ(shot.width, 640);
        EXPECT_EQ(shot.height, 480);
    }
}

}  // namespace
