// The device side of the webcam stream for the receiver tests: messages built as the device
// builds them, and a TCP client that connects, checks the greeting and sends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testdevice {

// Not a real picture: the 8 bytes every JFIF picture starts with, then `size - 8` bytes of
// pattern. Enough for the parser, which never looks inside.
inline std::vector<uint8_t> fakeJpeg(size_t size, uint32_t seed) {
    static const uint8_t start[8] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46};
    std::vector<uint8_t> bytes(start, start + 8);
    for (size_t i = 8; i < size; ++i) bytes.push_back(uint8_t(i * 31 + seed * 7 + (i >> 8)));
    return bytes;
}

inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// One message as the device sends it: 20 zero bytes, the two header words, L, then the picture
// with its first 8 bytes replaced by the tick and the size word.
inline std::vector<uint8_t> message(const std::vector<uint8_t>& jpeg, uint32_t tick, uint32_t width,
                                    uint32_t height) {
    std::vector<uint8_t> m(32 + jpeg.size(), 0);
    put32(&m[20], 0x5B3E9A17);
    put32(&m[24], 0xC6D20F84);
    put32(&m[28], uint32_t(jpeg.size()));
    std::copy(jpeg.begin(), jpeg.end(), m.begin() + 32);
    put32(&m[32], tick);
    put32(&m[36], (width & 0xFFFF) | height << 16);
    return m;
}

// A blocking TCP client on 127.0.0.1 whose every wait ends after ten seconds.
class Client {
  public:
    explicit Client(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    void close() { ::close(std::exchange(fd_, -1)); }

    bool send(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (ssize_t n; size > 0; p += n, size -= size_t(n))
            if ((n = ::send(fd_, p, size, MSG_NOSIGNAL)) <= 0) return false;
        return true;
    }
    template <typename Bytes>  // a std::string or a byte vector
    bool send(const Bytes& bytes) {
        return send(bytes.data(), bytes.size());
    }

    // Exactly `size` bytes, or fewer when the peer closed or the time ran out.
    std::string receive(size_t size) {
        std::string bytes;
        char chunk[4096];
        for (ssize_t n; bytes.size() < size; bytes.append(chunk, size_t(n)))
            if ((n = ::recv(fd_, chunk, std::min(sizeof chunk, size - bytes.size()), 0)) <= 0)
                break;
        return bytes;
    }
    // Everything until the peer closes (or the time runs out).
    std::string receiveAll() { return receive(SIZE_MAX); }
    // Up to and including `marker`.
    std::string receiveUntil(const std::string& marker) {
        std::string bytes;
        char c;
        while (!bytes.ends_with(marker) && ::recv(fd_, &c, 1, 0) == 1) bytes.push_back(c);
        return bytes;
    }
    // True when the peer has closed the connection (recv gives 0), within the time limit.
    bool closedByPeer() {
        char c;
        ssize_t n;
        while ((n = ::recv(fd_, &c, 1, 0)) > 0) {
        }
        return n == 0;
    }

  private:
    int fd_;
    bool connected_ = false;
};

}  // namespace testdevice
