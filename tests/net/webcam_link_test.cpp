// The webcam link on loopback: the messages read by the desktop receiver's parser against the
// device's own JPEG encoding and the exact message bytes, connecting without a server and with a
// bad greeting, a server that stops reading (frames dropped, the stall rule, reconnection), and
// stopping from every state of the sender.
#include "net/webcam_test_support.h"

namespace {

using namespace webcamtest;

class WebcamLink : public WebcamRun {};

TEST_F(WebcamLink, MessagesCarryTheDevicesPicturesByteForByteWithTheirHeaderAndSizeTurned) {
    TestServer server;
    server.accept();
    useDevice(server.port(), 640, 480, 60, 1);  // a quarter turn: 480 wide, 640 high
    char host[kServerTextBytes];
    webcamServerHost(host, sizeof host);
    EXPECT_STREQ(host, "ppp_peer") << "Auto";
    // A configured dotted address is dialled as it is (here the device's peer, whose link
    // forwards it).
    const std::string saved = gApp.webcamServer;
    std::strcpy(gApp.webcamServer, "127.0.0.1");
    setting(kSlotServer).current.store(1);
    webcamServerHost(host, sizeof host);
    EXPECT_STREQ(host, "127.0.0.1");
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000));
    std::strcpy(gApp.webcamServer, saved.c_str());

    // A frame smaller than the encoder was set up for is neither encoded nor sent.
    std::vector<uint8_t> frame = capturetest::sceneFrame(640, 480);
    gFrame.frameHeight = 400;
    webcamConsumeFrame(frame.data());
    EXPECT_EQ(webcamPictureSize, 0u);
    EXPECT_EQ(gWebcamLink.busy.load(), WebcamFree);
    gFrame.frameHeight = 480;

    // The first frame of a run is encoded even when unchanged; an unchanged picture is sent
    // again as it was; a changed one is encoded anew.
    std::vector<std::vector<uint8_t>> shown;  // the frame each message's picture is of
    std::vector<uint32_t> ticks, lengths;
    for (const auto& [number, changed] : {std::pair{5u, 0}, {6u, 0}, {7u, 1}}) {
        frame = capturetest::sceneFrame(640, 480, number);
        shown.push_back(changed || shown.empty() ? frame : shown.back());
        ticks.push_back(GetTickCount() + number);
        frameStartTick.store(ticks.back());
        gAviWriter.pictureChanged = uint8_t(changed);
        webcamConsumeFrame(frame.data());
        lengths.push_back(webcamPictureSize);
        // Sent before the next is handed over (a waiting message would be replaced).
        ASSERT_TRUE(server.waitForMessages(0, ticks.size()));
        ASSERT_TRUE(waitFor(idle, 5000));
    }
    const std::vector<uint8_t> stream = server.received(0);
    bool whole = false;
    const std::vector<ParseResult> messages = splitStream(stream, &whole);
    EXPECT_TRUE(whole) << "each message is L + 32 bytes, with nothing between";
    size_t at = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        const ParseResult& m = messages[i];
        EXPECT_TRUE(std::all_of(&stream[at], &stream[at + 20], [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(m.pictureBytes, lengths[i]) << "the word at 28 is L";
        EXPECT_EQ(m.tick, ticks[i]);
        EXPECT_EQ(m.width, 480u);
        EXPECT_EQ(m.height, 640u);
        // The picture as the device's encoder makes it on its own, with fresh headers.
        std::vector<uint8_t> jpeg(shown[i].size() + 4096);
        jpeg.resize(encodeFrame(gEncoderSetup, jpeg.data(), shown[i].data(), 1));
        EXPECT_EQ(restorePicture(m), jpeg) << "picture " << i;
        at += m.consumed;
    }
    // The picture with its first 8 bytes put back decodes upright: 480 x 640.
    const capturetest::Gray g = capturetest::decodeGray(restorePicture(messages[0]));
    EXPECT_EQ(std::pair(g.width, g.height), std::pair(480, 640));
    EXPECT_EQ(gWebcamLink.bytesSent.load(), stream.size());
}

TEST_F(WebcamLink, WithoutAServerItCountsConnectionCyclesAndEncodesNothing) {
    useDevice(unusedPort(), 176, 144);
    std::memset(gApp.photoImage.pixels, 0xA5, 4096);
    const auto start = Clock::now();
    ASSERT_EQ(startWebcam(), 1u);
    feed(1);
    EXPECT_TRUE(overlayShows("Connecting.. 1"));
    ASSERT_TRUE(waitFor(
        [&] {
            feed(1);
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

class BadGreeting : public WebcamRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadGreeting, IsDroppedAndTheConnectionRetried) {
    const std::string greeting = GetParam();
    TestServer server(greeting);
    server.accept();
    useDevice(server.port(), 176, 144);
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor([&] { return server.connections() >= 2; }, 6000)) << "retried";
    uint32_t after = 0;
    ASSERT_TRUE(waitFor([&] { return server.ended(0, &after); }, 2000)) << "the device hung up";
    // Three bytes leave the reading to its one-second limit; wrong bytes end it at once.
    EXPECT_GE(after, greeting.size() < 4 ? 900u : 90u);
    EXPECT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
    EXPECT_EQ(gWebcamLink.busy.load(), WebcamSending) << "frames are still dropped";
}

INSTANTIATE_TEST_SUITE_P(Webcam, BadGreeting, ::testing::Values("vet", "vetX", "VETU"));

TEST_F(WebcamLink, AServerThatStopsReadingMissesFramesAndIsDroppedAfter32768Ms) {
    TestServer server;
    server.pauseReading(true);
    server.accept();
    useDevice(server.port(), 640, 480, 100);  // large messages fill the buffers soon
    ASSERT_EQ(startWebcam(), 1u);
    ASSERT_TRUE(waitFor(idle, 5000));
    std::vector<uint32_t> handed;
    ASSERT_TRUE(feedUntilBlocked(&handed)) << "the server holds the sender up";

    // The message in flight stays as it is while frames arrive.
    const uint32_t length = gWebcamLink.sendLength.load(), pictureSize = webcamPictureSize;
    const std::vector<uint8_t> inFlight(gApp.photoImage.pixels, gApp.photoImage.pixels + length);
    gAviWriter.lastStoredChecksum.store(0x1111);
    for (uint32_t i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame = capturetest::sceneFrame(640, 480, 900 + i);
        frameStartTick.store(handed.back() + 1000 + i);
        gAviWriter.pictureChanged = 1;
        gAviWriter.currentChecksum.store(0xD00D);  // the dropped frames' own checksum
        webcamConsumeFrame(frame.data());
        ASSERT_EQ(webcamPictureSize, pictureSize);
        ASSERT_TRUE(std::equal(inFlight.begin(), inFlight.end(), gApp.photoImage.pixels));
    }
    server.pauseReading(false);
    ASSERT_TRUE(waitFor(idle, 5000));
    std::vector<ParseResult> messages;
    bool whole = false;
    ASSERT_TRUE(waitFor(
        [&] {
            messages = splitStream(server.received(0), &whole);
            return whole && !messages.empty() && messages.back().tick == handed.back();
        },
        5000));
    EXPECT_TRUE(latestOfEach(messages, handed))
        << "only frames handed over are sent, the last of them last; none of those dropped";
    EXPECT_EQ(gWebcamLink.sendFailed.load(), 0u);
    EXPECT_EQ(gAviWriter.lastStoredChecksum.load(), 0u)
        << "the reference is the checksum of the picture sent, not of a frame dropped";

    // Stalled again: the stall rule closes the socket after 32,768 ms without a chunk sent.
    server.pauseReading(true);
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
    ASSERT_TRUE(waitFor(
        [&] {
            messages = splitStream(server.received(1), &whole);
            return whole && !messages.empty() && messages.back().tick == ticks.back();
        },
        5000));
    EXPECT_TRUE(latestOfEach(messages, ticks));
    EXPECT_EQ(gWebcamLink.sendFailed.load(), 0u);
    EXPECT_EQ(gWebcamLink.bytesSent.load(), server.received(1).size()) << "counted anew";
    EXPECT_TRUE(waitFor([&] { return server.ended(0); }, 2000)) << "the stalled one is gone";
}

// ---- Stopping ------------------------------------------------------------------------------

enum class SenderState { Starting, NoServer, ConnectBlocked, AwaitingGreeting, Idle, SendBlocked };

class StopFrom : public WebcamRun, public ::testing::WithParamInterface<SenderState> {};

TEST_P(StopFrom, EndsTheSenderAndReleasesTheSocketAndTheEvent) {
    const SenderState state = GetParam();
    const int descriptors = openDescriptors();
    std::unique_ptr<TestServer> server;
    std::vector<int> fillers;
    if (state == SenderState::ConnectBlocked) {
        // A listener that never accepts, its backlog full: the device's connect waits.
        server = std::make_unique<TestServer>("vetu", 0);
        const sockaddr_in a = loopback(server->port());
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            (::connect)(fillers.back(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
        }
    } else if (state != SenderState::NoServer && state != SenderState::Starting) {
        server = std::make_unique<TestServer>(state == SenderState::AwaitingGreeting ? "" : "vetu");
        server->pauseReading(state == SenderState::SendBlocked);
        server->accept();
    }
    useDevice(server ? server->port() : unusedPort(), 640, 480, 100);
    ASSERT_EQ(startWebcam(), 1u);
    if (state == SenderState::NoServer) {
        // Dialling: a refused connect returns at once, so the sender spends its cycle in the
        // pauses between attempts.
        ASSERT_TRUE(waitFor([] { return gWebcamLink.dialSocket.load() != INVALID_SOCKET; }, 2000));
    }
    if (state == SenderState::ConnectBlocked) {
        ASSERT_TRUE(waitFor([] { return gWebcamLink.dialSocket.load() != INVALID_SOCKET; }, 2000));
        ASSERT_TRUE(waitFor([] { return threadsInSyscall(SYS_connect) >= 1; }, 5000))
            << "the sender waits in connect";
        ASSERT_EQ(gWebcamLink.socket.load(), INVALID_SOCKET);
    }
    if (state == SenderState::AwaitingGreeting) {
        ASSERT_TRUE(waitFor([&] { return server->connections() == 1; }, 2000));
    }
    if (state == SenderState::Idle || state == SenderState::SendBlocked) {
        ASSERT_TRUE(waitFor(idle, 5000));
    }
    if (state == SenderState::SendBlocked) {
        ASSERT_TRUE(feedUntilBlocked());
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

INSTANTIATE_TEST_SUITE_P(Webcam, StopFrom,
                         ::testing::Values(SenderState::Starting, SenderState::NoServer,
                                           SenderState::ConnectBlocked,
                                           SenderState::AwaitingGreeting, SenderState::Idle,
                                           SenderState::SendBlocked));

// ---- The device's link to its desktop peer -------------------------------------------------

TEST(PeerLink, AProfileNamesTheForwardedPortAndOnlyThePeerIsForwarded) {
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

    TestServer server;
    server.accept();
    p = capturetest::profile();
    p.pppPeer = "127.0.0.1:" + std::to_string(server.port());
    TempDevice device(p);
    const hostent* peer = gethostbyname("ppp_peer");
    ASSERT_NE(peer, nullptr);
    sockaddr_in a = loopback(kWebcamServerPort);
    EXPECT_EQ(std::memcmp(&a.sin_addr, peer->h_addr_list[0], sizeof a.sin_addr), 0);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), int(sizeof a)), 0);
    EXPECT_TRUE(waitFor([&] { return server.connections() == 1; }, 2000));
    closesocket(s);
    // Another address keeps the port it names (nothing listens at 127.0.0.2:2047).
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    const SOCKET other = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(connect(other, reinterpret_cast<sockaddr*>(&a), int(sizeof a)), 0);
    closesocket(other);
    EXPECT_EQ(server.connections(), 1u);
}

}  // namespace
