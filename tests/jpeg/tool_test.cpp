// lumo-jpegenc run as a process: its errors are one clear line and a non-zero status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "jpeg/jpeg_test_support.h"

namespace {

using namespace jpegtest;

class Tool : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-jpegenc-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs the tool with a time limit, keeps what it printed in `out` and `err`; its status.
    int run(const std::string& arguments) {
        const std::string command = "timeout 30 '" LUMO_JPEGENC_TOOL "' " + arguments + " > '" +
                                    dir + "/out.txt' 2> '" + dir + "/err.txt'";
        const int raw = std::system(command.c_str());
        out = read(dir + "/out.txt");
        err = read(dir + "/err.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
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
    std::string dir, out, err;
};

// Bad arguments exit 2, an unreadable input or unwritable output 1; either way one line.
TEST_F(Tool, FailuresGiveOneLineAndANonZeroStatus) {
    const std::string frame = "'" + write("f.raw", std::vector<uint8_t>(64 * 32 * 2, 0x80)) + "'";
    const std::string output = " '" + dir + "/o.jpg'";
    const std::pair<std::string, int> cases[] = {
        {"", 2},
        {"--size 64x32 " + frame, 2},
        {"--size 64x32 --format yuv9 " + frame + output, 2},
        {"--size 64by32 " + frame + output, 2},
        {"--size 64x32 --quality 101 " + frame + output, 2},
        {"--size 64x32 --rotation 4 " + frame + output, 2},
        {"--size 64x32 --scale 3 " + frame + output, 2},
        {"--size 64x32 --chroma 444 " + frame + output, 2},
        {"--size 64x32 --bogus 1 " + frame + output, 2},
        {"--size 40x32 " + frame + output, 2},                 // not a multiple of 16
        {"--size 64x32 --format bgr24 " + frame + output, 2},  // wrong file size
        {"--size 64x24 --chroma 420 " + frame + output, 2},    // 24 lines for 4:2:0
        {"--size 64x32 --quality", 2},
        {"--size 64x32 '" + dir + "/missing.raw'" + output, 1},
        {"--size 64x32 " + frame + " '" + dir + "/no/such/dir/o.jpg'", 1},
    };
    for (const auto& [arguments, status] : cases) {
        EXPECT_EQ(run(arguments), status) << arguments;
        EXPECT_TRUE(!err.empty() && err.find('\n') == err.size() - 1) << arguments << ": " << err;
        EXPECT_EQ(err.rfind("lumo-jpegenc: ", 0), 0u) << err;
    }
    run("--size 64x32 --format bgr24 " + frame + output);
    EXPECT_NE(err.find("6144"), std::string::npos);
    EXPECT_FALSE(std::ifstream(dir + "/o.jpg").good());  // nothing was written
}

TEST_F(Tool, EncodesAFrameAndWritesPlanesAtQualityZero) {
    const std::string frame = write("f.raw", pack(naturalPicture(96, 64), Rgb565));
    const std::string jpeg = dir + "/o.jpg";
    ASSERT_EQ(run("--size 96x64 --format rgb565 --chroma 422 --rotation 1 --quality 80 '" + frame +
                  "' '" + jpeg + "'"),
              0)
        << err;
    const std::string data = read(jpeg);
    const Decoded d = decodeJpeg(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 96);
    EXPECT_EQ(d.subsampling, TJSAMP_420);
    ASSERT_EQ(run("--size=96x64 --format=rgb565 --quality=0 --scale=2 '" + frame + "' '" + dir +
                  "/o.yuv'"),
              0)
        << err;
    EXPECT_EQ(read(dir + "/o.yuv").size(), 48u * 32 * 3 / 2);
    EXPECT_EQ(run("--help"), 0);
    EXPECT_NE(out.find("usage: lumo-jpegenc"), std::string::npos);
    EXPECT_NE(out.find("I420"), std::string::npos);
}

}  // namespace
