// The webcam link on loopback: the desktop receiver's pictures against the device's own JPEG
// encoding, the exact message bytes, connecting without a server and with a bad greeting, a
// server that stops reading (frames dropped, the stall rule, reconnection), the unchanged-picture
// path, and stopping from every state of the sender.
#include <fcntl.h>

#include <map>

#include "net/webcam_test_support.h"
#include "receiver.h"

namespace {

using namespace webcamtest;

class WebcamLink : public WebcamRun {};

TEST_F(WebcamLink, TheReceiverGetsTheDevicesPicturesByteForByte) {
    std::mutex mutex;
    std::vector<ReceivedPicture> pictures;
    std::vector<std::string> problems;
    ReceiverOptions options;
    options.port = 0;
    options.onPicture = [&](const ReceivedPicture& p) {
        std::lock_guard<std::mutex> lock(mutex);
        pictures.push_back(p);
    };
    options.info = [](const std::string&) {};
    options.error = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        problems.push_back(line);
    };
    Receiver receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.start(&error)) << error;
    const auto received = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return pictures.size();
    };

    useDevice(receiver.port());
    encodeAs(176, 144);
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000)) << "connected and greeted";
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint32_t> ticks;
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(waitFor(idle, 5000));
        ticks.push_back(GetTickCount() + i);
        frames.push_back(feed(3 + 11 * i, ticks.back()));
        ASSERT_TRUE(waitFor([&] { return received() == i + 1; }, 5000)) << "picture " << i;
    }
    stopWebcam();
    receiver.stop();

    ASSERT_EQ(pictures.size(), 4u);
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (size_t i = 0; i < pictures.size(); ++i) {
        const ReceivedPicture& p = pictures[i];
        EXPECT_EQ(p.jpeg, encodeAlone(frames[i])) << "picture " << i;
        EXPECT_EQ(p.tick, ticks[i]);
        EXPECT_EQ(p.width, 176u);
        EXPECT_EQ(p.height, 144u);
        const capturetest::Gray g = capturetest::decodeGray(p.jpeg);
        EXPECT_EQ(g.width, 176);
        EXPECT_EQ(g.height, 144);
    }
    EXPECT_NE(pictures[0].jpeg, pictures[1].jpeg) << "the scene moves";
}

TEST_F(WebcamLink, MessagesCarryTheHeaderTheLengthAndTheSizeTurned) {
    TestServer server;
    server.accept();
    useDevice(server.port());
    encodeAs(640, 480, 60, 1);  // a quarter turn: 480 wide, 640 high
    ASSERT_EQ(startWebcam(), 1u);
    std::vector<uint32_t> ticks, lengths;
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(waitFor(idle, 5000));
        ticks.push_back(GetTickCount() + i);
        feed(5 + i, ticks.back());
        lengths.push_back(webcamPictureSize);
        // Sent before the next is handed over (a waiting message would be replaced).
        ASSERT_TRUE(server.waitForMessages(0, i + 1));
    }
    const std::vector<uint8_t> stream = server.received(0);
    const std::vector<Message> messages = splitStream(stream);
    size_t total = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        const Message& m = messages[i];
        EXPECT_TRUE(m.zeros) << "the first 20 bytes are zeros";
        EXPECT_TRUE(m.words);
        EXPECT_EQ(m.length, lengths[i]) << "the word at 28 is L";
        EXPECT_EQ(m.tick, ticks[i]);
        EXPECT_EQ(m.sizeWord, 480u | 640u << 16);
        total += m.length + 32;
    }
    EXPECT_EQ(total, stream.size()) << "each message is L + 32 bytes, with nothing between";
    // The picture with its first 8 bytes put back decodes upright: 480 x 640.
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46};
    jpeg.insert(jpeg.end(), stream.begin() + 40, stream.begin() + 32 + messages[0].length);
    const capturetest::Gray g = capturetest::decodeGray(jpeg);
    EXPECT_EQ(g.width, 480);
    EXPECT_EQ(g.height, 640);
    EXPECT_EQ(gWebcamLink.bytesSent.load(), stream.size());
}

TEST_F(WebcamLink, WithoutAServerItCountsConnectionCyclesAndEncodesNothing) {
    useDevice(unusedPort());
    encodeAs(176, 144);
    std::memset(gApp.photoImage.pixels, 0xA5, 4096);
    const std::vector<uint8_t> frame = capturetest::sceneFrame(176, 144);
    const auto start = Clock::now();
    ASSERT_EQ(startWebcam(), 1u);
    const auto feedFrame = [&] {
        std::vector<uint8_t> copy = frame;
        frameStartTick.store(GetTickCount());
        consumeFrame(copy.data());
    };
    feedFrame();
    EXPECT_TRUE(overlayShows("Connecting.. 1"));
    ASSERT_TRUE(waitFor(
        [&] {
            feedFrame();
            return gWebcamLink.connectAttempts.load() >= 1;
        },
        8000));
    EXPECT_GE(msSince(start), 4000u) << "ten connect attempts, 500 ms apart";
    EXPECT_TRUE(overlayShows("Connecting.. 2"));
    EXPECT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
    EXPECT_EQ(webcamPictureSize, 0u) << "no frame was encoded";
    EXPECT_TRUE(std::all_of(gApp.photoImage.pixels, gApp.photoImage.pixels + 4096,
                            [](uint8_t b) { return b == 0xA5; }));
    EXPECT_EQ(gApp.captureStartTick.load(), frameStartTick.load()) << "follows the frames";
}

TEST_F(WebcamLink, TheServerSettingChoosesThePeerOrTheConfiguredServer) {
    TestServer server;
    server.accept();
    useDevice(server.port());
    encodeAs(176, 144);
    char host[kServerTextBytes];
    webcamServerHost(host, sizeof host);
    EXPECT_STREQ(host, "ppp_peer") << "Auto";
    const std::string saved = gApp.webcamServer;
    std::strcpy(gApp.webcamServer, "127.0.0.1");
    setting(kSlotServer).current.store(1);
    webcamServerHost(host, sizeof host);
    EXPECT_STREQ(host, "127.0.0.1");
    // A dotted address is dialled as it is (here the device's peer, whose link forwards it).
    ASSERT_EQ(startWebcam(), 1u);
    EXPECT_TRUE(waitFor(idle, 5000));
    setting(kSlotServer).current.store(-1);
    std::strcpy(gApp.webcamServer, saved.c_str());
}

class BadGreeting : public WebcamRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadGreeting, IsDroppedAndTheConnectionRetried) {
    const std::string greeting = GetParam();
    TestServer server(greeting);
    server.accept();
    useDevice(server.port());
    encodeAs(176, 144);
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor([&] { return server.connections() >= 2; }, 6000)) << "retried";
    uint32_t after = 0;
    ASSERT_TRUE(waitFor([&] { return server.ended(0, &after); }, 2000)) << "the device hung up";
    // Three bytes leave the reading to its one-second limit; wrong bytes end it at once.
    if (greeting.size() < 4)
        EXPECT_GE(after, 900u);
    else
        EXPECT_GE(after, 90u);
    EXPECT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
    EXPECT_EQ(gWebcamLink.busy.load(), WebcamSending) << "frames are still dropped";
}

INSTANTIATE_TEST_SUITE_P(Webcam, BadGreeting, ::testing::Values("vet", "vetX", "VETU"));

TEST_F(WebcamLink, FramesArrivingDuringASendAreDroppedNotQueued) {
    TestServer server;
    server.pauseReading(true);
    server.accept();
    useDevice(server.port());
    encodeAs(640, 480, 100);  // large messages fill the buffers soon
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000));
    std::vector<uint32_t> handed;
    ASSERT_TRUE(feedUntilBlocked(&handed)) << "the server holds the sender up";

    // The message in flight stays as it is while frames arrive.
    const uint32_t length = gWebcamLink.sendLength.load();
    const uint32_t pictureSize = webcamPictureSize;
    const std::vector<uint8_t> inFlight(gApp.photoImage.pixels, gApp.photoImage.pixels + length);
    gAviWriter.lastStoredChecksum.store(0x1111);
    std::vector<uint32_t> dropped;
    for (uint32_t i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame = capturetest::sceneFrame(640, 480, 900 + i);
        dropped.push_back(handed.back() + 1000 + i);
        frameStartTick.store(dropped.back());
        gAviWriter.pictureChanged = 1;
        gAviWriter.currentChecksum.store(0xD00D);  // the dropped frames' own checksum
        webcamConsumeFrame(frame.data());
        ASSERT_EQ(webcamPictureSize, pictureSize);
        ASSERT_TRUE(std::equal(inFlight.begin(), inFlight.end(), gApp.photoImage.pixels));
    }

    server.pauseReading(false);
    ASSERT_TRUE(waitFor(idle, 5000));
    bool whole = false;
    std::vector<Message> messages;
    ASSERT_TRUE(waitFor(
        [&] {
            messages = splitStream(server.received(0), &whole);
            return whole && !messages.empty() && messages.back().tick == handed.back();
        },
        5000));
    EXPECT_TRUE(latestOfEach(ticksOf(messages), handed))
        << "only frames handed over are sent, the last of them last; none of those dropped";
    EXPECT_EQ(gWebcamLink.sendFailed.load(), 0u);
    EXPECT_EQ(gAviWriter.lastStoredChecksum.load(), 0u)
        << "the reference is the checksum of the picture sent, not of a frame dropped";
}

TEST_F(WebcamLink, AStalledServerIsDroppedAfter32768MsAndTheLinkResumes) {
    TestServer server;
    server.pauseReading(true);
    server.accept();
    useDevice(server.port());
    encodeAs(640, 480, 100);  // large messages fill the buffers soon
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000));
    ASSERT_TRUE(feedUntilBlocked());
    const uint32_t last = gWebcamLink.lastSendTick.load();
    ASSERT_NE(last, 0u);

    feed(1, last + 32768);
    EXPECT_NE(gWebcamLink.socket.load(), INVALID_SOCKET) << "32,768 ms is not yet a stall";
    advanceTickCount(40000);
    const uint32_t tick = GetTickCount();
    feed(2, tick);
    EXPECT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET) << "closed by the stall rule";
    EXPECT_EQ(gWebcamLink.lastSendTick.load(), 0u);
    EXPECT_EQ(gApp.captureStartTick.load(), tick);

    // The blocked send fails, the sender connects again and sends what it is given, beginning
    // perhaps with the frame that came as the stalled send gave up.
    ASSERT_TRUE(waitFor([&] { return server.connections() == 2 && idle(); }, 5000));
    server.pauseReading(false);
    std::vector<uint32_t> ticks = {tick};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(waitFor(idle, 5000));
        ticks.push_back(GetTickCount() + i);
        feed(20 + i, ticks.back());
    }
    std::vector<Message> messages;
    bool whole = false;
    ASSERT_TRUE(waitFor(
        [&] {
            messages = splitStream(server.received(1), &whole);
            return whole && !messages.empty() && messages.back().tick == ticks.back();
        },
        5000))
        << "connections: " << server.connections();
    EXPECT_TRUE(latestOfEach(ticksOf(messages), ticks));
    EXPECT_EQ(gWebcamLink.sendFailed.load(), 0u);
    EXPECT_EQ(gWebcamLink.bytesSent.load(), server.received(1).size()) << "counted anew";
    EXPECT_TRUE(waitFor([&] { return server.ended(0); }, 2000)) << "the stalled one is gone";
}

TEST_F(WebcamLink, ARefusedFrameSendsNothingAndAnUnchangedPictureIsSentAgain) {
    TestServer server;
    server.accept();
    useDevice(server.port());
    encodeAs(176, 144);
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000));
    // A frame smaller than the encoder was set up for is not encoded and not sent.
    std::vector<uint8_t> small = capturetest::sceneFrame(176, 144);
    gFrame.frameHeight = 128;
    frameStartTick.store(GetTickCount());
    webcamConsumeFrame(small.data());
    EXPECT_EQ(webcamPictureSize, 0u);
    EXPECT_EQ(gWebcamLink.busy.load(), WebcamFree);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(server.received(0).empty());
    gFrame.frameHeight = 144;

    size_t sent = 0;
    const auto send = [&](uint32_t number, uint8_t changed) {
        std::vector<uint8_t> frame = capturetest::sceneFrame(176, 144, number);
        frameStartTick.store(GetTickCount());
        gAviWriter.pictureChanged = changed;
        webcamConsumeFrame(frame.data());
        return server.waitForMessages(0, ++sent) && waitFor(idle, 5000);
    };
    // Nothing of this run is in the buffer yet: the first frame is encoded all the same.
    ASSERT_TRUE(send(1, 0));
    ASSERT_TRUE(send(2, 0));
    ASSERT_TRUE(send(2, 1));
    const std::vector<uint8_t> stream = server.received(0);
    const std::vector<Message> m = splitStream(stream);
    const auto picture = [&](const Message& message) {
        return std::vector<uint8_t>(stream.begin() + long(message.offset) + 40,
                                    stream.begin() + long(message.offset) + 32 + message.length);
    };
    EXPECT_NE(m[0].length, 0u);
    EXPECT_EQ(picture(m[0]), picture(m[1])) << "sent again as it was";
    EXPECT_NE(picture(m[1]), picture(m[2])) << "a changed picture is encoded";
}

// ---- Stopping ------------------------------------------------------------------------------

enum class SenderState { Starting, NoServer, ConnectBlocked, AwaitingGreeting, Idle, SendBlocked };

class StopFrom : public WebcamRun, public ::testing::WithParamInterface<SenderState> {};

TEST_P(StopFrom, EndsTheSenderAndReleasesTheSocketAndTheEvent) {
    const SenderState state = GetParam();
    const int descriptors = openDescriptors();
    std::unique_ptr<TestServer> server;
    std::vector<int> fillers;
    if (state == SenderState::NoServer || state == SenderState::Starting) {
        useDevice(unusedPort());
    } else if (state == SenderState::ConnectBlocked) {
        // A listener that never accepts, its backlog full: the device's connect waits.
        server = std::make_unique<TestServer>("vetu", 0);
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM, 0));
            fcntl(fillers.back(), F_SETFL, O_NONBLOCK);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(server->port());
            (::connect)(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        useDevice(server->port());
    } else {
        server = std::make_unique<TestServer>(state == SenderState::AwaitingGreeting ? "" : "vetu");
        if (state == SenderState::SendBlocked) server->pauseReading(true);
        server->accept();
        useDevice(server->port());
    }
    encodeAs(640, 480, 100);  // large messages fill the buffers soon
    ASSERT_EQ(startWebcam(), 1u);
    switch (state) {
        case SenderState::Starting:
            break;
        case SenderState::NoServer:
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            break;
        case SenderState::ConnectBlocked:
            ASSERT_TRUE(
                waitFor([] { return gWebcamLink.dialSocket.load() != INVALID_SOCKET; }, 2000));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ASSERT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
            break;
        case SenderState::AwaitingGreeting:
            ASSERT_TRUE(waitFor([&] { return server->connections() == 1; }, 2000));
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            break;
        case SenderState::Idle:
            ASSERT_TRUE(waitFor(idle, 5000));
            break;
        case SenderState::SendBlocked:
            ASSERT_TRUE(waitFor(idle, 5000));
            ASSERT_TRUE(feedUntilBlocked());
            break;
    }

    traceClear();
    EXPECT_EQ(stopWebcam(), 1u);
    EXPECT_EQ(traceCount("TerminateThread"), 0u) << "the sender ended within 100 ms";
    EXPECT_EQ(gWebcamLink.thread.load(), nullptr);
    EXPECT_EQ(gWebcamLink.frameReady.load(), nullptr);
    EXPECT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
    EXPECT_EQ(gWebcamLink.dialSocket.load(), INVALID_SOCKET);
    if (server) {
        server->pauseReading(false);
        for (size_t i = 0; i < server->connections(); ++i)
            EXPECT_TRUE(waitFor([&] { return server->ended(i); }, 2000)) << "connection " << i;
    }
    EXPECT_EQ(stopWebcam(), 1u) << "a second stop finds nothing to do";
    server.reset();
    for (int fd : fillers) ::close(fd);
    capture_.reset();
    EXPECT_EQ(openDescriptors(), descriptors) << "every descriptor is closed";
}

std::string senderStateName(const ::testing::TestParamInfo<SenderState>& info) {
    static const char* const kNames[] = {"Starting",         "NoServer", "ConnectBlocked",
                                         "AwaitingGreeting", "Idle",     "SendBlocked"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Webcam, StopFrom,
                         ::testing::Values(SenderState::Starting, SenderState::NoServer,
                                           SenderState::ConnectBlocked,
                                           SenderState::AwaitingGreeting, SenderState::Idle,
                                           SenderState::SendBlocked),
                         senderStateName);

// ---- The device's link to its desktop peer -------------------------------------------------

TEST(PeerLink, AProfileMayNameTheDesktopPortTheLinkForwardsTo) {
    DeviceProfile p;
    std::string error;
    EXPECT_TRUE(parseProfile("ppp-peer = 127.0.0.1:5000\n", "t", p, error)) << error;
    EXPECT_EQ(p.pppPeer, "127.0.0.1:5000");
    EXPECT_TRUE(parseProfile("ppp-peer = desktop\n", "t", p, error)) << error;
    for (const char* bad : {"ppp-peer = 127.0.0.1:0\n", "ppp-peer = 127.0.0.1:65536\n",
                            "ppp-peer = :2047\n", "ppp-peer = host:\n", "ppp-peer = h:x1\n"}) {
        EXPECT_FALSE(parseProfile(bad, "t", p, error)) << bad;
        EXPECT_EQ(error.rfind("t:1: ppp-peer", 0), 0u) << error;
    }
}

TEST(PeerLink, ConnectionsToThePeerGoToTheForwardedPortAndNoOthers) {
    TestServer server;
    server.accept();
    DeviceProfile p = capturetest::profile();
    p.pppPeer = "127.0.0.1:" + std::to_string(server.port());
    TempDevice device(p);
    const hostent* peer = gethostbyname("ppp_peer");
    ASSERT_NE(peer, nullptr);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kWebcamServerPort);
    std::memcpy(&a.sin_addr, peer->h_addr_list[0], sizeof a.sin_addr);
    EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), static_cast<int>(sizeof a)), 0);
    EXPECT_TRUE(waitFor([&] { return server.connections() == 1; }, 2000));
    closesocket(s);
    // Another address keeps the port it names (nothing listens at 127.0.0.2:2047).
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    const SOCKET other = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(connect(other, reinterpret_cast<sockaddr*>(&a), static_cast<int>(sizeof a)), 0);
    closesocket(other);
    EXPECT_EQ(server.connections(), 1u);
}

}  // namespace
