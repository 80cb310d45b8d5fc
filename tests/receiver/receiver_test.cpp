// The receiver in-process on ephemeral loopback ports, with test threads playing the devices
// and plain sockets playing the browser.
#include "receiver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "media/avi_writer.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"
#include "receiver/test_device.h"
#include "support/wait_until.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LUMO_SANITIZED 1
#endif
#endif
#ifdef LUMO_SANITIZED
// The sanitizer runtime's count of the bytes the program's allocations hold
// (<sanitizer/allocator_interface.h>, which gcc does not install).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

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
    // At most ten seconds for what the receiver's threads do.
    template <typename Done>
    static bool waitFor(Done done) {
        return waitUntil(done, std::chrono::seconds(10), std::chrono::milliseconds(5));
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

namespace {

// The process's resident memory now and at its peak, bytes (Linux /proc).
std::pair<uint64_t, uint64_t> residentBytes() {
    std::ifstream status("/proc/self/status");
    uint64_t now = 0, peak = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) now = std::stoull(line.substr(6)) * 1024;
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stoull(line.substr(6)) * 1024;
    }
    return {now, peak};
}

// The memory the process holds for its own use, bytes: its peak resident set, or under a
// sanitizer (whose shadow memory and per-thread records multiply the resident set) the bytes its
// allocations hold now, as the sanitizer's allocator counts them.
uint64_t programBytes() {
#ifdef LUMO_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    return residentBytes().second;
#endif
}

// A message header claiming a picture of `length` bytes, and `tail` bytes of it.
std::vector<uint8_t> claim(uint32_t length, size_t tail) {
    std::vector<uint8_t> m = testdevice::message(testdevice::fakeJpeg(64, 1), 5, 8, 8);
    testdevice::put32(&m[28], length);
    m.resize(kMessageHeaderBytes + tail, 0x55);
    return m;
}

}  // namespace

// Fifty connections claiming 16 MiB pictures are refused at once; fifty more claiming the largest
// real picture and trickling its first bytes hold little memory each; a real device streaming
// meanwhile is served in full, and the process stays below 100 MB.
TEST(ReceiverLimits, HostileConnectionsKeepMemoryBoundedWhileADeviceStreams) {
    Started s([](ReceiverOptions& o, const fs::path& folder) { o.aviDir = folder.string(); });
    std::vector<std::unique_ptr<Client>> hostile;
    for (int i = 0; i < 50; ++i) {
        hostile.push_back(std::make_unique<Client>(s.receiver->port()));
        ASSERT_EQ(hostile.back()->receive(4), "vetu");
        ASSERT_TRUE(hostile.back()->send(claim(16u << 20, 4000)));
    }
    for (auto& c : hostile) EXPECT_TRUE(c->closedByPeer()) << "refused at once";
    hostile.clear();
    for (int i = 0; i < 50; ++i) {
        hostile.push_back(std::make_unique<Client>(s.receiver->port()));
        ASSERT_EQ(hostile.back()->receive(4), "vetu");
        ASSERT_TRUE(hostile.back()->send(claim(kLargestDevicePicture, 300000)));
    }
    const auto pictures = picturesFor(3, 60, 64, 48);
    ASSERT_TRUE(streamPictures(s.receiver->port(), pictures, 0, 64, 48, 3));
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().pictures == 60; }));
    // Measured while the trickling fifty are still open, so buffers sized by their claims count.
    EXPECT_LT(programBytes(), 100u << 20) << "resident now " << residentBytes().first;
    // The refused fifty and the device: the trickling ones are still served. A connection is
    // counted when its thread has closed it, which may come after its last picture is counted.
    EXPECT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == 51; }))
        << s.receiver->stats().devicesFinished;
    const auto errors = s.locked([&] { return s.errors; });
    ASSERT_EQ(errors.size(), 50u);
    EXPECT_NE(errors[0].find("16777216"), std::string::npos) << errors[0];
}

// A message whose bytes stop coming is dropped after the time-out (a short one here); a device
// quiet between messages is not.
TEST(ReceiverLimits, AStalledMessageIsDroppedAQuietDeviceIsNot) {
    Started s([](ReceiverOptions& o, const fs::path&) { o.messageTimeoutMs = 300; });
    Client stalled(s.receiver->port()), quiet(s.receiver->port());
    ASSERT_EQ(stalled.receive(4), "vetu");
    ASSERT_EQ(quiet.receive(4), "vetu");
    ASSERT_TRUE(quiet.send(testdevice::message(testpics::makeJpeg(8, 8, 1), 1, 8, 8)));
    ASSERT_TRUE(stalled.send(claim(5000, 100)));
    EXPECT_TRUE(stalled.closedByPeer());
    const auto errors = s.locked([&] { return s.errors; });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("no byte of the message for 300 ms (132 of 5032 bytes)"),
              std::string::npos)
        << errors[0];
    EXPECT_TRUE(quiet.send(testdevice::message(testpics::makeJpeg(8, 8, 2), 2, 8, 8)));
    EXPECT_TRUE(s.waitFor([&] { return s.receiver->stats().pictures == 2; }));
}

TEST(ReceiverLimits, SixtyFourDevicesAtOnceTheNextIsRefusedWithALine) {
    Started s;
    std::vector<std::unique_ptr<Client>> devices;
    for (int i = 0; i < 64; ++i) {
        devices.push_back(std::make_unique<Client>(s.receiver->port()));
        ASSERT_EQ(devices.back()->receive(4), "vetu") << i;
    }
    Client extra(s.receiver->port());
    EXPECT_EQ(extra.receive(4), "") << "closed without a greeting";
    // The refusal is counted and said around the close the client sees, so wait for both.
    EXPECT_TRUE(s.waitFor([&] {
        return s.receiver->stats().devicesRefused == 1 &&
               s.locked([&] { return s.errors.size(); }) == 1;
    }));
    const auto errors = s.locked([&] { return s.errors; });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(": 64 devices are connected already"), std::string::npos);
    devices.pop_back();
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == 1; }));
    Client again(s.receiver->port());
    EXPECT_EQ(again.receive(4), "vetu") << "room again once one has left";
}

// Pictures 66 ms apart by the device's ticks (15 a second): the movie keeps every one at its
// tick, and the log counts pictures and seconds.
TEST(ReceiverMovies, EveryPictureIsKeptAtTheDevicesTick) {
    std::vector<std::string> info;
    std::mutex infoMutex;
    Started s([&](ReceiverOptions& o, const fs::path& folder) {
        o.aviDir = folder.string();
        o.info = [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(infoMutex);
            info.push_back(line);
        };
    });
    const auto pictures = picturesFor(4, 45, 32, 24);
    {
        Client device(s.receiver->port());
        ASSERT_EQ(device.receive(4), "vetu");
        for (int k = 0; k < 45; ++k)
            ASSERT_TRUE(device.send(testdevice::message(pictures[k], 5000 + 66 * k, 32, 24)));
    }
    ASSERT_TRUE(s.waitFor([&] { return s.receiver->stats().devicesFinished == 1; }));
    {
        std::lock_guard<std::mutex> lock(infoMutex);
        const auto closed = std::find_if(info.begin(), info.end(), [](const std::string& l) {
            return l.find("closed, ") != std::string::npos;
        });
        ASSERT_NE(closed, info.end());
        EXPECT_NE(closed->find(" closed, 45 pictures, 2.9 s"), std::string::npos) << *closed;
    }
    const std::string movie = (s.folder / "device0001.avi").string();
    EXPECT_FALSE(fs::exists(movie + ".journal"));
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const auto m = movieoracle::readMovie(movie);
    ASSERT_EQ(m.pictureTicks.size(), 45u);
    // 66 ms apart: 6.6 ticks of 10 ms between pictures, as the writer rounds them (after the
    // first, which holds only the movie's first tick: its clock starts with it).
    for (size_t k = 2; k < 45; ++k)
        EXPECT_NEAR(double(m.pictureTicks[k] - m.pictureTicks[k - 1]), 6.6, 0.6) << k;
}

// The receiver killed in the middle of a movie: the movie opens as it is, and the next start
// with the same folder finishes it from its journal.
TEST(ReceiverMovies, AMovieCutByAKillIsFinishedByTheNextStart) {
    const fs::path folder =
        fs::temp_directory_path() / ("lumo_receiver_kill_" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        ::close(out[0]);
        execl(LUMO_RECEIVER_BINARY, LUMO_RECEIVER_BINARY, "--port", "0", "--avi", folder.c_str(),
              nullptr);
        _exit(127);
    }
    ::close(out[1]);
    std::FILE* lines = fdopen(out[0], "r");
    char line[512] = "";
    ASSERT_NE(fgets(line, sizeof line, lines), nullptr);
    const char* colon = strrchr(line, ':');
    ASSERT_NE(colon, nullptr) << line;
    const auto pictures = picturesFor(6, 30, 24, 16);
    Client device(uint16_t(atoi(colon + 1)));
    ASSERT_EQ(device.receive(4), "vetu");
    for (int k = 0; k < 30; ++k)
        ASSERT_TRUE(device.send(testdevice::message(pictures[k], 100 * k, 24, 16)));
    // Await the journal's entries of all 30 pictures (each is stored with its first tick):
    // everything the movie holds has reached the disk.
    const fs::path journal = folder / "device0001.avi.journal";
    const auto storedPictures = [&] {
        const std::vector<uint8_t> j = testpics::readFile(journal.string());
        std::set<uint32_t> offsets;
        for (size_t at = kAviJournalHeaderBytes; at + 16 <= j.size(); at += 16) {
            uint32_t e[4];
            std::memcpy(e, &j[at], 16);
            if (e[0] == kAviVideoChunk) offsets.insert(e[2]);
        }
        return offsets.size();
    };
    ASSERT_TRUE(waitUntil([&] { return storedPictures() >= 30; }, std::chrono::seconds(20),
                          std::chrono::milliseconds(5)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    fclose(lines);
    const std::string movie = (folder / "device0001.avi").string();
    if (testpics::haveFfmpeg()) {
        EXPECT_TRUE(movieoracle::readMovie(movie).read) << "ffprobe reads the cut movie";
    }

    std::vector<std::string> info;
    {
        ReceiverOptions o;
        o.port = 0;
        o.aviDir = folder.string();
        o.info = [&](const std::string& l) { info.push_back(l); };
        Receiver again(o);
        std::string error;
        ASSERT_TRUE(again.start(&error)) << error;
    }
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info[0].rfind("finished the movie " + movie + " cut off before: 30 pictures", 0), 0u)
        << info[0];
    EXPECT_FALSE(fs::exists(journal));
    if (testpics::haveFfmpeg()) {
        const auto m = movieoracle::readMovie(movie);
        EXPECT_EQ(m.decodeErrors, "");
        EXPECT_EQ(m.pictureTicks.size(), 30u);
        EXPECT_NEAR(double(m.ticks), 290.0, 10.0) << "2.9 s of 10 ms ticks";
    }
    fs::remove_all(folder);
}
