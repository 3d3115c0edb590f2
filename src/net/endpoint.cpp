// Opening, using and closing endpoints.  Every failure after the socket was
// created closes that socket before the open returns; `kind` and `open` are
// written last, and only on success.
#include "net/endpoint.h"

#include <cstdio>
#include <cstring>

namespace qapi {
namespace {

void storeRemoteAddress(Endpoint &endpoint, const addrinfo &entry) {
    std::memset(endpoint.remoteAddress, 0, sizeof endpoint.remoteAddress);
    endpoint.remoteFamily = RemoteFamily::None;
    if (entry.ai_family == AF_INET && entry.ai_addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in in;
        std::memcpy(&in, entry.ai_addr, sizeof in);
        const uint32_t hostOrder = ntohl(in.sin_addr.s_addr);
        std::memcpy(endpoint.remoteAddress, &hostOrder, sizeof hostOrder);
        endpoint.remoteFamily = RemoteFamily::Ipv4;
    } else if (entry.ai_family == AF_INET6 && entry.ai_addrlen >= sizeof(sockaddr_in6)) {
        sockaddr_in6 in6;
        std::memcpy(&in6, entry.ai_addr, sizeof in6);
        std::memcpy(endpoint.remoteAddress, &in6.sin6_addr, sizeof endpoint.remoteAddress);
        endpoint.remoteFamily = RemoteFamily::Ipv6;
    }
}

// Raises the receive buffer of the unconnected socket `s` to `bytes` where
// it holds less; what the system allows at most caps it.
void raiseReceiveBuffer(plat::SocketHandle s, int bytes) {
    int current = 0;
    socklen_t length = sizeof current;
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&current), &length) == 0 &&
        current >= bytes)
        return;
    (void)::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes);
}

int msUntil(uint64_t deadline) {
    const uint64_t now = plat::monotonicMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// The connected open shared by Datagram and Stream.  The socket is
// non-blocking before it connects: a stream's connect is waited for until
// the open's deadline, which the name lookup shares, and a server that never
// answers costs the caller that long and no longer.
int openConnected(Endpoint &endpoint, const char *hostText, uint16_t port, int socketType, EndpointKind kind,
                  int receiveBuffer) {
    std::memset(&endpoint, 0, sizeof endpoint);
    endpoint.socket = plat::kNoSocket;
    if (!hostText) return kOpenNoHost;
    const uint64_t deadline = plat::monotonicMs() + kOpenDeadlineMs;
    char portText[8];
    std::snprintf(portText, sizeof portText, "%i", static_cast<int>(port & 0xFFFF));

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    addrinfo *list = nullptr;
    if (!plat::resolveWithin(hostText, portText, hints, msUntil(deadline), &list)) return kOpenNoHost;

    int result = kOpenNoHost;
    for (const addrinfo *entry = list; entry; entry = entry->ai_next) {
        storeRemoteAddress(endpoint, *entry);
        const plat::SocketHandle s = ::socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
        if (s == plat::kNoSocket) continue;
        if (!plat::setNonBlocking(s)) {
            plat::closeSocket(s);
            result = kOpenNonBlockFailed;
            break;
        }
        if (receiveBuffer > 0) raiseReceiveBuffer(s, receiveBuffer);
        // Windows takes the address length as an int: an address is a few bytes.
        const auto length = static_cast<socklen_t>(entry->ai_addrlen);
        if (::connect(s, entry->ai_addr, length) != 0 &&
            (!plat::lastErrorWouldBlock() || !plat::waitConnected(s, msUntil(deadline)))) {
            plat::closeSocket(s);
            continue;
        }
        endpoint.socket = s;
        endpoint.kind = kind;
        endpoint.open = 1;
        result = kOpened;
        break;
    }
    plat::freeResolved(list);
    return result;
}

}  // namespace

int openDatagram(Endpoint &endpoint, const char *hostText, uint16_t port) {
    return openConnected(endpoint, hostText, port, SOCK_DGRAM, EndpointKind::Datagram, 0);
}

int openStream(Endpoint &endpoint, const char *hostText, uint16_t port, int receiveBuffer) {
    return openConnected(endpoint, hostText, port, SOCK_STREAM, EndpointKind::Stream, receiveBuffer);
}

int sendBytes(Endpoint &endpoint, const void *data, int length) {
    if (!endpoint.open || length < 0) return 1;
    long sent;
    switch (endpoint.kind) {
    case EndpointKind::Multicast:
        sent =
            plat::sendDatagramTo(endpoint.socket, data, static_cast<size_t>(length), endpoint.groupAddress);
        break;
    case EndpointKind::Datagram:
    case EndpointKind::Stream:
        sent = plat::sendConnected(endpoint.socket, data, static_cast<size_t>(length));
        break;
    default:
        return 1;
    }
    return sent < 0 ? 1 : 0;
}

int receiveBytes(Endpoint &endpoint, void *buffer, int capacity) {
    if (!endpoint.open || capacity < 0) return -1;
    long n;
    switch (endpoint.kind) {
    case EndpointKind::Multicast:
    case EndpointKind::Datagram:
        n = plat::receiveDatagram(endpoint.socket, buffer, static_cast<size_t>(capacity));
        break;
    case EndpointKind::Stream:
        n = plat::receiveStream(endpoint.socket, buffer, static_cast<size_t>(capacity));
        break;
    default:
        return -1;
    }
    if (n == plat::kReceiveWouldBlock) return kReceivedNothing;
    if (n == plat::kReceiveTooLong) return kReceivedTooLong;
    if (n == plat::kReceiveClosed) return kReceivedEnd;
    if (n < 0) return kReceiveFailed;
    return static_cast<int>(n);
}

int receiveDatagrams(Endpoint &endpoint, uint8_t *buffers, int capacity, int count, int *sizes) {
    if (!endpoint.open || capacity < 0 || count < 0 || endpoint.kind == EndpointKind::Stream)
        return kReceiveFailed;
    long lengths[plat::kMostDatagramsAtOnce];
    const long n = plat::receiveDatagrams(endpoint.socket, buffers, static_cast<size_t>(capacity),
                                          static_cast<size_t>(count), lengths);
    if (n == plat::kReceiveWouldBlock) return kReceivedNothing;
    if (n < 0) return kReceiveFailed;
    for (long i = 0; i < n; ++i) {
        sizes[i] = lengths[i] == plat::kReceiveTooLong ? kReceivedTooLong : static_cast<int>(lengths[i]);
    }
    return static_cast<int>(n);
}

void closeEndpoint(Endpoint &endpoint) {
    if (endpoint.open != 1) return;
    plat::closeSocket(endpoint.socket);
    endpoint.open = 0;
}

}  // namespace qapi
