// The webcam link in process: a simulated handheld whose desktop peer is a test server on a
// free loopback port, the capture state (settings, photo buffer, built-in encoder) with the
// webcam run active, frames of the test scene fed through the frame consumer, and a server
// that greets as told and records or withholds what it reads. Every wait has a time limit.
#pragma once

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/program_resources.h"
#include "media/capture_test_support.h"
#include "message_parser.h"
#include "net/webcam.h"
#include "preview/osd_text.h"
#include "preview/overlay.h"
#include "support/wait_until.h"

namespace webcamtest {

using Clock = std::chrono::steady_clock;

inline uint32_t msSince(Clock::time_point start) {
    return uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

inline bool waitFor(const std::function<bool()>& done, uint32_t limitMs) {
    return waitUntil(done, std::chrono::milliseconds(limitMs));
}

inline int openDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// Threads of this process now blocked in system call `number` (SYS_connect...), as the kernel
// shows them in /proc.
inline int threadsInSyscall(long number) {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(d)) {
            if (entry->d_name[0] == '.') continue;
            const std::string path = std::string("/proc/self/task/") + entry->d_name + "/syscall";
            if (FILE* f = fopen(path.c_str(), "r")) {
                long call = -1;
                n += fscanf(f, "%ld", &call) == 1 && call == number;
                fclose(f);
            }
        }
        closedir(d);
    }
    return n;
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A loopback port on which nothing listens.
inline uint16_t unusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// The messages of a recorded stream as the desktop receiver's parser reads them; `whole` tells
// whether the stream ends on a message's end.
inline std::vector<ParseResult> splitStream(const std::vector<uint8_t>& s, bool* whole = nullptr) {
    std::vector<ParseResult> out;
    size_t at = 0;
    for (ParseResult r;
         (r = parseMessage(s.data() + at, s.size() - at, kDefaultMaxPicture)).status ==
         ParseStatus::Message;
         at += r.consumed)
        out.push_back(r);
    if (whole) *whole = at == s.size();
    return out;
}

// Whether the ticks of `got` are `handed` with some left out, in order, ending with the last one
// handed: a message waiting for the sender is replaced by a newer one, never queued.
inline bool latestOfEach(const std::vector<ParseResult>& got, const std::vector<uint32_t>& handed) {
    if (got.empty() || handed.empty() || got.back().tick != handed.back()) return false;
    size_t h = 0;
    for (const ParseResult& m : got) {
        while (h < handed.size() && handed[h] != m.tick) ++h;
        if (h++ == handed.size()) return false;
    }
    return true;
}

// A server on a free loopback port. Each connection is greeted with `greeting`, then read into
// its record unless reading is paused. A small receive buffer makes a server that does not read
// hold up the sender soon.
class TestServer {
  public:
    explicit TestServer(std::string greeting = "vetu", int backlog = 8) : greeting_(greeting) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a = loopback(0);
        socklen_t n = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), n);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        ::listen(listener_, backlog);
    }
    ~TestServer() { stop(); }

    // Starts accepting (a server that never accepts leaves connections in its backlog).
    void accept() {
        acceptor_ = std::thread([this] {
            for (int fd; (fd = ::accept(listener_, nullptr, nullptr)) >= 0;) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) {
                    ::close(fd);
                    return;
                }
                connections_.push_back(std::make_unique<Connection>(fd));
                Connection* c = connections_.back().get();
                c->thread = std::thread([this, c] { serve(*c); });
            }
        });
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::exchange(stopping_, true)) return;
        }
        ending_.store(true);
        ::shutdown(listener_, SHUT_RDWR);
        if (acceptor_.joinable()) acceptor_.join();
        for (auto& c : connections_) {
            ::shutdown(c->fd, SHUT_RDWR);
            c->thread.join();
            ::close(c->fd);
        }
        ::close(listener_);
    }

    uint16_t port() const { return port_; }
    void pauseReading(bool paused) { paused_.store(paused); }
    size_t connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_.size();
    }
    // What connection `i` (from 0) has read so far.
    std::vector<uint8_t> received(size_t i) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (i >= connections_.size()) return {};
        std::lock_guard<std::mutex> dataLock(connections_[i]->dataMutex);
        return connections_[i]->data;
    }
    // Waits until connection `i` holds `count` whole messages and nothing more.
    bool waitForMessages(size_t i, size_t count, uint32_t limitMs = 5000) {
        bool whole = false;
        return waitFor([&] { return splitStream(received(i), &whole).size() == count && whole; },
                       limitMs);
    }
    // Whether the device has ended connection `i`, and how long after it was accepted.
    bool ended(size_t i, uint32_t* afterMs = nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (i >= connections_.size()) return false;
        if (afterMs) *afterMs = connections_[i]->endedAfterMs.load();
        return connections_[i]->ended.load();
    }

  private:
    struct Connection {
        explicit Connection(int descriptor) : fd(descriptor) {}
        int fd;
        Clock::time_point acceptedAt = Clock::now();
        std::thread thread;
        std::mutex dataMutex;
        std::vector<uint8_t> data;
        std::atomic<bool> ended{false};
        std::atomic<uint32_t> endedAfterMs{0};
    };

    void serve(Connection& c) {
        ::send(c.fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
        uint8_t buffer[65536];
        while (true) {
            // A paused server still ends when stopped (a failed test must not hang in it).
            if (paused_.load() && !ending_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            std::lock_guard<std::mutex> lock(c.dataMutex);
            c.data.insert(c.data.end(), buffer, buffer + n);
        }
        c.endedAfterMs.store(msSince(c.acceptedAt));
        c.ended.store(true);
    }

    std::string greeting_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> ending_{false};
};

// The capture state of a webcam run on a device whose desktop peer is `port` on loopback.
class WebcamRun : public ::testing::Test {
  protected:
    void useDevice(uint16_t port, uint32_t w, uint32_t h, uint32_t quality = 75,
                   uint32_t rotation = 0) {
        DeviceProfile p = capturetest::profile();
        p.pppPeer = "127.0.0.1:" + std::to_string(port);
        capture_ = std::make_unique<capturetest::CaptureState>(p);
        // Large enough that a 640 x 480 picture stays clear of the preview's scratch.
        ensureImage(gApp.photoImage, 1280, 960);
        seenActivity.store(Active);
        gApp.activity.store(Active);
        frameCaptureMode.store(kModeWebcam);
        gAviWriter.pictureChanged = 1;
        capture_->encodeAs(w, h, quality, 1, rotation);
        width_ = w;
        height_ = h;
    }

    void TearDown() override {
        stopWebcam();
        seenActivity.store(Idle);
        gApp.activity.store(Idle);
        capture_.reset();
    }

    // Frame `number` of the scene through the frame consumer at `tick`.
    void feed(uint32_t number, uint32_t tick = GetTickCount()) {
        std::vector<uint8_t> frame = capturetest::sceneFrame(width_, height_, number, tick);
        frameStartTick.store(tick);
        gFrame.framePixels = frame.data();
        consumeFrame(frame.data());
    }

    static bool idle() {
        return gWebcamLink.socket.load() != INVALID_SOCKET && gWebcamLink.busy.load() == WebcamFree;
    }

    // Feeds frames until the sender stays busy for 300 ms: the connection no longer takes
    // data. The ticks of the frames handed over are added to `sent`. False when it never blocks.
    bool feedUntilBlocked(std::vector<uint32_t>* sent = nullptr) {
        for (uint32_t n = 0; n < 4000; ++n) {
            if (!waitFor(idle, 300)) return true;
            const uint32_t tick = GetTickCount();
            feed(0, tick);
            if (sent) sent->push_back(tick);
        }
        return false;
    }

    uint32_t width_ = 0, height_ = 0;
    std::unique_ptr<capturetest::CaptureState> capture_;
};

// Whether the overlay's webcam line on a 240 x 320 "Portrait" screen drawn over black equals
// `text` drawn alone in yellow at column 1 of the last row (the size text at its right aside).
inline bool overlayShows(const std::string& text) {
    static const HINSTANCE module = createProgramModule(kProgramDevicePath, &kProgramResources);
    gApp.instance = module;
    ensureImage(gApp.screenImage, 240, 320);
    loadFont();
    setTextOrientation(1);
    const auto lineCells = [&] {
        const auto* p = reinterpret_cast<const uint16_t*>(gApp.screenImage.pixels);
        std::vector<uint16_t> cells;
        for (size_t y = 304; y < 320; ++y)
            cells.insert(cells.end(), p + y * 240 + 8, p + y * 240 + 8 + 8 * text.size());
        std::memset(gApp.screenImage.pixels, 0, gApp.screenImage.header.biSizeImage);
        return cells;
    };
    lineCells();  // clears the screen
    gApp.osdMessage.store(nullptr);
    gApp.menuVisible.store(0);
    drawOverlay(gApp.screenImage);
    const std::vector<uint16_t> shown = lineCells();
    gOsdText.colour = kOsdYellow;
    gOsdText.column = 1;
    gOsdText.row = 19;
    drawText(text.c_str());
    return shown == lineCells();
}

}  // namespace webcamtest
