// Webcam streaming: the link to the receiving program (one TCP connection to port 2047 of the
// desktop peer or of the configured server), its sender thread, and the webcam branch of the
// frame consumer.
//
// Threads. The window thread starts and stops the link; the capture thread encodes each frame
// into the photo buffer behind a 32-byte header and hands it over; the sender thread connects,
// checks the server's "vetu" greeting and writes the messages. Frames are dropped, never queued,
// while the sender is connecting for the first time or is sending.
//
// The hand-over. `busy` says who may touch the message (the photo buffer, `sendData`,
// `sendLength`): 0 nobody (a message may be waiting), 1 the sender (connecting or sending), 2 the
// consumer (filling the next message). Each side takes the message with a compare-and-swap from
// 0, so the consumer never writes a picture the sender is reading; the sender's swap acquires
// what the consumer's release of `busy` published, and `frameReady` wakes the sender.
//
// The socket. The sender thread owns every descriptor it opens and is the only one to close it.
// Another thread that must end a connection (the capture thread's stall rule, stopWebcam) only
// shuts it down, which wakes a sender blocked in connect or send, and marks it invalid; the
// sender then closes it. Both steps happen under `socketLock`, so a descriptor is never shut
// down after its number was closed and handed to something else.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/windows.h"
#include "platform/winsock.h"

constexpr uint16_t kWebcamServerPort = 2047;

// The message: 20 zero bytes, the two header words, L, the frame's tick, the picture's size, and
// the JPEG picture from its ninth byte on (its first 8 bytes lie under the tick and size words).
constexpr uint32_t kWebcamWordAOffset = 20;
constexpr uint32_t kWebcamWordBOffset = 24;
constexpr uint32_t kWebcamLengthOffset = 28;
constexpr uint32_t kWebcamTickOffset = 32;
constexpr uint32_t kWebcamSizeOffset = 36;
constexpr uint32_t kWebcamPictureOffset = 32;  // where the picture is encoded
constexpr uint32_t kWebcamHeaderWordA = 0x5B3E9A17;
constexpr uint32_t kWebcamHeaderWordB = 0xC6D20F84;

// Owners of the message, the values of `busy`.
enum WebcamBusy : uint8_t {
    WebcamFree = 0,     // nobody: the consumer may fill it, the sender may send it
    WebcamSending = 1,  // the sender is connecting (first connection) or sending
    WebcamFilling = 2,  // the consumer is encoding the next message
};

struct WebcamLink {
    std::atomic<SOCKET> socket{INVALID_SOCKET};  // the greeted connection, or INVALID_SOCKET
    std::atomic<HANDLE> frameReady{nullptr};     // manual reset: a message is ready
    std::atomic<HANDLE> thread{nullptr};         // the sender; the sender clears it as it ends
    std::atomic<const uint8_t*> sendData{nullptr};
    std::atomic<uint32_t> sendLength{0};  // bytes
    std::atomic<uint8_t> stopRequested{0};
    std::atomic<uint8_t> busy{WebcamSending};  // a WebcamBusy
    std::atomic<uint8_t> sendFailed{0};        // 1: the last message was not sent completely
    std::atomic<uint32_t> connectAttempts{0};  // failed connection cycles since the last success
    std::atomic<uint32_t> bytesSent{0};        // since the connection was made
    std::atomic<uint32_t> elapsedMs{0};      // from the first chunk of the connection to the latest
    std::atomic<uint32_t> firstSendTick{0};  // ms
    std::atomic<uint32_t> lastSendTick{0};   // ms of the latest chunk sent; 0: not set

    // The unchanged-screen checksum of the picture in the message, written with it by the
    // consumer: what the sender makes the reference once the message is sent (the consumer's
    // `currentChecksum` may already be that of a later, dropped frame).
    std::atomic<uint32_t> sendChecksum{0};

    // The descriptor the sender is connecting and greeting, so that stopWebcam can wake it.
    std::atomic<SOCKET> dialSocket{INVALID_SOCKET};
    // The sender's own descriptor (sender thread only): what `socket` and `dialSocket` show to
    // the others, still open after they were shut down and cleared.
    SOCKET ownedSocket = INVALID_SOCKET;
    // Held while a descriptor is published, shut down by another thread, or closed.
    std::mutex socketLock;
    // Window thread only: the running sender's handle as created (`thread` is cleared by the
    // sender itself), a sender abandoned by an earlier stop, and whether this run started the
    // socket library.
    HANDLE senderHandle = nullptr;
    HANDLE abandonedSender = nullptr;
    bool winsockStarted = false;
};

extern WebcamLink gWebcamLink;
// Bytes of the JPEG picture now in the photo buffer (capture thread); 0: none to send again.
extern uint32_t webcamPictureSize;

// 1 when the link was started, 0 when the socket library cannot start (window thread).
uint32_t startWebcam();
// Ends the link from any state; 1 (window thread).
uint32_t stopWebcam();
// The frame consumer's branch for capture mode 3 while a webcam run is active (capture thread).
void webcamConsumeFrame(uint8_t* pixels);

// The sender thread; `link` is the WebcamLink.
DWORD webcamThreadMain(LPVOID link);
// Connects to the server and checks its greeting; 1 when connected and greeted.
uint32_t connectWebcam(WebcamLink& link);
// Sends `length` bytes in chunks of at most 10,000 bytes; 1 when every chunk was sent.
uint32_t sendAll(WebcamLink& link, const uint8_t* data, uint32_t length);

// The server's host text from the "Server" setting: "ppp_peer" (the desktop peer of the
// device's link) for "Auto" or an entry without a label, else the entry's label (the configured
// server); a list without labels names its value in decimal.
void webcamServerHost(char* host, size_t size);

// The capture thread's stall rule and stopWebcam: shuts the connection down (and, with
// `dialling`, the one being made) and marks it invalid; the sender closes the descriptor.
void revokeWebcamSocket(WebcamLink& link, bool dialling);
