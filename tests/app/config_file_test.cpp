// Config.txt: the two keys, where and how they are found, and files of any content and size.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "app/app_state.h"
#include "app/persistence.h"
#include "support/temp_device.h"

namespace {

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::strcpy(gApp.webcamServer, "default.example");
        for (int32_t& v : gApp.captureWindow) v = 0;
    }

    void write(const std::string& bytes) {
        std::ofstream(device_.root() + "/Config.txt", std::ios::binary) << bytes;
    }
    bool read(const std::string& bytes) {
        write(bytes);
        return readConfigFile(u"\\Config.txt");
    }
    static std::string server() { return gApp.webcamServer; }
    static std::vector<int32_t> window() { return {gApp.captureWindow, gApp.captureWindow + 4}; }
    using Window = std::vector<int32_t>;

    TempDevice device_;
};

}  // namespace

TEST_F(ConfigFileTest, WebcamServer) {
    EXPECT_TRUE(read("WebcamIP:   192.168.0.10\r\n"));
    EXPECT_EQ(server(), "192.168.0.10");
    EXPECT_EQ(window(), (Window{-1, -1, -1, -1}));  // the file was read
    EXPECT_TRUE(read("WebcamIP: 192.168.0.10 # the office\n"));
    EXPECT_EQ(server(), "192.168.0.10");
    EXPECT_TRUE(read("# last line\nWebcamIP:host.example"));  // no line end
    EXPECT_EQ(server(), "host.example");
    EXPECT_TRUE(read("WebcamIP:\t tab.example\n"));  // only blanks are skipped
    EXPECT_EQ(server(), "");
    EXPECT_TRUE(read("WebcamIP:\n"));
    EXPECT_EQ(server(), "");
}

TEST_F(ConfigFileTest, CaptureWindow) {
    EXPECT_TRUE(read("CaptureWindow: 0,26,240,268\n"));
    EXPECT_EQ(window(), (Window{0, 26, 240, 268}));
    EXPECT_EQ(server(), "default.example");
    EXPECT_TRUE(read("CaptureWindow: 10,20\n"));
    EXPECT_EQ(window(), (Window{10, 20, -1, -1}));
    EXPECT_TRUE(read("CaptureWindow:1, 2 ,3,4,5"));
    EXPECT_EQ(window(), (Window{1, 2, 3, 4}));
    EXPECT_TRUE(read("CaptureWindow: 99999999999,-99999999999,x,\n"));
    EXPECT_EQ(window(), (Window{INT32_MAX, INT32_MIN, 0, 0}));
    EXPECT_TRUE(read("CaptureWindow:\n"));
    EXPECT_EQ(window(), (Window{-1, -1, -1, -1}));
}

TEST_F(ConfigFileTest, KeysAnywhereFirstOccurrenceCaseSensitive) {
    EXPECT_TRUE(
        read("xxCaptureWindow:4,6,8,10 yyWebcamIP: a.example WebcamIP: b.example\n"
             "CaptureWindow: 1,1,1,1\n"));
    EXPECT_EQ(server(), "a.example");
    EXPECT_EQ(window(), (Window{4, 6, 8, 10}));
    EXPECT_TRUE(read("webcamip: lower.example\ncapturewindow: 1,2,3,4\n"));
    EXPECT_EQ(server(), "a.example");
    EXPECT_EQ(window(), (Window{-1, -1, -1, -1}));
}

TEST_F(ConfigFileTest, MissingOrEmptyFileChangesNothing) {
    EXPECT_FALSE(readConfigFile(u"\\Nowhere\\Config.txt"));
    EXPECT_EQ(server(), "default.example");
    EXPECT_EQ(window(), (Window{0, 0, 0, 0}));
    EXPECT_FALSE(read(""));
    EXPECT_EQ(server(), "default.example");
    EXPECT_EQ(window(), (Window{0, 0, 0, 0}));
}

TEST_F(ConfigFileTest, ValuesOf100BytesOrMoreAreIgnored) {
    const std::string host99(99, 'h');
    EXPECT_TRUE(read("WebcamIP: " + host99 + "\n"));
    EXPECT_EQ(server(), host99);
    EXPECT_TRUE(read("WebcamIP: " + std::string(100, 'x') + "\n"));
    EXPECT_EQ(server(), host99);
    EXPECT_TRUE(read("CaptureWindow: 1,2,3," + std::string(100, '4') + "\n"));
    EXPECT_EQ(window(), (Window{-1, -1, -1, -1}));
    // A value that runs to the end of a large file.
    EXPECT_TRUE(read("WebcamIP: " + std::string(3 << 20, 'a')));
    EXPECT_EQ(server(), host99);
}

TEST_F(ConfigFileTest, NulBytesHighBytesAndJunk) {
    EXPECT_TRUE(read(std::string("\0WebcamIP: hidden.example\n", 26)));  // the text ends at NUL
    EXPECT_EQ(server(), "default.example");
    EXPECT_TRUE(read(std::string("WebcamIP: ab\0cd\n", 17)));
    EXPECT_EQ(server(), "ab");
    EXPECT_TRUE(read("WebcamIP: caf\xc3\xa9.example\nCaptureWindow: 7,\xff 8,9\n"));
    EXPECT_EQ(server(), "caf");
    EXPECT_EQ(window(), (Window{7, 0, -1, -1}));  // the value ends at 0xFF: "7,"

    // Random bytes with the keys somewhere inside, and megabytes before the key.
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string junk(random() % 4096, '\0');
        for (char& c : junk) c = static_cast<char>(random() % 256);
        const size_t at = junk.empty() ? 0 : random() % junk.size();
        junk.insert(at, round % 2 ? "WebcamIP:" : "CaptureWindow:");
        read(junk);
        EXPECT_LT(std::strlen(gApp.webcamServer), kServerTextBytes);
    }
    EXPECT_TRUE(read(std::string(2 << 20, 'x') + "WebcamIP: far.example"));
    EXPECT_EQ(server(), "far.example");
}

TEST(ConfigTextTest, ParserTakesAnyTerminatedText) {
    std::strcpy(gApp.webcamServer, "default.example");
    applyConfigText("");
    EXPECT_STREQ(gApp.webcamServer, "default.example");
    EXPECT_EQ(gApp.captureWindow[0], -1);
    applyConfigText("WebcamIP:");
    EXPECT_STREQ(gApp.webcamServer, "");
    applyConfigText("CaptureWindow:,,");
    EXPECT_EQ(gApp.captureWindow[0], 0);
    EXPECT_EQ(gApp.captureWindow[2], 0);
    EXPECT_EQ(gApp.captureWindow[3], -1);
    for (int32_t& v : gApp.captureWindow) v = 0;
}
