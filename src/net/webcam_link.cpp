// The webcam link: start and stop on the window thread, and the sender thread that connects,
// checks the server's greeting and writes the messages the capture thread hands over.
//
// Stopping. The handheld would terminate a sender that does not end within 100 ms; a thread
// cannot be killed safely here, so everything the sender waits on is made to end when asked:
// stopWebcam shuts its sockets down (a blocked connect or send returns), signals frameReady,
// and the sender's pauses look at stopRequested every few milliseconds. A sender that still
// does not end in time (a name lookup that hangs) is abandoned: it touches only gWebcamLink and
// the movie writer's checksums, which live as long as the process, closes its own descriptors
// when it wakes, and the next startWebcam refuses to start while it runs, so two senders never
// share the link.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "net/webcam.h"
#include "settings/settings_model.h"
#include "settings/settings_table.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 0);
constexpr uint32_t kConnectTries = 10;       // connect attempts per cycle
constexpr DWORD kConnectRetryMs = 500;       // between two attempts
constexpr DWORD kGreetingStepMs = 100;       // between two reads of the greeting
constexpr uint32_t kGreetingLimitMs = 1000;  // from the start of the reading
constexpr char kGreeting[] = {'v', 'e', 't', 'u'};
constexpr uint32_t kChunkBytes = 10000;
constexpr DWORD kStopGraceMs = 100;  // what stopWebcam gives the sender to end by itself
constexpr DWORD kStopPollMs = 10;    // how often a pausing sender looks at stopRequested

bool stopping(const WebcamLink& link) {
    return link.stopRequested.load(std::memory_order_acquire) != 0;
}

// Sleeps `ms`, in steps short enough that a stop is seen at once; false when stopping.
bool pause(const WebcamLink& link, DWORD ms) {
    for (DWORD slept = 0; slept < ms; slept += kStopPollMs) {
        if (stopping(link)) return false;
        Sleep(std::min(kStopPollMs, ms - slept));
    }
    return !stopping(link);
}

// Sender thread: closes its own descriptor, clearing whatever still shows it.
void closeOwnedSocket(WebcamLink& link) {
    if (link.ownedSocket == INVALID_SOCKET) return;
    std::lock_guard<std::mutex> lock(link.socketLock);
    SOCKET own = link.ownedSocket;
    if (link.socket.load() == own) link.socket.store(INVALID_SOCKET);
    if (link.dialSocket.load() == own) link.dialSocket.store(INVALID_SOCKET);
    closesocket(own);
    link.ownedSocket = INVALID_SOCKET;
}

// Sender thread: shows a new descriptor to the others as `field`; false when the link is
// stopping (the caller closes it).
bool showSocket(WebcamLink& link, std::atomic<SOCKET>& field, SOCKET s) {
    std::lock_guard<std::mutex> lock(link.socketLock);
    if (stopping(link)) return false;
    field.store(s);
    return true;
}

}  // namespace

void webcamServerHost(char* host, size_t size) {
    const ValueList& server = setting(kSlotServer);
    const int32_t index = effectiveIndex(server);
    if (!server.table.load()) {
        std::snprintf(host, size, "%d", static_cast<int>(valueOf(server)));
        return;
    }
    const char* label = index == 0 ? nullptr : entryLabel(server, index);
    std::snprintf(host, size, "%s", label ? label : kPppPeerHost);
}

void revokeWebcamSocket(WebcamLink& link, bool dialling) {
    std::lock_guard<std::mutex> lock(link.socketLock);
    const SOCKET s = link.socket.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) shutdown(s, SD_BOTH);
    if (!dialling) return;
    const SOCKET d = link.dialSocket.exchange(INVALID_SOCKET);
    if (d != INVALID_SOCKET) shutdown(d, SD_BOTH);
}

uint32_t startWebcam() {
    WebcamLink& link = gWebcamLink;
    webcamFrameBranch.store(webcamConsumeFrame, std::memory_order_relaxed);
    // A sender abandoned by the last stop still owns the link until it has ended.
    if (link.abandonedSender) {
        if (WaitForSingleObject(link.abandonedSender, 0) != WAIT_OBJECT_0) return 0;
        CloseHandle(link.abandonedSender);
        link.abandonedSender = nullptr;
    }
    WSADATA data;
    if (WSAStartup(kWinsockVersion, &data) != 0) return 0;
    link.winsockStarted = true;

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ready) {
        stopWebcam();
        return 0;
    }
    link.frameReady.store(ready);
    link.socket.store(INVALID_SOCKET);
    link.dialSocket.store(INVALID_SOCKET);
    link.busy.store(WebcamSending);
    link.stopRequested.store(0);
    link.connectAttempts.store(0);
    link.lastSendTick.store(0);
    link.sendLength.store(0);
    // The photo buffer may have served a photo or a movie since the last run: nothing in it is
    // this run's picture.
    webcamPictureSize = 0;

    link.senderHandle = CreateThread(nullptr, 0, webcamThreadMain, &link, 0, nullptr);
    if (!link.senderHandle) {
        stopWebcam();
        return 0;
    }
    link.thread.store(link.senderHandle);
    return 1;
}

uint32_t stopWebcam() {
    WebcamLink& link = gWebcamLink;
    link.stopRequested.store(1, std::memory_order_release);
    // Wake the sender wherever it waits: in connect or send (shut down), for a message
    // (frameReady), or pausing (it sees stopRequested).
    revokeWebcamSocket(link, true);
    if (HANDLE ready = link.frameReady.load()) SetEvent(ready);
    if (link.senderHandle) {
        if (WaitForSingleObject(link.senderHandle, kStopGraceMs) == WAIT_OBJECT_0) {
            CloseHandle(link.senderHandle);
        } else {
            TerminateThread(link.senderHandle, 0);
            link.abandonedSender = link.senderHandle;
        }
        link.senderHandle = nullptr;
    }
    link.thread.store(nullptr);
    // The socket was shut down above and its descriptor is the sender's to close.
    if (HANDLE ready = link.frameReady.exchange(nullptr)) CloseHandle(ready);
    if (link.winsockStarted) {
        WSACleanup();
        link.winsockStarted = false;
    }
    return 1;
}

uint32_t connectWebcam(WebcamLink& link) {
    link.bytesSent.store(0);
    link.elapsedMs.store(0);
    closeOwnedSocket(link);

    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    link.ownedSocket = s;
    if (!showSocket(link, link.dialSocket, s)) {
        closeOwnedSocket(link);
        return 0;
    }

    char host[kServerTextBytes];  // the longest host text is the server text
    webcamServerHost(host, sizeof host);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(kWebcamServerPort);
    const hostent* entry = gethostbyname(host);
    if (entry && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0])
        std::memcpy(&server.sin_addr, entry->h_addr_list[0], sizeof server.sin_addr);
    else
        server.sin_addr.s_addr = inet_addr(host);

    bool connected = false;
    for (uint32_t attempt = 1; attempt <= kConnectTries && !connected; ++attempt) {
        connected = connect(s, reinterpret_cast<const sockaddr*>(&server),
                            static_cast<int>(sizeof server)) == 0;
        if (!connected && attempt < kConnectTries && !pause(link, kConnectRetryMs)) break;
    }
    if (!connected || stopping(link)) {
        closeOwnedSocket(link);
        return 0;
    }

    // The greeting, read without blocking in steps of 100 ms for at most a second.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    char greeting[sizeof kGreeting];
    uint32_t received = 0;
    const DWORD start = GetTickCount();
    do {
        if (!pause(link, kGreetingStepMs)) break;
        const ssize_t n = recv(s, greeting + received, sizeof greeting - received, 0);
        if (n > 0) received += static_cast<uint32_t>(n);  // an error counts as nothing read
    } while (received < sizeof greeting && GetTickCount() - start < kGreetingLimitMs);
    if (received < sizeof greeting || std::memcmp(greeting, kGreeting, sizeof greeting) != 0) {
        closeOwnedSocket(link);
        return 0;
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);

    // The stall rule measures this connection only: a chunk sent on the last one, even one
    // counted after the rule closed it, is no reason to close this one.
    link.lastSendTick.store(0, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(link.socketLock);
        if (stopping(link)) {
            connected = false;
        } else {
            link.dialSocket.store(INVALID_SOCKET);
            link.socket.store(s);
        }
    }
    if (!connected) {
        closeOwnedSocket(link);
        return 0;
    }
    // Frames may flow once the first connection is made. On a reconnection `busy` is 0 already,
    // or the consumer's, and stays as it is.
    uint8_t sending = WebcamSending;
    link.busy.compare_exchange_strong(sending, WebcamFree, std::memory_order_release);
    return 1;
}

uint32_t sendAll(WebcamLink& link, const uint8_t* data, uint32_t length) {
    const SOCKET s = link.ownedSocket;
    uint32_t done = 0;
    while (done < length) {
        // A connection the stall rule or a stop has shut down is not written to again.
        if (link.socket.load() != s || stopping(link)) return 0;
        const uint32_t chunk = std::min(kChunkBytes, length - done);
        const uint32_t t = GetTickCount();
        if (link.bytesSent.load(std::memory_order_relaxed) != 0)
            link.elapsedMs.store(t - link.firstSendTick.load(std::memory_order_relaxed),
                                 std::memory_order_relaxed);
        else
            link.firstSendTick.store(t, std::memory_order_relaxed);
        const ssize_t n = send(s, data + done, chunk, 0);
        // A send woken by a shutdown may report the bytes it had queued: they count for nothing,
        // and the stall rule's reset of lastSendTick must stand.
        if (n <= 0 || link.socket.load() != s) return 0;
        link.lastSendTick.store(t, std::memory_order_relaxed);
        link.bytesSent.fetch_add(static_cast<uint32_t>(n), std::memory_order_relaxed);
        // A blocking send takes the whole chunk unless it was interrupted; what it did not take
        // is sent next, so the stream never loses bytes.
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

DWORD webcamThreadMain(LPVOID parameter) {
    WebcamLink& link = *static_cast<WebcamLink*>(parameter);
    while (!stopping(link)) {
        if (link.socket.load() == INVALID_SOCKET) {
            if (!connectWebcam(link)) {
                link.connectAttempts.fetch_add(1);
                continue;
            }
        }
        link.connectAttempts.store(0);
        const HANDLE ready = link.frameReady.load();
        if (WaitForSingleObject(ready, INFINITE) != WAIT_OBJECT_0 || stopping(link)) break;
        ResetEvent(ready);
        // The consumer may be filling a newer message; it signals again when it is done.
        uint8_t free = WebcamFree;
        if (!link.busy.compare_exchange_strong(free, WebcamSending, std::memory_order_acquire))
            continue;
        const uint32_t length = link.sendLength.load(std::memory_order_relaxed);
        const uint32_t checksum = link.sendChecksum.load(std::memory_order_relaxed);
        if (length != 0) {
            const uint8_t sent =
                sendAll(link, link.sendData.load(std::memory_order_relaxed), length);
            link.sendFailed.store(sent ? 0 : 1);
        }
        link.busy.store(WebcamFree, std::memory_order_release);
        // The picture just sent is the reference for the unchanged-screen test.
        if (!link.sendFailed.load()) gAviWriter.lastStoredChecksum.store(checksum);
        // A connection shut down under the send is closed here; the loop connects again.
        if (link.socket.load() == INVALID_SOCKET) closeOwnedSocket(link);
    }
    closeOwnedSocket(link);
    link.thread.store(nullptr);
    return 0;
}
