#include "receiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "media/avi_repair.h"
#include "media/avi_writer.h"

namespace {

constexpr char kGreeting[4] = {'v', 'e', 't', 'u'};
constexpr size_t kFirstBufferBytes = 64 * 1024;  // also the least a message buffer grows by
constexpr size_t kMaxRequestBytes = 8 * 1024;
constexpr int kHttpReceiveTimeoutS = 5;  // a client that sends no request in time is dropped
constexpr int kHttpSendTimeoutS = 10;    // and one that stops reading a stream
constexpr int kStreamWaitMs = 1000;      // how often an idle stream looks for the end
constexpr uint32_t kMaxGapMs = 60000;    // a longer gap between pictures is cut out of a movie
constexpr const char* kBoundary = "lumoframe";

const char kPage[] =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Lumovatrix webcam</title>"
    "</head>\n<body style=\"margin:0;background:#111\">\n"
    "<img src=\"/stream\" alt=\"webcam stream\" style=\"display:block;margin:auto;"
    "max-width:100%\">\n</body></html>\n";

std::string errnoText() {
    return std::strerror(errno);
}

bool sendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool sendText(int fd, const std::string& text) {
    return sendAll(fd, text.data(), text.size());
}

int listenOn(const std::string& address, uint16_t port, uint16_t* boundPort, std::string* error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    const std::string where = address + ":" + std::to_string(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        *error = "'" + address + "' is not an IPv4 address";
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = "cannot create a socket: " + errnoText();
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        *error = "cannot listen on " + where + ": " + errnoText();
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    *boundPort = ntohs(addr.sin_port);
    return fd;
}

std::string peerName(int fd) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return "?";
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

std::string numbered(const char* prefix, uint32_t number, const char* suffix) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%04u%s", prefix, number, suffix);
    return name;
}

// What one device connection writes: a folder of numbered pictures and a movie. Names never
// replace a file that exists: the first free number from the connection's own on is taken.
class DeviceOutputs {
  public:
    DeviceOutputs(const ReceiverOptions& options, uint32_t device,
                  std::function<void(const std::string&, bool)> say)
        : options_(options), device_(device), say_(std::move(say)) {}

    ~DeviceOutputs() { closeMovie(); }

    void add(const ReceivedPicture& picture) {
        if (!options_.outDir.empty() && !filesFailed_) savePicture(picture);
        if (!options_.aviDir.empty() && !movieFailed_) recordPicture(picture);
    }

    void closeMovie() {
        if (writer_ == nullptr || writer_->file.ops == nullptr) return;
        const uint64_t ms =
            uint64_t{writer_->ticksTotal.load(std::memory_order_relaxed)} * options_.frameMs;
        aviClose(*writer_);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", double(ms) / 1000);
        say_("device " + std::to_string(device_) + ": movie " + moviePath_ + " closed, " +
                 std::to_string(moviePictures_) + " pictures, " + seconds + " s" +
                 (writer_->finished ? ""
                                    : " (its index could not be written: lumo-avifix " +
                                          moviePath_ + " finishes it)"),
             !writer_->finished);
    }

  private:
    void savePicture(const ReceivedPicture& picture) {
        namespace fs = std::filesystem;
        if (folder_.empty()) {
            std::error_code ec;
            fs::create_directories(options_.outDir, ec);
            for (uint32_t n = device_; folder_.empty() && n < device_ + 10000; ++n) {
                const fs::path candidate = fs::path(options_.outDir) / numbered("device", n, "");
                if (fs::create_directory(candidate, ec)) folder_ = candidate.string();
                if (ec) break;
            }
            if (folder_.empty()) {
                fail(filesFailed_, "cannot create a picture folder in " + options_.outDir +
                                       (ec ? ": " + ec.message() : ""));
                return;
            }
            say_("device " + std::to_string(device_) + ": saving pictures in " + folder_, false);
        }
        char name[32];
        std::snprintf(name, sizeof name, "%06u.jpg", picture.sequence);
        const std::string path = (fs::path(folder_) / name).string();
        std::FILE* file = std::fopen(path.c_str(), "wbx");
        bool written = file != nullptr && std::fwrite(picture.jpeg.data(), 1, picture.jpeg.size(),
                                                      file) == picture.jpeg.size();
        if (file != nullptr && std::fclose(file) != 0) written = false;
        if (!written) fail(filesFailed_, "cannot write " + path + ": " + errnoText());
    }

    void recordPicture(const ReceivedPicture& picture) {
        if (writer_ == nullptr && !openMovie(picture)) return;
        AviWriter& w = *writer_;
        // A long gap (or a tick going backwards) restarts the movie's clock as a resumed
        // recording does, instead of filling the gap with repeats of the last picture.
        if (!previous_.empty() && picture.tick - lastTick_ > kMaxGapMs) w.ticksSinceResume = 0;
        lastTick_ = picture.tick;
        const uint32_t lastPicture = w.lastPicturePos;
        bool ok = aviWriteFrame(w, previous_.data(), uint32_t(previous_.size()), picture.tick, 1);
        if (w.lastPicturePos != lastPicture) moviePictures_ += 1;
        if (ok) {
            previous_ = picture.jpeg;
            w.pictureChanged = 1;
            const uint32_t before = w.lastPicturePos;
            ok = aviWriteFrame(w, previous_.data(), uint32_t(previous_.size()), picture.tick, 0);
            if (w.lastPicturePos != before) moviePictures_ += 1;
        }
        if (!ok) {
            fail(movieFailed_, "cannot add to movie " + moviePath_ +
                                   " (disk full or the 2,000,000,000-byte limit); movie closed");
            closeMovie();
        }
    }

    bool openMovie(const ReceivedPicture& picture) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_directories(options_.aviDir, ec);
        std::FILE* file = nullptr;
        for (uint32_t n = device_; file == nullptr && n < device_ + 10000; ++n) {
            moviePath_ = (fs::path(options_.aviDir) / numbered("device", n, ".avi")).string();
            file = std::fopen(moviePath_.c_str(), "wbx");
            if (file == nullptr && errno != EEXIST) break;
        }
        if (file == nullptr) {
            fail(movieFailed_, "cannot create a movie in " + options_.aviDir + ": " + errnoText());
            return false;
        }
        // The journal beside the movie lets lumo-avifix, or this receiver's next start, finish
        // a movie cut off by a kill or a full disk.
        const AviSink journal = aviJournalFileSink((moviePath_ + kAviJournalSuffix).c_str());
        writer_ = std::make_unique<AviWriter>();
        writer_->frameMs = options_.frameMs;
        if (journal.ops == nullptr) std::fclose(file);
        if (journal.ops == nullptr ||
            !aviOpen(*writer_, aviFileSink(file), journal, picture.width, picture.height, false)) {
            fail(movieFailed_, "cannot write movie " + moviePath_);
            return false;
        }
        say_("device " + std::to_string(device_) + ": recording " + moviePath_, false);
        return true;
    }

    void fail(bool& failed, const std::string& what) {
        failed = true;
        say_("device " + std::to_string(device_) + ": " + what, true);
    }

    const ReceiverOptions& options_;
    const uint32_t device_;
    std::function<void(const std::string&, bool)> say_;
    uint32_t moviePictures_ = 0;  // pictures stored in the movie
    std::string folder_;
    bool filesFailed_ = false;
    std::unique_ptr<AviWriter> writer_;
    std::string moviePath_;
    std::vector<uint8_t> previous_;
    uint32_t lastTick_ = 0;
    bool movieFailed_ = false;
};

}  // namespace

Receiver::Receiver(ReceiverOptions options) : options_(std::move(options)) {
    if (!options_.error) {
        options_.error = [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
        };
    }
    if (!options_.info) {
        options_.info = [](const std::string& line) {
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        };
    }
}

Receiver::~Receiver() {
    stop();
}

bool Receiver::start(std::string* error) {
    if (started_) {
        *error = "already started";
        return false;
    }
    if (options_.frameMs == 0) {
        *error = "the movie tick length must be at least 1 ms";
        return false;
    }
    deviceListener_ = listenOn(options_.listenAddress, options_.port, &port_, error);
    if (deviceListener_ < 0) return false;
    if (options_.httpPort >= 0) {
        httpListener_ = listenOn("127.0.0.1", uint16_t(options_.httpPort), &httpPort_, error);
        if (httpListener_ < 0) {
            ::close(deviceListener_);
            deviceListener_ = -1;
            return false;
        }
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "cannot create a pipe: " + errnoText();
        stop();
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    finishCutMovies();
    started_ = true;
    acceptThread_ = std::thread(&Receiver::acceptLoop, this);
    return true;
}

void Receiver::stop() {
    stopping_ = true;
    if (acceptThread_.joinable()) {
        const char byte = 0;
        while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
        }
        acceptThread_.join();
    }
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        for (auto& c : connections_) {
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
        }
    }
    {
        std::lock_guard<std::mutex> lock(latestMutex_);
        latestChanged_.notify_all();
    }
    // No new connection can appear now: only the accept thread adds them.
    for (auto& c : connections_) {
        if (c->thread.joinable()) c->thread.join();
    }
    connections_.clear();
    for (int* fd : {&deviceListener_, &httpListener_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

// Movies a killed receiver left in the movie folder still have their journal: each is finished
// (exactly, from the journal) and its journal removed; one line each.
void Receiver::finishCutMovies() {
    namespace fs = std::filesystem;
    if (options_.aviDir.empty()) return;
    std::error_code ec;
    const std::string suffix = kAviJournalSuffix;
    for (const auto& entry : fs::directory_iterator(options_.aviDir, ec)) {
        const std::string journalPath = entry.path().string();
        if (journalPath.size() <= suffix.size() ||
            journalPath.compare(journalPath.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string moviePath = journalPath.substr(0, journalPath.size() - suffix.size());
        std::FILE* movie = std::fopen(moviePath.c_str(), "r+b");
        std::FILE* journal = std::fopen(journalPath.c_str(), "rb");
        if (movie == nullptr || journal == nullptr) {
            if (movie != nullptr) std::fclose(movie);
            if (journal != nullptr) std::fclose(journal);
            continue;
        }
        const AviRepairReport r = aviRepair(movie, journal);
        const bool closed = std::fclose(movie) == 0;
        std::fclose(journal);
        if ((r.outcome == AviRepairOutcome::Finished && closed) ||
            r.outcome == AviRepairOutcome::AlreadyComplete) {
            fs::remove(journalPath, ec);
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f",
                          double(r.videoEntries) * r.microsPerFrame / 1e6);
            if (r.outcome == AviRepairOutcome::Finished)
                say(options_.info,
                    "finished the movie " + moviePath + " cut off before: " +
                        std::to_string(r.pictures) + " pictures, " + seconds + " s",
                    false);
        } else {
            say(options_.error, "cannot finish the movie " + moviePath + ": " + r.problem, true);
        }
    }
}

ReceiverStats Receiver::stats() const {
    ReceiverStats s;
    s.devicesRefused = devicesRefused_.load();
    s.devicesConnected = nextDevice_.load() - 1;
    s.devicesFinished = devicesFinished_.load();
    s.pictures = pictures_.load();
    return s;
}

void Receiver::say(const std::function<void(const std::string&)>& to, const std::string& line,
                   bool isError) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    to((isError ? "lumo-receiver: " : "") + line);
}

void Receiver::acceptLoop() {
    pollfd fds[3] = {
        {wakeRead_, POLLIN, 0}, {deviceListener_, POLLIN, 0}, {httpListener_, POLLIN, 0}};
    const nfds_t count = httpListener_ >= 0 ? 3 : 2;
    while (!stopping_) {
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            say(options_.error, std::string("poll failed: ") + errnoText(), true);
            return;
        }
        if (fds[0].revents != 0) return;
        reapFinished();
        for (nfds_t i = 1; i < count; ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                // A connection that went away before it was accepted, or no descriptors left:
                // the listener stays and the next connection is tried.
                if (errno == EMFILE || errno == ENFILE) {
                    say(options_.error, "cannot accept a connection: " + errnoText(), true);
                    ::usleep(100 * 1000);
                }
                continue;
            }
            accepted(fd, i == 2);
        }
    }
}

void Receiver::accepted(int fd, bool http) {
    if (!http && devicesOpen_.load() >= options_.maxDevices) {
        say(options_.error,
            "refused a device connection from " + peerName(fd) + ": " +
                std::to_string(options_.maxDevices) + " devices are connected already",
            true);
        ::close(fd);
        devicesRefused_.fetch_add(1);
        return;
    }
    if (!http) devicesOpen_.fetch_add(1);
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* c = connection.get();
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.push_back(std::move(connection));
    }
    const uint32_t device = http ? 0 : nextDevice_.fetch_add(1);
    const std::string peer = peerName(fd);
    try {
        if (http) {
            c->thread = std::thread(&Receiver::httpMain, this, c);
        } else {
            say(options_.info, "device " + std::to_string(device) + " connected from " + peer,
                false);
            c->thread = std::thread(&Receiver::deviceMain, this, c, device, peer);
        }
    } catch (const std::system_error& e) {
        say(options_.error, "cannot start a thread for " + peer + ": " + e.what(), true);
        finishConnection(c);
        if (!http) {
            devicesOpen_.fetch_sub(1);
            devicesFinished_.fetch_add(1);
        }
    }
}

void Receiver::finishConnection(Connection* connection) {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (connection->fd >= 0) ::close(connection->fd);
    connection->fd = -1;
    connection->done = true;
}

void Receiver::reapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if ((*it)->done) finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    for (auto& c : finished) {
        if (c->thread.joinable()) c->thread.join();
    }
}

void Receiver::deviceMain(Connection* connection, uint32_t device, std::string peer) {
    const int fd = connection->fd;  // stays open until finishConnection below
    const std::string name = "device " + std::to_string(device) + " (" + peer + ")";
    DeviceOutputs outputs(options_, device, [this](const std::string& line, bool isError) {
        say(isError ? options_.error : options_.info, line, isError);
    });
    std::vector<uint8_t> buffer(kFirstBufferBytes);
    size_t have = 0;
    uint32_t sequence = 0;
    uint64_t received = 0;  // stream offset of buffer[0], for the error line
    std::string problem;

    if (!sendAll(fd, kGreeting, sizeof kGreeting)) problem = "the greeting could not be sent";
    while (problem.empty()) {
        ParseResult r = parseMessage(buffer.data(), have, options_.maxPicture);
        size_t used = 0;
        while (r.status == ParseStatus::Message) {
            ReceivedPicture picture;
            picture.device = device;
            picture.sequence = ++sequence;
            picture.tick = r.tick;
            picture.width = r.width;
            picture.height = r.height;
            picture.jpeg = restorePicture(r);
            outputs.add(picture);
            publish(picture);
            pictures_.fetch_add(1);
            if (options_.onPicture) options_.onPicture(picture);
            used += r.consumed;
            r = parseMessage(buffer.data() + used, have - used, options_.maxPicture);
        }
        if (used != 0) {
            std::memmove(buffer.data(), buffer.data() + used, have - used);
            have -= used;
            received += used;
        }
        if (r.status == ParseStatus::Bad) {
            problem = describeParseError(r, options_.maxPicture) + " in the message at byte " +
                      std::to_string(received) + " of the stream";
            break;
        }
        // The buffer grows with what has arrived, never by what a header claims: a connection
        // holds at most twice the bytes it really sent (and the first 64 KiB).
        if (have == buffer.size() && buffer.size() < r.needed)
            buffer.resize(std::min(r.needed, std::max(2 * buffer.size(), kFirstBufferBytes)));
        // Between messages a device may be quiet as long as it likes; inside one, its bytes
        // must keep coming.
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, have != 0 ? int(options_.messageTimeoutMs) : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            problem = "no byte of the message for " + std::to_string(options_.messageTimeoutMs) +
                      " ms (" + std::to_string(have) + " of " + std::to_string(r.needed) +
                      " bytes)";
            break;
        }
        const ssize_t n = ::recv(fd, buffer.data() + have, buffer.size() - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            have += size_t(n);
            continue;
        }
        if (stopping_) break;
        if (n < 0) {
            problem = "receive failed: " + errnoText();
        } else if (have != 0) {
            problem = "the connection closed in the middle of a message (" + std::to_string(have) +
                      " of " + std::to_string(r.needed) + " bytes)";
        }
        break;
    }
    if (!problem.empty()) {
        say(options_.error, name + ": " + problem + "; connection dropped", true);
    }
    outputs.closeMovie();
    say(options_.info, name + " disconnected after " + std::to_string(sequence) + " pictures",
        false);
    finishConnection(connection);
    devicesOpen_.fetch_sub(1);
    devicesFinished_.fetch_add(1);
}

void Receiver::publish(const ReceivedPicture& picture) {
    if (httpListener_ < 0) return;
    auto copy = std::make_shared<const std::vector<uint8_t>>(picture.jpeg);
    std::lock_guard<std::mutex> lock(latestMutex_);
    latest_ = std::move(copy);
    latestSequence_ += 1;
    latestChanged_.notify_all();
}

void Receiver::httpMain(Connection* connection) {
    const int fd = connection->fd;
    timeval receiveTimeout{kHttpReceiveTimeoutS, 0}, sendTimeout{kHttpSendTimeoutS, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receiveTimeout, sizeof receiveTimeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);

    std::string request;
    char chunk[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        request.append(chunk, size_t(n));
    }
    const size_t lineEnd = request.find("\r\n");
    const std::string line = request.substr(0, lineEnd);
    const size_t space1 = line.find(' ');
    const size_t space2 = line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
    const std::string method = line.substr(0, space1);
    const std::string target =
        space1 == std::string::npos ? "" : line.substr(space1 + 1, space2 - space1 - 1);
    const std::string path = target.substr(0, target.find('?'));  // "?t=..." defeats caches

    auto reply = [fd](const char* status, const char* type, const void* body, size_t size) {
        const std::string head = std::string("HTTP/1.0 ") + status + "\r\nContent-Type: " + type +
                                 "\r\nContent-Length: " + std::to_string(size) +
                                 "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
        if (sendText(fd, head)) sendAll(fd, body, size);
    };
    auto replyText = [&](const char* status, const std::string& text) {
        reply(status, "text/plain; charset=utf-8", text.data(), text.size());
    };

    if (lineEnd == std::string::npos || space2 == std::string::npos) {
        if (!request.empty()) replyText("400 Bad Request", "bad request\n");
    } else if (method != "GET") {
        replyText("405 Method Not Allowed", "only GET is served\n");
    } else if (path == "/" || path == "/index.html") {
        reply("200 OK", "text/html; charset=utf-8", kPage, sizeof kPage - 1);
    } else if (path == "/latest.jpg") {
        std::shared_ptr<const std::vector<uint8_t>> picture;
        {
            std::lock_guard<std::mutex> lock(latestMutex_);
            picture = latest_;
        }
        if (picture) {
            reply("200 OK", "image/jpeg", picture->data(), picture->size());
        } else {
            replyText("404 Not Found", "no picture has arrived yet\n");
        }
    } else if (path == "/stream") {
        serveStream(fd);
    } else {
        replyText("404 Not Found", "not found; try /, /latest.jpg or /stream\n");
    }
    finishConnection(connection);
}

void Receiver::serveStream(int fd) {
    const std::string head = std::string(
                                 "HTTP/1.0 200 OK\r\nCache-Control: no-cache\r\nConnection: "
                                 "close\r\nContent-Type: multipart/x-mixed-replace; boundary=") +
                             kBoundary + "\r\n\r\n";
    if (!sendText(fd, head)) return;
    uint64_t sent = 0;
    while (!stopping_) {
        std::shared_ptr<const std::vector<uint8_t>> picture;
        {
            std::unique_lock<std::mutex> lock(latestMutex_);
            latestChanged_.wait_for(lock, std::chrono::milliseconds(kStreamWaitMs), [&] {
                return stopping_ || (latest_ && latestSequence_ != sent);
            });
            if (stopping_) return;
            if (!latest_ || latestSequence_ == sent) continue;
            picture = latest_;
            sent = latestSequence_;
        }
        const std::string part =
            std::string("--") + kBoundary +
            "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(picture->size()) +
            "\r\n\r\n";
        if (!sendText(fd, part) || !sendAll(fd, picture->data(), picture->size()) ||
            !sendText(fd, "\r\n")) {
            return;  // the viewer went away
        }
    }
}
