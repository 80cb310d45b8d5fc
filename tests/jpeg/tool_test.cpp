// lumo-jpegenc run as a process: its errors are one clear line and a non-zero status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "jpeg/jpeg_test_support.h"

namespace {

using namespace jpegtest;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

class Tool : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-jpegenc-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs the tool with a time limit; stdout and stderr go to files in the scratch folder.
    ToolRun run(const std::string& arguments) {
        const std::string command = "timeout 30 '" + std::string(LUMO_JPEGENC_TOOL) + "' " +
                                    arguments + " > '" + dir + "/out.txt' 2> '" + dir + "/err.txt'";
        const int raw = std::system(command.c_str());
        ToolRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = read(dir + "/out.txt");
        r.err = read(dir + "/err.txt");
        return r;
    }
    static std::string read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& data) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        return path;
    }
    static bool oneLine(const std::string& s) {
        return !s.empty() && s.back() == '\n' && s.find('\n') == s.size() - 1;
    }
    std::string dir;
};

TEST_F(Tool, BadArgumentsGiveOneLineAndStatusTwo) {
    const std::string frame = write("f.raw", std::vector<uint8_t>(64 * 32 * 2, 0x80));
    const std::string out = dir + "/o.jpg";
    const std::string bad[] = {
        "",
        "--size 64x32 '" + frame + "'",
        "--size 64x32 --format yuv9 '" + frame + "' '" + out + "'",
        "--size 64by32 '" + frame + "' '" + out + "'",
        "--size 64x32 --quality 101 '" + frame + "' '" + out + "'",
        "--size 64x32 --rotation 4 '" + frame + "' '" + out + "'",
        "--size 64x32 --scale 3 '" + frame + "' '" + out + "'",
        "--size 64x32 --chroma 444 '" + frame + "' '" + out + "'",
        "--size 64x32 --bogus 1 '" + frame + "' '" + out + "'",
        "--size 40x32 '" + frame + "' '" + out + "'",                 // not a multiple of 16
        "--size 64x32 --format bgr24 '" + frame + "' '" + out + "'",  // wrong file size
        "--size 64x24 --chroma 420 '" + frame + "' '" + out + "'",    // 24 lines for 4:2:0
        "--size 64x32 --quality",
    };
    for (const std::string& arguments : bad) {
        const ToolRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_TRUE(oneLine(r.err)) << arguments << ": " << r.err;
        EXPECT_EQ(r.err.rfind("lumo-jpegenc: ", 0), 0u) << r.err;
    }
    EXPECT_NE(run("--size 64x32 --format bgr24 '" + frame + "' '" + out + "'").err.find("6144"),
              std::string::npos);
    EXPECT_FALSE(std::ifstream(out).good());  // nothing was written
}

TEST_F(Tool, UnreadableInputOrUnwritableOutputGiveStatusOne) {
    const std::string frame = write("f.raw", std::vector<uint8_t>(64 * 32 * 2, 0x80));
    ToolRun r = run("--size 64x32 '" + dir + "/missing.raw' '" + dir + "/o.jpg'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
    r = run("--size 64x32 '" + frame + "' '" + dir + "/no/such/dir/o.jpg'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
}

TEST_F(Tool, EncodesAFrameAndWritesPlanesAtQualityZero) {
    const RgbPicture p = naturalPicture(96, 64);
    const std::string frame = write("f.raw", pack(p, Rgb565));
    const std::string jpeg = dir + "/o.jpg";
    ToolRun r = run("--size 96x64 --format rgb565 --chroma 422 --rotation 1 --quality 80 '" +
                    frame + "' '" + jpeg + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string data = read(jpeg);
    const Decoded d = decodeJpeg(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 96);
    EXPECT_EQ(d.subsampling, TJSAMP_420);

    r = run("--size=96x64 --format=rgb565 --quality=0 --scale=2 '" + frame + "' '" + dir +
            "/o.yuv'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read(dir + "/o.yuv").size(), 48u * 32 * 3 / 2);

    r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: lumo-jpegenc"), std::string::npos);
    EXPECT_NE(r.out.find("I420"), std::string::npos);
}

}  // namespace
