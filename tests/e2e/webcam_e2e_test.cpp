// Webcam mode as the built program runs it: the device streams to the desktop receiver (its
// library, in this process) on a free port that the device's link forwards its fixed port to;
// the pictures decode with libjpeg-turbo, the overlay shows the link's line while streaming,
// and the action key stops the sender without abandoning it. Without a receiver the program
// keeps trying and still stops at once.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <sys/socket.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "receiver.h"
#include "support/program_run.h"

namespace {

// Pixels of a screenshot in columns [x0, x1) close to (r, g, b); 0 when it cannot be read.
int countColour(const std::string& path, int x0, int x1, int r, int g, int b) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return 0;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return 0;
    int n = 0;
    for (uint32_t y = 0; y < image.height; ++y)
        for (int x = x0; x < x1 && x < int(image.width); ++x) {
            const uint8_t* p = &rgb[(size_t(y) * image.width + size_t(x)) * 3];
            if (std::abs(p[0] - r) < 16 && std::abs(p[1] - g) < 16 && std::abs(p[2] - b) < 16) ++n;
        }
    return n;
}

bool decodesAs(const std::vector<uint8_t>& jpeg, uint32_t width, uint32_t height) {
    tjhandle h = tjInitDecompress();
    int w = 0, hh = 0, sampling = 0, colourspace = 0;
    bool ok =
        tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &hh, &sampling, &colourspace) == 0;
    std::vector<uint8_t> pixels(size_t(w) * size_t(hh) * 3);
    ok =
        ok && tjDecompress2(h, jpeg.data(), jpeg.size(), pixels.data(), w, 0, hh, TJPF_RGB, 0) == 0;
    tjDestroy(h);
    return ok && uint32_t(w) == width && uint32_t(hh) == height;
}

// The default device with its desktop peer's link forwarded to `port`; Right steps the capture
// mode from " Photo >" to "< Webcam"; Start starts and, after `streamMs`, stops streaming.
std::vector<std::string> webcamRun(const TempFolder& dir, uint16_t port, int streamMs) {
    dir.write("webcam.profile",
              "based-on = ph10c\nppp-peer = 127.0.0.1:" + std::to_string(port) + "\n");
    dir.write("s", "wait 500\nkey Right\nkey Right\nkey Right\nwait 300\nkey Start\nwait " +
                       std::to_string(streamMs) +
                       "\nscreenshot streaming.png\nkey Start\nwait 400\n"
                       "screenshot stopped.png\n");
    return {"--root",    dir.file("device"),
            "--shots",   dir.file("shots"),
            "--script",  dir.file("s"),
            "--trace",   dir.file("trace"),
            "--profile", dir.file("webcam.profile")};
}

// In "Landscape L" the last text row is the screen's rightmost 16 pixel columns.
constexpr int kLastRowX0 = 224;
constexpr int kLastRowX1 = 240;

TEST(WebcamMode, StreamsDecodablePicturesToTheReceiverAndStops) {
    std::mutex mutex;
    std::vector<ReceivedPicture> pictures;
    ReceiverOptions options;
    options.port = 0;
    options.onPicture = [&](const ReceivedPicture& p) {
        std::lock_guard<std::mutex> lock(mutex);
        pictures.push_back(p);
    };
    options.info = [](const std::string&) {};
    options.error = [](const std::string&) {};
    Receiver receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.start(&error)) << error;

    TempFolder dir;
    ASSERT_EQ(runProgram(webcamRun(dir, receiver.port(), 2500), dir.file("out"), 60), 0)
        << readText(dir.file("out"));
    receiver.stop();

    ASSERT_GE(pictures.size(), 5u) << "about 15 frames a second for 2.5 s";
    EXPECT_EQ(receiver.stats().devicesConnected, 1u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_TRUE(decodesAs(pictures[i].jpeg, pictures[i].width, pictures[i].height))
            << "picture " << i;
        EXPECT_EQ(pictures[i].width, pictures[0].width);
        EXPECT_EQ(pictures[i].height, pictures[0].height);
        if (i > 0) {
            EXPECT_GT(int32_t(pictures[i].tick - pictures[i - 1].tick), 0) << "frame ticks";
        }
    }
    // The yellow "Webcam N kb/s" while streaming; nothing yellow there once stopped.
    EXPECT_GT(countColour(dir.file("shots/streaming.png"), kLastRowX0, kLastRowX1, 255, 255, 0),
              40);
    EXPECT_EQ(countColour(dir.file("shots/stopped.png"), kLastRowX0, kLastRowX1, 255, 255, 0), 0);

    const std::vector<std::string> trace = readLines(dir.file("trace"));
    const int started = findEntry(trace, "WSAStartup");
    EXPECT_GE(started, 0);
    EXPECT_GT(findEntry(trace, "WSACleanup", started), started);
    EXPECT_LT(findEntry(trace, "TerminateThread"), 0) << "the sender ended when asked";
}

TEST(WebcamMode, WithoutAReceiverKeepsTryingAndStillStopsAtOnce) {
    TempFolder dir;
    // A port that was free a moment ago: nothing listens there.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    const uint16_t port = ntohs(a.sin_port);

    ASSERT_EQ(runProgram(webcamRun(dir, port, 1200), dir.file("out"), 60), 0)
        << readText(dir.file("out"));
    EXPECT_GT(countColour(dir.file("shots/streaming.png"), kLastRowX0, kLastRowX1, 255, 255, 0), 40)
        << "\"Connecting.. 1\"";
    const std::vector<std::string> trace = readLines(dir.file("trace"));
    EXPECT_GT(findEntry(trace, "WSACleanup"), findEntry(trace, "WSAStartup"));
    EXPECT_LT(findEntry(trace, "TerminateThread"), 0);
}

}  // namespace
