// Power loss in the middle of a recording: the program is killed (SIGKILL) 1, 3 and 10 s into a
// movie with sound. Before anything else ffprobe reads the cut file; the next start (of either
// edition) finishes it: header frame count = index entries = stream length, the duration that
// of the recording, every beep of the scene's sound beside its marker picture, a log line and
// the on-screen message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "e2e/e2e_support.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"

namespace {

const std::string kVideos = "device/Storage Card/My Documents/My Videos";

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Waits until `path` exists, at most `limit`; true when it does. It looks every 5 ms rather than
// spinning: a spinning test takes a processor from the recording it waits on.
bool awaitFile(const std::string& path, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The video entries in a finished movie's "idx1".
uint32_t videoIndexEntries(const std::vector<uint8_t>& file) {
    const uint32_t at = 344 + get32(file, 340);
    if (at + 8 > file.size() || get32(file, at) != 0x31786469) return 0;  // "idx1"
    uint32_t video = 0;
    for (uint32_t e = at + 8; e + 16 <= at + 8 + get32(file, at + 4); e += 16)
        video += get32(file, e) == 0x63643030;  // "00dc"
    return video;
}

// Each beep (the sound turning loud after a quiet stretch) lies near the picture that first shows
// the scene's marker square: the median distance within one tick, as with the host's inputs
// (a picture caught late on a loaded machine moves one distance, a shifted sound track all of
// them), and none further than kLateTicks.
void expectBeepsBesideMarkers(const std::string& path, const movieoracle::Movie& m) {
    const auto pictures = movieoracle::grayPictures(path, m.width, m.height);
    ASSERT_EQ(pictures.size(), m.pictureTicks.size());
    std::vector<long> markers;
    bool shown = false;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const bool marker = pictures[i][2 * size_t(m.width) + size_t(m.width) - 3] > 128;
        if (marker && !shown) markers.push_back(m.pictureTicks[i]);
        shown = marker;
    }
    const std::vector<int16_t> samples = movieoracle::soundSamples(path);
    constexpr long kLateTicks = 6;  // a quarter of a second
    std::vector<long> distances;
    long lastLoud = -100000;
    for (long i = 0; i < long(samples.size()); ++i) {
        if (std::abs(int(samples[i])) < 4000) continue;
        const bool beep = i - lastLoud > 4000;
        lastLoud = i;
        const long tick = i / 320;  // 320 samples a tick at 25 ticks a second
        if (!beep || tick + 1 > m.pictureTicks.back() || markers.empty()) continue;
        long nearest = markers[0];
        for (long t : markers)
            if (std::abs(t - tick) < std::abs(nearest - tick)) nearest = t;
        distances.push_back(std::abs(nearest - tick));
        EXPECT_LE(distances.back(), kLateTicks) << "beep at tick " << tick;
    }
    if (distances.empty()) return;  // a recording too short for a beep
    std::sort(distances.begin(), distances.end());
    EXPECT_LE(distances[distances.size() / 2], 1) << "median of " << distances.size();
}

void cutAndRecover(int seconds, const std::string& restartEdition) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    TempFolder dir;
    dir.write("p.profile", "based-on = ph10c\ncamera-fps = 25\n");
    dir.write("script", "wait 800\nkey Right\nwait 500\nkey Start\nscreenshot started.png\nwait " +
                            std::to_string(seconds * 1000) + "\nscreenshot cut.png\nwait 600000\n");
    ProgramRun run;
    run.start({"--root", dir.file("device"), "--shots", dir.file("shots"), "--script",
               dir.file("script"), "--profile", dir.file("p.profile")},
              dir.file("out"));
    const bool started = awaitFile(dir.file("shots/started.png"), std::chrono::seconds(60));
    const auto recording = std::chrono::steady_clock::now();
    const bool cut = started && awaitFile(dir.file("shots/cut.png"), std::chrono::seconds(120));
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - recording).count();
    kill(run.pid, SIGKILL);
    int status = 0;
    waitpid(run.pid, &status, 0);
    ASSERT_TRUE(cut) << run.output();
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const movieoracle::Movie before = movieoracle::readMovie(files[0]);
    EXPECT_TRUE(before.read) << "ffprobe reads the cut file before the next start";
    EXPECT_TRUE(std::filesystem::exists(files[0] + ".journal"));

    std::vector<std::string> args = {
        "--root",    dir.file("device"),   "--shots", dir.file("shots"),
        "--script",  dir.file("again"),    "--trace", dir.file("trace"),
        "--profile", dir.file("p.profile")};
    if (!restartEdition.empty()) args.insert(args.end(), {"--", restartEdition});
    dir.write("again", "wait 300\nquit\n");
    ASSERT_EQ(runProgram(args, dir.file("out2")), 0) << readText(dir.file("out2"));
    const std::string log = readText(dir.file("out2"));
    EXPECT_NE(log.find("finished the movie"), std::string::npos) << log;
    EXPECT_NE(log.find(".avi cut off while recording"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(files[0] + ".journal"));

    const std::vector<uint8_t> bytes = testpics::readFile(files[0]);
    const movieoracle::Movie m = movieoracle::readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    EXPECT_EQ(m.decodeErrors, "");
    EXPECT_EQ(get32(bytes, 48), videoIndexEntries(bytes)) << "header frames = index entries";
    EXPECT_EQ(get32(bytes, 140), videoIndexEntries(bytes)) << "stream length = index entries";
    EXPECT_EQ(m.ticks, long(get32(bytes, 48)));
    EXPECT_GE(m.duration, seconds - 1.0);
    EXPECT_LE(m.duration, recorded + 1.0);
    expectBeepsBesideMarkers(files[0], m);
}

TEST(PowerLoss, OneSecondIntoAMovieIsFinishedByTheNextStart) {
    cutAndRecover(1, "");
}

TEST(PowerLoss, ThreeSecondsIntoAMovieIsFinishedByTheOtherEditionsStart) {
    cutAndRecover(3, "1");
}

TEST(PowerLoss, TenSecondsIntoAMovieIsFinishedByTheNextStart) {
    cutAndRecover(10, "");
}

}  // namespace
