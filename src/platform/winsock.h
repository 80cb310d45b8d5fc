// Winsock over BSD sockets. socket, connect, send, recv, inet_addr and htons are the BSD calls
// themselves; the Winsock-only calls are provided here. A SOCKET is the descriptor;
// INVALID_SOCKET is all ones.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "platform/types.h"

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = ~0;
constexpr int SOCKET_ERROR = -1;
using u_long = unsigned long;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

constexpr WORD MAKEWORD(int low, int high) {
    return static_cast<WORD>((low & 0xFF) | ((high & 0xFF) << 8));
}

// Starts the socket library (version 2.0 or below is accepted); 0 on success.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
// Shuts the connection down before closing, so a send or recv blocked on it in another thread
// returns.
int closesocket(SOCKET s);
// shutdown's "how": neither sends nor receives (SD_BOTH, the BSD SHUT_RDWR).
constexpr int SD_BOTH = SHUT_RDWR;
// FIONBIO with a non-zero argument makes the socket non-blocking.
int ioctlsocket(SOCKET s, long command, u_long* argument);
// The handheld's resolver: besides ordinary names, "ppp_peer" is the desktop at the other end of
// the device's link.
hostent* winsockGetHostByName(const char* name);
#define gethostbyname winsockGetHostByName
// The handheld's connect. The device names its desktop peer as "HOST" or "HOST:PORT"; with a
// port, the desktop end of the link forwards every connection the device opens to the peer's
// address to that port of the desktop, whatever port the device asked for. So a program that
// always dials its fixed port reaches a desktop server listening on any free port. Every other
// connection is the BSD call unchanged. Every socket gets the handheld's send buffer first.
constexpr int kHandheldSendBufferBytes = 32 * 1024;
int winsockConnect(SOCKET s, const sockaddr* name, int nameLength);
#define connect(s, name, nameLength) winsockConnect(s, name, nameLength)

constexpr const char* kPppPeerHost = "ppp_peer";
