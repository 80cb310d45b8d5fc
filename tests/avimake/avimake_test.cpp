// lumo-avimake on an averaged interval run's shots and on pictures made here: what ffprobe and
// ffmpeg read in the movie (one frame per picture at the chosen rate, each the source JPEG's
// bytes, each decoding exactly as its source), the orders, and the pictures it refuses.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>

#include "media/test_pictures.h"
#include "support/program_run.h"

namespace {

const std::string kPictures = "device/Storage Card/My Documents/My Pictures";

// The program's JPEG files under `folder`, in name order (dated names: the order they were made).
std::vector<std::string> jpegFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

testpics::CommandResult avimake(const std::string& args) {
    return testpics::run(std::string(LUMO_AVIMAKE) + " " + args);
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The sizes of the movie's video packets in order, as ffprobe reads them.
std::vector<size_t> packetSizes(const std::string& movie) {
    const auto r = testpics::run(
        "ffprobe -v error -select_streams v:0 -show_entries packet=size "
        "-of csv=p=0 '" +
        movie + "'");
    std::vector<size_t> sizes;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) sizes.push_back(std::stoul(line));
    return sizes;
}

// What ffmpeg decodes from `input` (a movie or a JPEG), as raw RGB bytes.
std::vector<uint8_t> decoded(const TempFolder& dir, const std::string& input) {
    const std::string out = dir.file("decoded.rgb");
    const auto r = testpics::run("ffmpeg -nostdin -v error -y -i '" + input +
                                 "' -f rawvideo -pix_fmt rgb24 '" + out + "'");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return testpics::readFile(out);
}

TEST(Avimake, TheExampleIntervalRunsShotsBecomeOneFramePerPictureAtTheChosenRate) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    TempFolder dir;
    // The example script of the interval guide: 12 shots, each the average of 4 pictures.
    ASSERT_EQ(runProgram({"--root", dir.file("device"), "--script", LUMO_TIMELAPSE_SCRIPT},
                         dir.file("out")),
              0)
        << readText(dir.file("out"));
    const auto shots = jpegFiles(dir.file(kPictures));
    ASSERT_GE(shots.size(), 12u);

    const std::string movie = dir.file("timelapse.avi");
    const auto r = avimake("--fps 25 -o '" + movie + "' '" + dir.file(kPictures) + "'");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find(std::to_string(shots.size()) + " pictures of 640x480 at 25 frames"),
              std::string::npos)
        << r.output;

    const auto stream = testpics::probe(movie, "-count_frames -select_streams v:0 -show_streams");
    EXPECT_EQ(stream.at("streams.stream.0.codec_name"), "mjpeg");
    EXPECT_EQ(stream.at("streams.stream.0.r_frame_rate"), "25/1");
    EXPECT_EQ(stream.at("streams.stream.0.nb_read_frames"), std::to_string(shots.size()));
    // Stored as they are: each packet is its picture's file, byte for byte in size and order,
    // and decodes exactly as the picture does.
    std::vector<size_t> sourceSizes;
    std::vector<uint8_t> sourcePixels;
    for (const std::string& shot : shots) {
        sourceSizes.push_back(std::filesystem::file_size(shot));
        const auto pixels = decoded(dir, shot);
        sourcePixels.insert(sourcePixels.end(), pixels.begin(), pixels.end());
    }
    EXPECT_EQ(packetSizes(movie), sourceSizes);
    const auto moviePixels = decoded(dir, movie);
    EXPECT_EQ(moviePixels.size(), sourcePixels.size());
    EXPECT_TRUE(moviePixels == sourcePixels) << "a frame differs from its picture's decode";
}

TEST(Avimake, OrdersByNameWithNumbersAsNumbersOrByTheDateInTheName) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    TempFolder dir;
    // Pictures of different lengths, so the packet sizes tell which picture is where.
    const std::vector<std::pair<std::string, int>> files = {{"shot-10.jpg", 10},
                                                            {"shot-9.jpg", 40},
                                                            {"IMG_20240101_000001.jpg", 70},
                                                            {"231231-235959-01.JPG", 95},
                                                            {"231231-235959-00.jpeg", 20}};
    std::map<std::string, size_t> sizes;
    for (const auto& [name, quality] : files) {
        const auto jpeg = testpics::makeJpeg(48, 32, quality, quality);
        writeBytes(dir.file(name), jpeg);
        sizes[name] = jpeg.size();
    }
    const struct {
        std::string args;
        std::vector<std::string> order;
    } cases[] = {
        {"",
         {"231231-235959-00.jpeg", "231231-235959-01.JPG", "IMG_20240101_000001.jpg", "shot-9.jpg",
          "shot-10.jpg"}},
        {"--sort date '" + dir.file("shot-9.jpg") + "' '" + dir.file("shot-10.jpg") + "'", {}},
        {"--sort date '" + dir.file("IMG_20240101_000001.jpg") + "' '" +
             dir.file("231231-235959-01.JPG") + "' '" + dir.file("231231-235959-00.jpeg") + "'",
         {"231231-235959-00.jpeg", "231231-235959-01.JPG", "IMG_20240101_000001.jpg"}},
    };
    for (const auto& c : cases) {
        const std::string movie = dir.file("m.avi");
        const auto r =
            avimake("-q -o '" + movie + "' " + (c.args.empty() ? "'" + dir.path() + "'" : c.args));
        if (c.order.empty()) {
            EXPECT_EQ(r.exitCode, 2) << c.args;
            EXPECT_NE(r.output.find("shot-9.jpg: no date in the name"), std::string::npos)
                << r.output;
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.output;
        std::vector<size_t> expected;
        for (const std::string& name : c.order) expected.push_back(sizes[name]);
        EXPECT_EQ(packetSizes(movie), expected) << c.args;
    }
}

TEST(Avimake, RefusesWhatItCannotJoinWithOneLineAndWritesNoMovie) {
    TempFolder dir;
    writeBytes(dir.file("a.jpg"), testpics::makeJpeg(48, 32, 1));
    writeBytes(dir.file("wide.jpg"), testpics::makeJpeg(64, 32, 2));
    writeBytes(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
    writeBytes(dir.file("cut.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A});
    {
        // A progressive JPEG of the same size.
        std::vector<uint8_t> rgb(48 * 32 * 3, 128);
        tjhandle tj = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(tjCompress2(tj, rgb.data(), 48, 0, 32, TJPF_RGB, &out, &size, TJSAMP_420, 80,
                              TJFLAG_PROGRESSIVE),
                  0);
        writeBytes(dir.file("progressive.jpg"), std::vector<uint8_t>(out, out + size));
        tjFree(out);
        tjDestroy(tj);
    }
    std::filesystem::create_directory(dir.file("empty"));
    const std::string a = "'" + dir.file("a.jpg") + "'";
    const std::string movie = dir.file("never.avi");
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"-o '" + movie + "' " + a + " '" + dir.file("wide.jpg") + "'",
         "wide.jpg is 64x32, but " + dir.file("a.jpg") +
             " is 48x32: all pictures must have one "
             "size"},
        {"-o '" + movie + "' " + a + " '" + dir.file("progressive.jpg") + "'",
         "progressive.jpg: not a baseline JPEG"},
        {"-o '" + movie + "' '" + dir.file("text.jpg") + "'", "text.jpg: not a JPEG file"},
        {"-o '" + movie + "' '" + dir.file("cut.jpg") + "'", "cut.jpg: damaged JPEG file"},
        {"-o '" + movie + "' '" + dir.file("gone.jpg") + "'",
         "gone.jpg: No such file or directory"},
        {"-o '" + movie + "' '" + dir.file("empty") + "'", "a folder with no .jpg or .jpeg files"},
        {"--fps 0 -o '" + movie + "' " + a, "--fps takes a rate of 0.001 to 1000"},
        {"--sort size -o '" + movie + "' " + a, "--sort takes name or date"},
        {a, "no movie to write: name it with -o MOVIE.avi"},
        {"-o '" + movie + "'", "no pictures given"},
        {"--frames 3 -o '" + movie + "' " + a, "unknown option '--frames'"},
    };
    for (const auto& c : cases) {
        const auto r = avimake(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_NE(r.output.find("lumo-avimake: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(movie)) << c.args;
    }
}

}  // namespace
