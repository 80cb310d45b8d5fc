// Webcam mode as the built program runs it: the device streams to the desktop receiver (its
// library, in this process) on a free port that the device's link forwards its fixed port to;
// the pictures decode with libjpeg-turbo, the overlay shows the link's line while streaming,
// and the action key stops the sender without abandoning it. Without a receiver the program
// keeps trying and still stops at once.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

// Runs the default device with its desktop peer's link forwarded to `port`; Right steps the
// capture mode from " Photo >" to "< Webcam"; Start starts and, after `streamMs`, stops streaming.
// How long it streams is the point of its one wait; a screenshot waits until the program has
// handled the keys before it and drawn the live picture anew.
int webcamRun(const TempFolder& dir, uint16_t port, int streamMs) {
    dir.write("webcam.profile",
              "based-on = ph10c\nppp-peer = 127.0.0.1:" + std::to_string(port) + "\n");
    return runScript(dir,
                     "screenshot live.png\nkey Right\nkey Right\nkey Right\n"
                     "screenshot webcam-mode.png\nkey Start\nwait " +
                         std::to_string(streamMs) +
                         "\nscreenshot streaming.png\nkey Start\nscreenshot stopped.png\n",
                     {"--profile", dir.file("webcam.profile")});
}

// Yellow pixels of a screenshot on the last text row, in "Landscape L" the screen's rightmost
// 16 pixel columns: the link's line ("Webcam N kb/s", "Connecting.. N").
int yellowOnLastRow(const TempFolder& dir, const std::string& shot) {
    return countColour(readPng(dir.file("shots/" + shot)), 224, 240, 255, 255, 0);
}

// The sender ended when asked, and the sockets were given back.
void expectCleanEnd(const TempFolder& dir) {
    const std::vector<std::string> trace = readLines(dir.file("trace"));
    const int started = findEntry(trace, "WSAStartup");
    EXPECT_GE(started, 0);
    EXPECT_GT(findEntry(trace, "WSACleanup", started), started);
    EXPECT_LT(findEntry(trace, "TerminateThread"), 0);
}

TEST(WebcamMode, StreamsDecodablePicturesToTheReceiverAndStops) {
    CollectingReceiver r;
    std::string error;
    ASSERT_TRUE(r.receiver.start(&error)) << error;
    TempFolder dir;
    ASSERT_EQ(webcamRun(dir, r.receiver.port(), 2500), 0) << readText(dir.file("out"));
    r.receiver.stop();

    ASSERT_GE(r.pictures.size(), 5u) << "about 15 frames a second for 2.5 s";
    EXPECT_EQ(r.receiver.stats().devicesConnected, 1u);
    for (size_t i = 0; i < r.pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const ReceivedPicture& p = r.pictures[i];
        std::string complaint;
        const Picture g = decodeJpeg(p.jpeg, complaint);
        EXPECT_EQ(complaint, "");
        EXPECT_EQ(uint32_t(g.width), p.width);
        EXPECT_EQ(uint32_t(g.height), p.height);
        EXPECT_EQ(p.width, r.pictures[0].width);
        EXPECT_EQ(p.height, r.pictures[0].height);
        if (i > 0) {
            EXPECT_GT(int32_t(p.tick - r.pictures[i - 1].tick), 0) << "frame ticks";
        }
    }
    EXPECT_GT(yellowOnLastRow(dir, "streaming.png"), 40);
    EXPECT_EQ(yellowOnLastRow(dir, "stopped.png"), 0);
    expectCleanEnd(dir);
}

TEST(WebcamMode, WithoutAReceiverKeepsTryingAndStillStopsAtOnce) {
    TempFolder dir;
    // A port that was free a moment ago: nothing listens there.
    uint16_t port = 0;
    {
        CollectingReceiver r;
        std::string error;
        ASSERT_TRUE(r.receiver.start(&error)) << error;
        port = r.receiver.port();
    }
    ASSERT_EQ(webcamRun(dir, port, 1200), 0) << readText(dir.file("out"));
    EXPECT_GT(yellowOnLastRow(dir, "streaming.png"), 40) << "\"Connecting.. 1\"";
    expectCleanEnd(dir);
}

}  // namespace
