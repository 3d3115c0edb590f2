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
// True when the last socket call failed only because it would have blocked
// (for a connect: because it goes on in the background).
bool lastErrorWouldBlock();
// True when the last socket call failed because the address (for a group
// membership: the group on that interface) is taken already.
bool lastErrorAddressInUse();

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
// Bytes of a stream; kReceiveClosed once the peer has closed it in order
// and every byte before has been read.
inline constexpr long kReceiveClosed = -4;
long receiveStream(SocketHandle s, void *buffer, size_t capacity);
// Sends never raise a signal on a reset connection.  Results: bytes or -1.
// A datagram to a multicast group leaves on the socket's multicast interface.
long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to);
long sendConnected(SocketHandle s, const void *data, size_t length);

// Milliseconds of a monotonic clock: the deadlines of the opens.
uint64_t monotonicMs();
// Resolves `host` and `service` (hints as getaddrinfo takes them), giving up
// after `timeoutMs`: a name that waits on a name server must not hold the
// caller longer.  True with a list for freeResolved, false when the name did
// not resolve in time or at all.
bool resolveWithin(const char *host, const char *service, const addrinfo &hints, int timeoutMs,
                   addrinfo **list);
void freeResolved(addrinfo *list);
// Waits up to `timeoutMs` for the connect begun on the non-blocking socket
// `s` to finish; true when it is connected.
bool waitConnected(SocketHandle s, int timeoutMs);

// This host's IPv4 address (host order) as the call server addresses it, and
// so the interface the station group is joined and sent on.  `group` is the
// group (and port) the station endpoint sends to: where this host's name
// gives no address of its own, the interface the group is routed through
// decides.  `*address` is 0 when nothing gives one.  A look-up reads the
// host's files (on POSIX systems, the hosts file) only when they changed
// since the last one; Slice reads at most a bounded part of them, and
// Pending (with `*address` untouched) asks for another call to go on, Whole
// reads what it must to answer.
enum class HostAddress : uint8_t { Found, NoHostName, NameUnresolved, Pending };
enum class HostLookup : uint8_t { Whole, Slice };
HostAddress thisHostAddress(const sockaddr_in &group, uint32_t *address, HostLookup lookup);

}  // namespace qapi::plat
