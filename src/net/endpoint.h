// Socket endpoints: one non-blocking socket with the addresses the rest of
// the library needs.  The station endpoint is Multicast; each call-record feed
// owns a Stream endpoint and each adjunct link a Datagram endpoint.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace qapi {

enum class EndpointKind : uint8_t { Multicast = 0, Datagram = 1, Stream = 2 };

// Family of `remoteAddress`: lets a reader tell an IPv6 server whose last
// twelve bytes are zero from an IPv4 one.
enum class RemoteFamily : uint8_t { None = 0, Ipv4 = 4, Ipv6 = 6 };

struct Endpoint {
    uint8_t open;  // 1 while the socket is usable
    EndpointKind kind;
    RemoteFamily remoteFamily;
    plat::SocketHandle socket;
    // Multicast: this host's IPv4 address, host order (first octet most
    // significant), which the group is joined and sent on; 0 when the host
    // has none.
    uint32_t localAddress;
    // Datagram and Stream: the connected server.  IPv4: host-order address in
    // the first word, 12 zero bytes after it.  IPv6: the 16 address bytes in
    // network order.
    uint8_t remoteAddress[16];
    // Multicast: the group and port every send goes to.
    sockaddr_in groupAddress;
};

// Results of the three opens (callers test zero against non-zero).
enum OpenResult : int {
    kOpened = 0,
    kOpenNoHost = 1,  // host did not resolve, or no address connected
    kOpenNoSocket = 2,
    kOpenBindFailed = 3,
    kOpenJoinFailed = 4,
    kOpenNonBlockFailed = 5,
    kOpenNoHostName = 6,
    kOpenHostNameUnresolved = 7,
};

// The longest a connected open holds its caller, the name lookup and every
// connect attempt together: past it the open fails as for a server that
// refused.
inline constexpr uint64_t kOpenDeadlineMs = 3000;

int openMulticast(Endpoint &endpoint, const char *groupText, uint16_t port);
int openDatagram(Endpoint &endpoint, const char *hostText, uint16_t port);
// `receiveBuffer` (bytes, 0: the system's default): the least the stream's
// receive buffer holds, set before it connects so that the window it offers
// (and the window's scale) can take that much; a larger default stays.
int openStream(Endpoint &endpoint, const char *hostText, uint16_t port, int receiveBuffer = 0);

// 0 = handed to the platform, 1 = not sent.
int sendBytes(Endpoint &endpoint, const void *data, int length);
// What receiveBytes returns besides a byte count (> 0).
inline constexpr int kReceivedNothing = 0;   // nothing waiting now
inline constexpr int kReceiveFailed = -1;    // an error, or the endpoint is not usable
inline constexpr int kReceivedTooLong = -2;  // a datagram longer than `capacity`, lost
inline constexpr int kReceivedEnd = -3;      // a stream the peer closed in order, every byte read

// Bytes received (> 0), or one of the results above.  Every negative result
// is an error to a caller that does not tell them apart.
int receiveBytes(Endpoint &endpoint, void *buffer, int capacity);
// Up to `count` waiting datagrams of a Multicast or Datagram endpoint in one
// go: datagram i into `buffers + i * capacity`, its length (>= 0) or
// kReceivedTooLong (lost) in sizes[i].  Returns how many were read (> 0), or
// kReceivedNothing or kReceiveFailed when none was; fewer than `count` means
// that nothing more was waiting or that a receive failed.
int receiveDatagrams(Endpoint &endpoint, uint8_t *buffers, int capacity, int count, int *sizes);
void closeEndpoint(Endpoint &endpoint);
// Looks this host's address up again (the hosts file and the kernel's
// interfaces and routes: nothing that waits on the network); when it has
// changed, the group's membership and the sends move to the new address's
// interface.  Failures keep the old address and interface.  A changed hosts
// file is read a bounded slice per call: false while the look-up is not
// finished (the address stays as it was), to be called again.
bool refreshLocalAddress(Endpoint &endpoint);

}  // namespace qapi
