// The desktop receiver of the webcam stream: listens for devices, greets each with "vetu",
// checks and splits their messages, and hands every restored JPEG picture to the outputs:
// numbered files per device connection, one Motion-JPEG AVI per device connection, and a
// loopback HTTP server (the latest picture, a live MJPEG stream and a page showing it).
// One thread per connection; stop() ends them all.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "message_parser.h"

constexpr uint16_t kWebcamPort = 2047;

// A restored picture as the outputs see it.
struct ReceivedPicture {
    uint32_t device = 0;    // connection number, from 1 in the order devices connected
    uint32_t sequence = 0;  // picture number within the connection, from 1
    uint32_t tick = 0;      // the device's tick count for the frame, ms
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> jpeg;  // the whole JPEG picture, first 8 bytes restored
};

struct ReceiverOptions {
    std::string listenAddress = "127.0.0.1";  // IPv4 address for devices; 0.0.0.0 for all
    uint16_t port = kWebcamPort;              // 0: any free port (see Receiver::port)
    std::string outDir;                       // save pictures under it; empty: no files
    std::string aviDir;                       // record movies into it; empty: no movies
    int httpPort = -1;                        // loopback HTTP port; -1: none, 0: any free port
    // Movie tick length, ms: short enough that every picture of a device gets a tick of its own
    // (a device sends at most 30 a second), timed by the device's frame ticks.
    uint32_t frameMs = 10;
    uint32_t maxPicture = kDefaultMaxPicture;
    // A message whose bytes stop arriving for this long is dropped with its connection, ms.
    uint32_t messageTimeoutMs = 30000;
    // Device connections served at once; more are refused with a line.
    uint32_t maxDevices = 64;
    // Called on the device's connection thread for every picture, after the outputs.
    std::function<void(const ReceivedPicture&)> onPicture;
    // Problems (a dropped connection, a file that cannot be written): one line each. Default:
    // standard error.
    std::function<void(const std::string&)> error;
    // Connections coming and going, files written. Default: standard output.
    std::function<void(const std::string&)> info;
};

struct ReceiverStats {
    uint32_t devicesConnected = 0;  // device connections accepted
    uint32_t devicesFinished = 0;   // device connections that have ended
    uint32_t pictures = 0;          // pictures received from all devices
    uint32_t devicesRefused = 0;    // device connections refused: too many at once
};

class Receiver {
  public:
    explicit Receiver(ReceiverOptions options);
    ~Receiver();  // stops
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Opens the listening sockets and starts accepting. On failure `*error` says why.
    bool start(std::string* error);
    // Ends every connection (finishing open movies) and joins every thread. Idempotent.
    void stop();

    uint16_t port() const { return port_; }
    uint16_t httpPort() const { return httpPort_; }
    ReceiverStats stats() const;

  private:
    struct Connection {
        int fd = -1;  // guarded by connectionsMutex_; closed by its own thread
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void accepted(int fd, bool http);
    void deviceMain(Connection* connection, uint32_t device, std::string peer);
    void httpMain(Connection* connection);
    void serveStream(int fd);
    void publish(const ReceivedPicture& picture);
    void finishConnection(Connection* connection);
    void reapFinished();
    void finishCutMovies();
    void say(const std::function<void(const std::string&)>& to, const std::string& line,
             bool isError);

    ReceiverOptions options_;
    int deviceListener_ = -1;
    int httpListener_ = -1;
    int wakeRead_ = -1;  // a byte written to wakeWrite_ ends the accept loop
    int wakeWrite_ = -1;
    uint16_t port_ = 0;
    uint16_t httpPort_ = 0;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;

    mutable std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;

    std::atomic<uint32_t> nextDevice_{1};
    std::atomic<uint32_t> devicesOpen_{0};  // device connections being served
    std::atomic<uint32_t> devicesFinished_{0};
    std::atomic<uint32_t> devicesRefused_{0};
    std::atomic<uint32_t> pictures_{0};
    std::mutex outputMutex_;  // one line at a time; file and folder names

    // The latest picture from any device, for the HTTP side.
    std::mutex latestMutex_;
    std::condition_variable latestChanged_;
    std::shared_ptr<const std::vector<uint8_t>> latest_;
    uint64_t latestSequence_ = 0;
};
