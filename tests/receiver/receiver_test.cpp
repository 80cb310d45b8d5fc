// The receiver in-process on ephemeral loopback ports, with test threads playing the devices
// and plain sockets playing the browser.
#include "receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "media/test_pictures.h"
#include "receiver/test_device.h"

namespace {

namespace fs = std::filesystem;
using testdevice::Client;

// A receiver on free loopback ports, started, with everything it reports collected under a
// lock, and a folder for its files removed with it.
struct Started {
    explicit Started(std::function<void(ReceiverOptions&, const fs::path&)> configure = {}) {
        static int counter = 0;
        folder = fs::temp_directory_path() /
                 ("lumo_receiver_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
        ReceiverOptions o;
        o.port = 0;
        o.onPicture = [this](const ReceivedPicture& p) { locked([&] { pictures.push_back(p); }); };
        o.error = [this](const std::string& line) { locked([&] { errors.push_back(line); }); };
        o.info = [](const std::string&) {};
        if (configure) configure(o, folder);
        receiver = std::make_unique<Receiver>(o);
        std::string error;
        EXPECT_TRUE(receiver->start(&error)) << error;
    }
    ~Started() {
        receiver.reset();
        fs::remove_all(folder);
    }
    template <typename F>
    auto locked(F f) -> decltype(f()) {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }
    // Polls `done` every few milliseconds for at most ten seconds.
    template <typename Done>
    static bool waitFor(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
            if (std::chrono::steady_clock::now() > deadline) return false;
        return true;
    }

    fs::path folder;
    std::mutex mutex;
    std::vector<ReceivedPicture> pictures;
    std::vector<std::string> errors;
    std::unique_ptr<Receiver> receiver;
};

// The device side of one connection: greeting checked, then messages in random pieces.
bool streamPictures(uint16_t port, const std::vector<std::vector<uint8_t>>& pictures,
                    uint32_t firstTick, uint32_t width, uint32_t height, uint32_t seed) {
    Client device(port);
    if (!device.connected() || device.receive(4) != "vetu") return false;
    std::vector<uint8_t> stream;
    for (size_t k = 0; k < pictures.size(); ++k) {
        const auto m =
            testdevice::message(pictures[k], firstTick + 100 * uint32_t(k), width, height);
        stream.insert(stream.end(), m.begin(), m.end());
    }
    std::mt19937 random(seed);
    for (size_t at = 0, piece; at < stream.size(); at += piece) {
        piece = std::min<size_t>(1 + random() % 900, stream.size() - at);
        if (!device.send(stream.data() + at, piece)) return false;
    }
    return true;
}

std::vector<std::vector<uint8_t>> picturesFor(int device, int count, int width, int height) {
    std::vector<std::vector<uint8_t>> pictures;
    for (int k = 0; k < count; ++k)
        pictures.push_back(testpics::makeJpeg(width, height, device * 100 + k));
    return pictures;
}

TEST(Receiver, TenDevicesAtOnceEveryPictureAccountedFor) {
    Started s([](ReceiverOptions& o, const fs::path& folder) {
        o.outDir = (folder / "out").string();
        o.aviDir = (folder / "movies").string();
        o.frameMs = 100;
    });
    constexpr int kDevices = 10, kPictures = 8;
    std::vector<std::vector<std::vector<uint8_t>>> sent(kDevices);
    for (int d = 0; d < kDevices; ++d) sent[d] = picturesFor(d, kPictures, 17 + d, 11 + d);
    std::vector<std::thread> devices;
    std::vector<int> ok(kDevices, 0);
    for (int d = 0; d < kDevices; ++d) {
        devices.emplace_back([&, d] {
            ok[d] = streamPictures(s.receiver->port(), sent[d], 1000000 * d, 17 + d, 11 + d, d);
        });
    }
    for (auto& t : devices) t.join();
    for (int d = 0; d < kDevices; ++d) EXPECT_TRUE(ok[d]) << "device " << d;
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == kDevices; }));
    EXPECT_EQ(s.receiver->stats().pictures, uint32_t(kDevices * kPictures));
    EXPECT_TRUE(s.locked([&] { return s.errors; }).empty());

    // Every picture arrived once, whole, with its fields, in order within its connection.
    std::map<uint32_t, int> deviceOf;  // receiver's connection number -> test device
    for (const ReceivedPicture& p : s.locked([&] { return s.pictures; })) {
        const int d = int(p.tick / 1000000), k = int(p.tick % 1000000 / 100);
        ASSERT_LT(d, kDevices);
        ASSERT_LT(k, kPictures);
        EXPECT_EQ(deviceOf.emplace(p.device, d).first->second, d);
        EXPECT_EQ(p.sequence, uint32_t(k + 1));
        EXPECT_EQ(std::pair(p.width, p.height), std::pair(uint32_t(17 + d), uint32_t(11 + d)));
        EXPECT_EQ(p.jpeg, sent[d][k]) << "device " << d << " picture " << k;
    }
    ASSERT_EQ(deviceOf.size(), size_t(kDevices));

    // The numbered files hold the same bytes; each movie has every picture at its tick.
    const bool prober = testpics::haveFfmpeg();
    for (const auto& [number, d] : deviceOf) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "device%04u", number);
        for (int k = 0; k < kPictures; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "%06d.jpg", k + 1);
            EXPECT_EQ(testpics::readFile((s.folder / "out" / folder / name).string()), sent[d][k]);
        }
        const std::string movie = (s.folder / "movies" / (std::string(folder) + ".avi")).string();
        ASSERT_TRUE(fs::exists(movie));
        if (!prober) continue;
        auto info = testpics::probe(movie, "-show_streams -count_frames");
        EXPECT_EQ(info["streams.stream.0.codec_name"], "mjpeg");
        EXPECT_EQ(info["streams.stream.0.width"], std::to_string(17 + d));
        EXPECT_EQ(info["streams.stream.0.nb_frames"], std::to_string(kPictures));
        EXPECT_EQ(info["streams.stream.0.nb_read_frames"], std::to_string(kPictures));
    }
    if (!prober) GTEST_SKIP() << "movies not read back: ffprobe/ffmpeg not installed";
}

TEST(Receiver, ABrokenStreamIsDroppedWithOneLineTheOthersGoOnAndADeviceMayComeBack) {
    Started s([](ReceiverOptions& o, const fs::path&) { o.maxPicture = 1 << 20; });
    const uint16_t port = s.receiver->port();
    Client good(port);
    ASSERT_EQ(good.receive(4), "vetu");
    const auto pictures = picturesFor(1, 6, 23, 15);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(good.send(testdevice::message(pictures[k], k, 23, 15)));

    // Garbage, a length over the limit, and a device hanging up in the middle of a message.
    std::vector<uint8_t> garbage(64),
        huge = testdevice::message(testdevice::fakeJpeg(40, 0), 0, 1, 1),
        half = testdevice::message(pictures[5], 0, 23, 15);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 1);
    testdevice::put32(&huge[28], 2u << 20);
    half.resize(half.size() / 2);
    for (const auto* bytes : {&garbage, &huge, &half}) {
        Client device(port);
        EXPECT_EQ(device.receive(4), "vetu");
        EXPECT_TRUE(device.send(*bytes));
        if (bytes != &half) {
            EXPECT_TRUE(device.closedByPeer());
        }
    }

    for (int k = 3; k < 5; ++k) ASSERT_TRUE(good.send(testdevice::message(pictures[k], k, 23, 15)));
    good.close();
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == 4; }));
    // The device comes back: a new connection, numbered anew.
    ASSERT_TRUE(streamPictures(port, {pictures[5]}, 5, 23, 15, 1));
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == 5; }));

    std::set<std::string> reasons;
    for (const std::string& line : s.locked([&] { return s.errors; })) {
        EXPECT_NE(line.find("connection dropped"), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        for (const char* reason : {"header word A", "over the limit", "middle of a message"})
            if (line.find(reason) != std::string::npos) reasons.insert(reason);
    }
    EXPECT_EQ(reasons.size(), 3u);
    EXPECT_EQ(s.locked([&] { return s.errors.size(); }), 3u);
    const auto received = s.locked([&] { return s.pictures; });
    ASSERT_EQ(received.size(), 6u);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(received[k].jpeg, pictures[k]);
    EXPECT_EQ(received[4].sequence, 5u);
    EXPECT_EQ(received[5].device, received[0].device + 4);
    EXPECT_EQ(received[5].sequence, 1u);
}

// Sends one request and returns the whole answer.
std::string httpGet(uint16_t port, const std::string& request) {
    Client browser(port);
    browser.send(request);
    return browser.receiveAll();
}

std::string bodyOf(const std::string& response) {
    const size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? "" : response.substr(at + 4);
}

TEST(Receiver, HttpServesThePageTheLatestPictureAndALiveStream) {
    Started s([](ReceiverOptions& o, const fs::path&) { o.httpPort = 0; });
    const uint16_t http = s.receiver->httpPort();
    const std::string page = httpGet(http, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << page;
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(bodyOf(page).find("<img src=\"/stream\""), std::string::npos);
    for (const auto& [request, status] :
         {std::pair{"GET /latest.jpg", "404"}, {"GET /nothing", "404"}, {"POST /", "405"}})
        EXPECT_EQ(httpGet(http, std::string(request) + " HTTP/1.0\r\n\r\n")
                      .rfind(std::string("HTTP/1.0 ") + status, 0),
                  0u)
            << request;

    Client viewer(http);
    ASSERT_TRUE(viewer.send(std::string("GET /stream HTTP/1.1\r\n\r\n")));
    const std::string head = viewer.receiveUntil("\r\n\r\n");
    EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("Content-Type: multipart/x-mixed-replace; boundary=lumoframe"),
              std::string::npos);

    Client device(s.receiver->port());
    ASSERT_EQ(device.receive(4), "vetu");
    const auto pictures = picturesFor(4, 2, 31, 7);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(device.send(testdevice::message(pictures[k], k, 31, 7)));
        const std::string part = viewer.receiveUntil("\r\n\r\n");
        EXPECT_EQ(part.rfind("--lumoframe\r\nContent-Type: image/jpeg\r\n", 0), 0u) << part;
        const size_t at = part.find("Content-Length: ");
        const std::string body =
            viewer.receive(at == std::string::npos ? 0 : std::stoul(part.substr(at + 16)));
        EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.end()), pictures[k]) << k;
        EXPECT_EQ(viewer.receive(2), "\r\n");
    }
    const std::string latest = httpGet(http, "GET /latest.jpg?t=5 HTTP/1.1\r\n\r\n");
    EXPECT_NE(latest.find("Content-Type: image/jpeg"), std::string::npos);
    const std::string body = bodyOf(latest);
    EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.end()), pictures[1]);

    s.receiver->stop();  // with a viewer and a device still connected
    EXPECT_TRUE(viewer.closedByPeer());
    EXPECT_TRUE(device.closedByPeer());
}

TEST(Receiver, StoppingFinishesTheMoviesOfConnectedDevices) {
    Started s([](ReceiverOptions& o, const fs::path& folder) {
        o.aviDir = folder.string();
        o.frameMs = 50;
    });
    Client device(s.receiver->port());
    ASSERT_EQ(device.receive(4), "vetu");
    const auto pictures = picturesFor(5, 4, 16, 16);
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(device.send(testdevice::message(pictures[k], 1000 + 100 * k, 16, 16)));
    // A day later: the gap is cut out, not filled with 1.7 million repeats.
    ASSERT_TRUE(device.send(testdevice::message(pictures[3], 86401200, 16, 16)));
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().pictures == 4; }));
    s.receiver->stop();
    const std::string movie = (s.folder / "device0001.avi").string();
    ASSERT_TRUE(fs::exists(movie));
    if (!testpics::haveFfmpeg())
        GTEST_SKIP() << "movie not read back: ffprobe/ffmpeg not installed";
    auto info = testpics::probe(movie, "-show_streams -count_frames");
    EXPECT_EQ(info["streams.stream.0.nb_frames"], "6");  // 1 + 2 + 2 (100 ms apart) + 1
    EXPECT_EQ(info["streams.stream.0.nb_read_frames"], "4");
    EXPECT_EQ(info["streams.stream.0.r_frame_rate"], "20/1");
}

TEST(Receiver, RefusesAPortInUseAndABadAddress) {
    Started first;
    ReceiverOptions options;
    options.port = first.receiver->port();
    std::string error;
    EXPECT_FALSE(Receiver(options).start(&error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(options.port)),
              std::string::npos)
        << error;
    options.port = 0;
    options.listenAddress = "localhost:1";
    EXPECT_FALSE(Receiver(options).start(&error));
    EXPECT_NE(error.find("not an IPv4 address"), std::string::npos) << error;
}

}  // namespace
