// The few socket operations whose behaviour differs between socket libraries.
// Everything else the endpoints need (socket, bind, setsockopt, connect,
// getaddrinfo) is the common BSD interface, reached through the includes below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace qapi::plat {

#if defined(_WIN32)
using SocketHandle = SOCKET;
inline constexpr SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Results of the receive calls besides a byte count (>= 0).
inline constexpr long kReceiveError = -1;       // failed
inline constexpr long kReceiveWouldBlock = -2;  // nothing waiting now
inline constexpr long kReceiveTooLong = -3;     // a datagram longer than the buffer, now lost

// Starts the socket library (version 2.2 where that means something);
// 0 = ready, otherwise the platform's error.
int startSocketLibrary();
void cleanupSocketLibrary();

bool setNonBlocking(SocketHandle s);
void closeSocket(SocketHandle s);
// True when the last socket call failed only because it would have blocked.
bool lastErrorWouldBlock();

// One datagram into `buffer`; a datagram longer than `capacity` is lost and
// reads as kReceiveTooLong.
long receiveDatagram(SocketHandle s, void *buffer, size_t capacity);
// Up to `count` (at most kMostDatagramsAtOnce) waiting datagrams, datagram i
// into `buffers + i * capacity` with its length in sizes[i], or
// kReceiveTooLong there for one longer than `capacity` (lost; the reading goes
// on past it).  Returns how many were read (> 0), or, when none was,
// kReceiveWouldBlock or kReceiveError.  Fewer than `count` means that nothing
// more was waiting, or that a receive failed after the first.
inline constexpr size_t kMostDatagramsAtOnce = 64;
long receiveDatagrams(SocketHandle s, uint8_t *buffers, size_t capacity, size_t count, long *sizes);
// Bytes of a stream; 0 after an orderly close by the peer.
long receiveStream(SocketHandle s, void *buffer, size_t capacity);
// Sends never raise a signal on a reset connection.  Results: bytes or -1.
long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to, bool dontRoute);
long sendConnected(SocketHandle s, const void *data, size_t length);

// This host's name, NUL-terminated, into `out` of `capacity` bytes.
bool hostName(char *out, size_t capacity);
// The first IPv4 address of `name` in host byte order.  Returns false when the
// name does not resolve at all; `found` tells whether an IPv4 address was among
// the results.
bool resolveIpv4(const char *name, uint32_t *address, bool *found);

}  // namespace qapi::plat
