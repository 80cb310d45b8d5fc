// The Winsock calls that BSD sockets lack.
#include "platform/winsock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/device.h"
#include "platform/hooks.h"

// Here connect is the BSD call that winsockConnect forwards to.
#undef connect

namespace {
std::atomic<int> started{0};
}

int WSAStartup(WORD version, WSADATA* data) {
    if (!data) return 10014;                                         // WSAEFAULT
    if ((version & 0xFF) < 1 || (version & 0xFF) > 2) return 10092;  // WSAVERNOTSUPPORTED
    // The handheld has no signals: a send on a connection the peer closed reports an error.
    signal(SIGPIPE, SIG_IGN);
    memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = MAKEWORD(2, 2);
    strcpy(data->szDescription, "Winsock 2.0 on BSD sockets");
    started.fetch_add(1);
    trace("WSAStartup");
    return 0;
}

int WSACleanup() {
    trace("WSACleanup");
    int n = started.load();
    while (n > 0 && !started.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0 ? 0 : SOCKET_ERROR;
}

int closesocket(SOCKET s) {
    if (s == INVALID_SOCKET) return SOCKET_ERROR;
    shutdown(s, SHUT_RDWR);
    return close(s);
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    if (command != static_cast<long>(FIONBIO) || !argument) return SOCKET_ERROR;
    int flags = fcntl(s, F_GETFL);
    if (flags < 0) return SOCKET_ERROR;
    flags = *argument ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) == 0 ? 0 : SOCKET_ERROR;
}

namespace {

// The desktop peer as the device names it: "HOST" or "HOST:PORT" (port 0: none given).
struct PeerName {
    std::string host;
    uint16_t port = 0;
};

PeerName pppPeerName() {
    PeerName peer;
    peer.host = device().pppPeer();
    const size_t colon = peer.host.rfind(':');
    if (colon == std::string::npos) return peer;
    const unsigned long port = strtoul(peer.host.c_str() + colon + 1, nullptr, 10);
    peer.port = port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
    peer.host.resize(colon);
    return peer;
}

bool resolveIpv4(const std::string& host, in_addr& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

int winsockConnect(SOCKET s, const sockaddr* name, int nameLength) {
    if (!name || nameLength < 0) return ::connect(s, name, 0);
    // A handheld's TCP stack sends from a buffer of tens of KiB, not the host's megabytes: a slow
    // peer then holds back the sender (and the webcam drops frames) instead of receiving seconds
    // of stale ones. Set before connecting, so the window is small from the start.
    const int sendBuffer = kHandheldSendBufferBytes;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    if (name->sa_family == AF_INET && nameLength >= static_cast<int>(sizeof(sockaddr_in)) &&
        deviceInstalled()) {
        const PeerName peer = pppPeerName();
        sockaddr_in target;
        memcpy(&target, name, sizeof target);
        in_addr peerAddress{};
        if (peer.port != 0 && resolveIpv4(peer.host, peerAddress) &&
            peerAddress.s_addr == target.sin_addr.s_addr) {
            target.sin_port = htons(peer.port);
            return ::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        }
    }
    return ::connect(s, name, static_cast<socklen_t>(nameLength));
}

hostent* winsockGetHostByName(const char* name) {
    if (!name) return nullptr;
    // One answer per thread, as the handheld's resolver keeps one per thread.
    thread_local hostent entry;
    thread_local in_addr address;
    thread_local char* list[2];
    thread_local std::string storedName;
    std::string lookup = name;
    if (lookup == kPppPeerHost && deviceInstalled()) lookup = pppPeerName().host;
    if (!resolveIpv4(lookup, address)) return nullptr;
    storedName = name;
    list[0] = reinterpret_cast<char*>(&address);
    list[1] = nullptr;
    entry.h_name = storedName.data();
    entry.h_aliases = nullptr;
    entry.h_addrtype = AF_INET;
    entry.h_length = sizeof(in_addr);
    entry.h_addr_list = list;
    return &entry;
}
