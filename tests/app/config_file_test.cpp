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

using Window = std::vector<int32_t>;
const Window kUnset = {-1, -1, -1, -1};  // the file was read, no window in it
const std::string kDefault = "default.example";

class ConfigFileTest : public ::testing::Test {
  protected:
    // Reads `bytes` as Config.txt over the defaults: the server `kDefault`, the window all 0.
    bool read(const std::string& bytes) {
        std::strcpy(gApp.webcamServer, kDefault.c_str());
        for (int32_t& v : gApp.captureWindow) v = 0;
        std::ofstream(device_.root() + "/Config.txt", std::ios::binary) << bytes;
        return readConfigFile(u"\\Config.txt");
    }
    static std::string server() { return gApp.webcamServer; }
    static Window window() { return {gApp.captureWindow, gApp.captureWindow + 4}; }

    TempDevice device_;
};

TEST_F(ConfigFileTest, KeysAnywhereFirstOccurrenceValuesUnder100Bytes) {
    const std::string host99(99, 'h');
    struct Case {
        std::string text;
        std::string server;
        Window window;
    };
    const Case cases[] = {
        {"WebcamIP:   192.168.0.10\r\n", "192.168.0.10", kUnset},
        {"WebcamIP: 192.168.0.10 # the office\n", "192.168.0.10", kUnset},
        {"# last line\nWebcamIP:host.example", "host.example", kUnset},  // no line end
        {"WebcamIP:\t tab.example\n", "", kUnset},                       // only blanks are skipped
        {"WebcamIP:", "", kUnset},
        {"CaptureWindow: 0,26,240,268\n", kDefault, {0, 26, 240, 268}},
        {"CaptureWindow: 10,20\n", kDefault, {10, 20, -1, -1}},
        {"CaptureWindow:1, 2 ,3,4,5", kDefault, {1, 2, 3, 4}},
        {"CaptureWindow: 99999999999,-99999999999,x,\n", kDefault, {INT32_MAX, INT32_MIN, 0, 0}},
        {"CaptureWindow:,,", kDefault, {0, 0, 0, -1}},
        {"CaptureWindow:\n", kDefault, kUnset},
        {"xxCaptureWindow:4,6,8,10 yyWebcamIP: a.example WebcamIP: b.example\n"
         "CaptureWindow: 1,1,1,1\n",
         "a.example",
         {4, 6, 8, 10}},
        {"webcamip: lower.example\ncapturewindow: 1,2,3,4\n", kDefault, kUnset},
        // Values of 100 bytes or more are ignored, also one running to the end of a large file.
        {"WebcamIP: " + host99 + "\n", host99, kUnset},
        {"WebcamIP: " + std::string(100, 'x') + "\n", kDefault, kUnset},
        {"CaptureWindow: 1,2,3," + std::string(100, '4') + "\n", kDefault, kUnset},
        {"WebcamIP: " + std::string(3 << 20, 'a'), kDefault, kUnset},
        // NUL bytes end the text, bytes of 128 and above end a value.
        {std::string("\0WebcamIP: hidden.example\n", 26), kDefault, kUnset},
        {std::string("WebcamIP: ab\0cd\n", 17), "ab", kUnset},
        {"WebcamIP: caf\xc3\xa9.example\nCaptureWindow: 7,\xff 8,9\n", "caf", {7, 0, -1, -1}},
        {std::string(2 << 20, 'x') + "WebcamIP: far.example", "far.example", kUnset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        EXPECT_TRUE(read(c.text));
        EXPECT_EQ(server(), c.server);
        EXPECT_EQ(window(), c.window);
    }
}

TEST_F(ConfigFileTest, MissingEmptyOrJunkFiles) {
    EXPECT_FALSE(read(""));
    EXPECT_FALSE(readConfigFile(u"\\Nowhere\\Config.txt"));
    EXPECT_EQ(server(), kDefault);
    EXPECT_EQ(window(), (Window{0, 0, 0, 0}));
    // Random bytes with a key somewhere inside.
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string junk(random() % 4096, '\0');
        for (char& c : junk) c = static_cast<char>(random() % 256);
        junk.insert(junk.empty() ? 0 : random() % junk.size(),
                    round % 2 ? "WebcamIP:" : "CaptureWindow:");
        read(junk);
        EXPECT_LT(std::strlen(gApp.webcamServer), kServerTextBytes);
    }
}

}  // namespace
