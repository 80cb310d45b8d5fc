// The webcam link in process: a simulated handheld whose desktop peer is a test server on a
// free loopback port, the capture state (settings, photo buffer, built-in encoder) with the
// webcam run active, frames of the test scene fed through the frame consumer, and a server
// that greets as told and records or withholds what it reads. Every wait has a time limit.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/program_resources.h"
#include "media/capture_test_support.h"
#include "net/webcam.h"
#include "preview/osd_text.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/settings_table.h"

namespace webcamtest {

using Clock = std::chrono::steady_clock;

inline uint32_t msSince(Clock::time_point start) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Polls `done` every few ms for at most `limitMs`; true when it held.
inline bool waitFor(const std::function<bool()>& done, uint32_t limitMs) {
    const auto start = Clock::now();
    while (!done()) {
        if (msSince(start) > limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline int openDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// A loopback port on which nothing listens.
inline uint16_t unusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// One message of a recorded stream.
struct Message {
    size_t offset = 0;
    uint32_t length = 0;  // L
    uint32_t tick = 0;
    uint32_t sizeWord = 0;
    bool zeros = false;  // bytes 0-19 are zero
    bool words = false;  // the header words A and B are right
};

// Splits a recorded stream into messages; `whole` tells whether it ends on a message's end.
inline std::vector<Message> splitStream(const std::vector<uint8_t>& s, bool* whole = nullptr) {
    std::vector<Message> out;
    size_t at = 0;
    while (at + 40 <= s.size()) {
        Message m;
        m.offset = at;
        m.zeros = std::all_of(s.begin() + long(at), s.begin() + long(at) + 20,
                              [](uint8_t b) { return b == 0; });
        m.words = get32(&s[at + 20]) == 0x5B3E9A17 && get32(&s[at + 24]) == 0xC6D20F84;
        m.length = get32(&s[at + 28]);
        m.tick = get32(&s[at + 32]);
        m.sizeWord = get32(&s[at + 36]);
        if (!m.words || at + 32 + m.length > s.size()) break;
        out.push_back(m);
        at += 32 + m.length;
    }
    if (whole) *whole = at == s.size();
    return out;
}

// Whether `got` is `handed` with some left out, in order, ending with the last one handed: a
// message waiting for the sender is replaced by a newer one, never queued.
inline bool latestOfEach(const std::vector<uint32_t>& got, const std::vector<uint32_t>& handed) {
    if (got.empty() || handed.empty() || got.back() != handed.back()) return false;
    size_t h = 0;
    for (uint32_t tick : got) {
        while (h < handed.size() && handed[h] != tick) ++h;
        if (h == handed.size()) return false;
        ++h;
    }
    return true;
}

inline std::vector<uint32_t> ticksOf(const std::vector<Message>& messages) {
    std::vector<uint32_t> ticks;
    for (const Message& m : messages) ticks.push_back(m.tick);
    return ticks;
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
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        ::listen(listener_, backlog);
    }
    ~TestServer() { stop(); }

    // Starts accepting (a server that never accepts leaves connections in its backlog).
    void accept() {
        acceptor_ = std::thread([this] {
            while (true) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                if (fd < 0) return;
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) {
                    ::close(fd);
                    return;
                }
                auto c = std::make_unique<Connection>();
                c->fd = fd;
                c->acceptedAt = Clock::now();
                Connection* raw = c.get();
                c->thread = std::thread([this, raw] { serve(*raw); });
                connections_.push_back(std::move(c));
            }
        });
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
        }
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
        return waitFor(
            [&] {
                bool whole = false;
                return splitStream(received(i), &whole).size() == count && whole;
            },
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
        int fd = -1;
        Clock::time_point acceptedAt;
        std::thread thread;
        std::mutex dataMutex;
        std::vector<uint8_t> data;
        std::atomic<bool> ended{false};
        std::atomic<uint32_t> endedAfterMs{0};
    };

    void serve(Connection& c) {
        if (!greeting_.empty()) ::send(c.fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
        uint8_t buffer[65536];
        while (true) {
            if (paused_.load()) {
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
};

// The capture state of a webcam run on a device whose desktop peer is `port` on loopback.
class WebcamRun : public ::testing::Test {
  protected:
    void useDevice(uint16_t port) {
        DeviceProfile p = capturetest::profile();
        p.pppPeer = "127.0.0.1:" + std::to_string(port);
        capture_ = std::make_unique<capturetest::CaptureState>(p);
        // Large enough that a 640 x 480 picture stays clear of the preview's scratch.
        ensureImage(gApp.photoImage, 1280, 960);
        seenActivity.store(Active);
        gApp.activity.store(Active);
        frameCaptureMode.store(kModeWebcam);
        gAviWriter.pictureChanged = 1;
        traceClear();
    }

    void encodeAs(uint32_t w, uint32_t h, uint32_t quality = 75, uint32_t rotation = 0) {
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

    // Frame `number` of the scene through the frame consumer at `tick`; the frame as fed.
    std::vector<uint8_t> feed(uint32_t number, uint32_t tick) {
        std::vector<uint8_t> frame = capturetest::sceneFrame(width_, height_, number, tick);
        frameStartTick.store(tick);
        gFrame.framePixels = frame.data();
        consumeFrame(frame.data());
        return frame;
    }
    std::vector<uint8_t> feed(uint32_t number) { return feed(number, GetTickCount()); }

    // The JPEG picture of `frame` encoded on its own with fresh headers: what a message's
    // picture must be once its first 8 bytes are put back.
    std::vector<uint8_t> encodeAlone(std::vector<uint8_t> frame) {
        std::vector<uint8_t> out(frame.size() + 4096);
        const uint32_t n = encodeFrame(gEncoderSetup, out.data(), frame.data(), 1);
        out.resize(n);
        return out;
    }

    static bool connected() { return gWebcamLink.socket.load() != INVALID_SOCKET; }
    static bool idle() { return connected() && gWebcamLink.busy.load() == WebcamFree; }

    // Feeds frames until the sender stays busy for 300 ms: the connection no longer takes
    // data. The ticks of the frames handed over are added to `sent`. False when it never blocks.
    bool feedUntilBlocked(std::vector<uint32_t>* sent = nullptr) {
        const std::vector<uint8_t> frame = capturetest::sceneFrame(width_, height_);
        for (uint32_t n = 0; n < 4000; ++n) {
            if (!waitFor(idle, 300)) return true;
            const uint32_t tick = GetTickCount();
            std::vector<uint8_t> copy = frame;
            frameStartTick.store(tick);
            gFrame.framePixels = copy.data();
            consumeFrame(copy.data());
            if (sent) sent->push_back(tick);
        }
        return false;
    }

    uint32_t width_ = 0, height_ = 0;
    std::unique_ptr<capturetest::CaptureState> capture_;
};

// The overlay's webcam line on a 240 x 320 "Portrait" screen drawn over black equals `text`
// drawn alone in yellow at column 1 of the last row.
inline ::testing::AssertionResult overlayShows(const std::string& text) {
    static const HINSTANCE module = createProgramModule(kProgramDevicePath, &kProgramResources);
    gApp.instance = module;
    ensureImage(gApp.screenImage, 240, 320);
    loadFont();
    setTextOrientation(1);
    ImageBuffer& screen = gApp.screenImage;
    const auto lastRow = [&] {
        const auto* p = reinterpret_cast<const uint16_t*>(screen.pixels);
        return std::vector<uint16_t>(p + 304 * 240, p + 320 * 240);
    };
    std::memset(screen.pixels, 0, screen.header.biSizeImage);
    gApp.osdMessage.store(nullptr);
    gApp.menuVisible.store(0);
    drawOverlay(screen);
    std::vector<uint16_t> got = lastRow();
    std::memset(screen.pixels, 0, screen.header.biSizeImage);
    gOsdText.colour = kOsdYellow;
    gOsdText.column = 1;
    gOsdText.row = 19;
    drawText(text.c_str());
    std::vector<uint16_t> want = lastRow();
    // Only the line's own cells: the size text sits at the right of the same row.
    for (size_t y = 0; y < 16; ++y)
        for (size_t x = 0; x < 240; ++x)
            if (x < 8 || x >= 8 + 8 * text.size()) got[y * 240 + x] = want[y * 240 + x] = 0;
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the overlay does not show \"" << text << "\"";
}

}  // namespace webcamtest
