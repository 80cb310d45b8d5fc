// lumo-avifix on movies the writer left cut off: finished exactly with the journal, approximately
// without (and saying so), complete ones and foreign files left as they were; nothing but the
// movie is ever written. ffprobe reads the results.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "media/avi_writer.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"

namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every file in `dir` with its bytes.
std::map<std::string, std::vector<uint8_t>> snapshot(const fs::path& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = testpics::readFile(e.path().string());
    return files;
}

class AviFix : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::path(::testing::TempDir()) / ("avifix_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    testpics::CommandResult fix(const std::string& arguments) {
        return testpics::run("timeout 60 '" LUMO_AVIFIX_TOOL "' " + arguments);
    }

    // Records a movie of `pictures` pictures at 100 ms ticks, a picture every 250 ms, into
    // `name`; copies the movie and its journal as they stand after `cutAt` pictures to
    // `name`-cut.avi and its journal, then closes the movie normally.
    void record(const std::string& name, int pictures, int cutAt) {
        AviWriter w;
        w.frameMs = 100;
        const std::string path = (dir / name).string();
        ASSERT_TRUE(aviOpen(w, path.c_str(), 40, 30, false));
        std::vector<uint8_t> previous;
        for (int k = 0; k < pictures; ++k) {
            ASSERT_TRUE(
                aviWriteFrame(w, previous.data(), uint32_t(previous.size()), uint32_t(250 * k), 1));
            previous = testpics::makeJpeg(40, 30, k);
            w.pictureChanged = 1;
            ASSERT_TRUE(
                aviWriteFrame(w, previous.data(), uint32_t(previous.size()), uint32_t(250 * k), 0));
            if (k + 1 == cutAt) {
                fs::copy_file(path, dir / "cut.avi");
                fs::copy_file(path + kAviJournalSuffix, dir / "cut.avi.journal");
                cutEntries = w.videoEntries;
            }
        }
        aviClose(w);
    }

    fs::path dir;
    uint32_t cutEntries = 0;
};

TEST_F(AviFix, FinishesExactlyWithTheJournalAndApproximatelyWithout) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    record("whole.avi", 12, 8);
    EXPECT_FALSE(fs::exists(dir / ("whole.avi" + std::string(kAviJournalSuffix))))
        << "a normal close deletes the journal";
    fs::copy_file(dir / "cut.avi", dir / "bare.avi");
    const std::vector<uint8_t> journal = testpics::readFile((dir / "cut.avi.journal").string());

    const auto exact = fix("'" + (dir / "cut.avi").string() + "'");
    EXPECT_EQ(exact.exitCode, 0) << exact.output;
    EXPECT_NE(exact.output.find("cut.avi: finished, " + std::to_string(cutEntries) + " frames"),
              std::string::npos)
        << exact.output;
    EXPECT_EQ(exact.output.find("approximate"), std::string::npos);
    EXPECT_EQ(testpics::readFile((dir / "cut.avi.journal").string()), journal) << "only read";
    const movieoracle::Movie m = movieoracle::readMovie((dir / "cut.avi").string());
    EXPECT_EQ(std::tuple(m.ticks, m.frameRate, m.decodeErrors),
              std::tuple(long(cutEntries), "10/1", ""));
    // Pictures every 2.5 ticks, as recorded: the same ticks as in the whole movie.
    const movieoracle::Movie whole = movieoracle::readMovie((dir / "whole.avi").string());
    ASSERT_LE(m.pictureTicks.size(), whole.pictureTicks.size());
    EXPECT_TRUE(
        std::equal(m.pictureTicks.begin(), m.pictureTicks.end(), whole.pictureTicks.begin()));

    const auto bare = fix("'" + (dir / "bare.avi").string() + "'");
    EXPECT_EQ(bare.exitCode, 0) << bare.output;
    EXPECT_NE(bare.output.find("timing approximate"), std::string::npos) << bare.output;
    const movieoracle::Movie b = movieoracle::readMovie((dir / "bare.avi").string());
    EXPECT_EQ(b.decodeErrors, "");
    EXPECT_EQ(size_t(b.ticks), m.pictureTicks.size()) << "one frame per stored picture";

    const auto again =
        fix("'" + (dir / "cut.avi").string() + "' '" + (dir / "whole.avi").string() + "'");
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.output.find("cut.avi: already complete"), std::string::npos) << again.output;
    EXPECT_NE(again.output.find("whole.avi: already complete"), std::string::npos);
}

TEST_F(AviFix, LeavesFilesItCannotUnderstandAsTheyWereAndWritesNothingElse) {
    record("whole.avi", 3, 0);
    writeFile(dir / "notes.avi", std::vector<uint8_t>(5000, 'n'));
    writeFile(dir / "short.avi", {'R', 'I', 'F', 'F'});
    std::vector<uint8_t> riffWav = testpics::readFile((dir / "whole.avi").string());
    std::memcpy(&riffWav[8], "WAVE", 4);
    writeFile(dir / "sound.wav", riffWav);
    const auto before = snapshot(dir);
    for (const char* name : {"notes.avi", "short.avi", "sound.wav", "missing.avi"}) {
        SCOPED_TRACE(name);
        const auto r = fix("'" + (dir / name).string() + "'");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_EQ(r.output.rfind("lumo-avifix: " + (dir / name).string() + ": ", 0), 0u)
            << r.output;
    }
    EXPECT_EQ(snapshot(dir), before);
}

TEST_F(AviFix, CommandLine) {
    const auto help = fix("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("usage: lumo-avifix FILE...\n", 0), 0u);
    EXPECT_EQ(fix("").exitCode, 2);
    const auto unknown = fix("--fast x.avi");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.output, "lumo-avifix: unknown option '--fast' (see lumo-avifix --help)\n");
}

}  // namespace
