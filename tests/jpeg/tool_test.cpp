// lumo-jpegenc run as a process: its errors are one clear line and a non-zero status.
#include <gtest/gtest.h>
#include <png.h>
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

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// `rgb` (width x height, 3 bytes a pixel) as a PNG of `format` (libpng's simplified formats).
void writePng(const std::string& path, const std::vector<uint8_t>& rgb, uint32_t width,
              uint32_t height, uint32_t format) {
    png_image staging{};
    staging.version = PNG_IMAGE_VERSION;
    staging.width = width;
    staging.height = height;
    staging.format = format;
    std::vector<uint8_t> out(PNG_IMAGE_SIZE(staging));
    const uint32_t channels = PNG_IMAGE_SAMPLE_CHANNELS(format);
    for (size_t i = 0; i < size_t{width} * height; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            out[i * channels + c] = c < 3 ? rgb[i * 3 + (channels == 1 ? 1 : c)] : 255;
    ASSERT_TRUE(png_image_write_to_file(&staging, path.c_str(), 0, out.data(), 0, nullptr));
}

// A picture file gives the same JPEG, byte for byte, as the bgr24 frame of its pixels: PNG in
// colour, grey and with (opaque) alpha, binary PPM and PGM, a PPM of 4-bit samples widened to
// 8 bits; chosen by extension or by --format.
TEST_F(Tool, PictureFilesEncodeExactlyAsTheirPixelsAsARawFrame) {
    constexpr uint32_t kW = 48, kH = 32;
    const RgbPicture picture = naturalPicture(kW, kH, 3);
    std::vector<uint8_t> grey(picture.rgb.size()), coarse(picture.rgb.size());
    std::string ppm = "P6\n# made by the test\n48 32\n255\n", pgm = "P5 48 32 255\n",
                ppm15 = "P6 48 32 15\n";
    for (size_t i = 0; i < size_t{kW} * kH; ++i)
        for (int c = 0; c < 3; ++c) {
            grey[i * 3 + c] = picture.rgb[i * 3 + 1];
            coarse[i * 3 + c] = uint8_t(picture.rgb[i * 3 + c] >> 4);
            ppm += char(picture.rgb[i * 3 + c]);
            ppm15 += char(coarse[i * 3 + c]);
            if (c == 1) pgm += char(picture.rgb[i * 3 + 1]);
        }
    std::vector<uint8_t> widened = coarse;
    for (uint8_t& v : widened) v = uint8_t(v * 17);  // 15 -> 255
    writePng(dir + "/rgb.png", picture.rgb, kW, kH, PNG_FORMAT_RGB);
    writePng(dir + "/grey.png", picture.rgb, kW, kH, PNG_FORMAT_GRAY);
    writePng(dir + "/rgba.png", picture.rgb, kW, kH, PNG_FORMAT_RGBA);
    writeBytes(dir + "/p.ppm", ppm);
    writeBytes(dir + "/p.pgm", pgm);
    writeBytes(dir + "/coarse.pnm", ppm15);
    writeBytes(dir + "/rgb-png-named.img", readFile(dir + "/rgb.png"));
    const struct {
        std::string input;
        const std::vector<uint8_t>& pixels;
    } cases[] = {
        {"$/rgb.png", picture.rgb},
        {"$/grey.png", grey},
        {"$/rgba.png", picture.rgb},
        {"$/p.ppm", picture.rgb},
        {"$/p.pgm", grey},
        {"$/coarse.pnm", widened},
        {"--format png $/rgb-png-named.img", picture.rgb},
    };
    for (const auto& c : cases) {
        writeBytes(dir + "/frame.raw",
                   std::string(reinterpret_cast<const char*>(
                                   pack(RgbPicture{kW, kH, c.pixels}, Bgr24).bytes.data()),
                               size_t{kW} * kH * 3));
        ASSERT_EQ(run("--size 48x32 --format bgr24 --quality 90 $/frame.raw $/raw.jpg"), 0) << err;
        ASSERT_EQ(run("--quality 90 " + c.input + " $/file.jpg"), 0) << c.input << ": " << err;
        EXPECT_EQ(readFile(dir + "/file.jpg"), readFile(dir + "/raw.jpg")) << c.input;
    }
}

// What cannot be read as a picture file is one line and status 2.
TEST_F(Tool, PictureFilesItCannotReadAreOneLine) {
    writeBytes(dir + "/plain.ppm", "P3 2 2 255\n0 0 0 1 1 1 2 2 2 3 3 3\n");
    writeBytes(dir + "/deep.ppm", "P6 2 2 65535\n" + std::string(24, '\0'));
    writeBytes(dir + "/cut.pgm", "P5 16 16 255\n" + std::string(10, '\0'));
    writeBytes(dir + "/bad.png", "\x89PNG\r\n\x1a\nnot really");
    writeBytes(dir + "/ok.pgm", "P5 16 16 255\n" + std::string(256, '\x40'));
    const std::pair<std::string, std::string> cases[] = {
        {"$/plain.ppm $/o.jpg", "only binary PPM (P6) and PGM (P5) are read"},
        {"$/deep.ppm $/o.jpg", "samples of 1 to 8 bits are read, not a largest value of 65535"},
        {"$/cut.pgm $/o.jpg", "cut short (10 of 256 sample bytes)"},
        {"$/bad.png $/o.jpg", "bad.png: not a PNG file we can read"},
        {"--size 16x16 $/ok.pgm $/o.jpg", "--size is for raw frames"},
        {"--format tiff $/ok.pgm $/o.jpg", "--format takes png, ppm, pgm, uyvy"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(run(arguments), 2) << arguments;
        EXPECT_NE(err.find(message), std::string::npos) << arguments << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(std::filesystem::exists(dir + "/o.jpg"));
    }
}

}  // namespace
