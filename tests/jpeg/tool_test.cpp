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

std::string readFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

class Tool : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-jpegenc-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::ofstream(dir + "/f.raw", std::ios::binary)
            .write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs the tool with a time limit on `arguments` (with $ for the folder), keeps what it
    // printed on stderr in `err`; its status.
    int run(std::string arguments) {
        for (size_t at; (at = arguments.find('$')) != std::string::npos;)
            arguments.replace(at, 1, dir);
        const std::string command = "timeout 30 '" LUMO_JPEGENC_TOOL "' " + arguments +
                                    " > /dev/null 2> '" + dir + "/err.txt'";
        const int raw = std::system(command.c_str());
        err = readFile(dir + "/err.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // A 96 x 64 Rgb565 frame, in $/f.raw.
    const std::vector<uint8_t> frame = pack(naturalPicture(96, 64), Rgb565).bytes;
    std::string dir, err;
};

// Bad arguments exit 2, an unreadable input or unwritable output 1; either way one line.
TEST_F(Tool, FailuresGiveOneLineAndANonZeroStatus) {
    const std::pair<std::string, int> cases[] = {
        {"", 2},
        {"--size 96x64 $/f.raw", 2},
        {"--size 96x64 --format yuv9 $/f.raw $/o.jpg", 2},
        {"--size 96x64 --quality 101 $/f.raw $/o.jpg", 2},
        {"--size 96x64 --bogus 1 $/f.raw $/o.jpg", 2},
        {"--size 88x64 $/f.raw $/o.jpg", 2},                 // not a multiple of 16
        {"--size 96x64 --format bgr24 $/f.raw $/o.jpg", 2},  // wrong file size
        {"--size 96x56 --chroma 420 $/f.raw $/o.jpg", 2},    // 56 lines for 4:2:0
        {"--size 96x64 --quality", 2},
        {"--size 96x64 $/missing.raw $/o.jpg", 1},
        {"--size 96x64 $/f.raw $/no/such/dir/o.jpg", 1},
    };
    for (const auto& [arguments, status] : cases) {
        EXPECT_EQ(run(arguments), status) << arguments;
        EXPECT_TRUE(!err.empty() && err.find('\n') == err.size() - 1) << arguments << ": " << err;
        EXPECT_EQ(err.rfind("lumo-jpegenc: ", 0), 0u) << err;
    }
    run("--size 96x64 --format bgr24 $/f.raw $/o.jpg");
    EXPECT_NE(err.find("18432"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir + "/o.jpg"));  // nothing was written
}

TEST_F(Tool, EncodesAFrameAndWritesPlanesAtQualityZero) {
    ASSERT_EQ(run("--size 96x64 --format rgb565 --chroma 422 --rotation 1 --quality 80 $/f.raw "
                  "$/o.jpg"),
              0)
        << err;
    const std::string data = readFile(dir + "/o.jpg");
    const Decoded d = decodeJpeg(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 96);
    EXPECT_EQ(d.subsampling, TJSAMP_420);
    ASSERT_EQ(run("--size=96x64 --format=rgb565 --quality=0 --scale=2 $/f.raw $/o.yuv"), 0) << err;
    EXPECT_EQ(readFile(dir + "/o.yuv").size(), 48u * 32 * 3 / 2);
}

}  // namespace
