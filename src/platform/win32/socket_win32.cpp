// Windows Sockets 2 flavour of the socket shim.  Winsock already behaves as
// the endpoints promise: an oversize datagram fails with WSAEMSGSIZE and is
// lost, sends raise no signal, "would block" is WSAEWOULDBLOCK.  What it
// needs is to be started (version 2.2) and cleaned up once per start.
#include <climits>

#include "../socket.h"

namespace qapi::plat {

// The option and error numbers of Windows Sockets 2, which the endpoints use
// through the names above (winsock.h of version 1 numbers the IP options
// differently).
static_assert(IP_ADD_MEMBERSHIP == 12 && IP_MULTICAST_LOOP == 11);
static_assert(MSG_DONTROUTE == 4 && AF_INET6 == 23);
static_assert(WSAEWOULDBLOCK == 10035 && WSAEMSGSIZE == 10040);

namespace {

// True between a successful start and its clean-up: each WSACleanup matches
// one WSAStartup of ours, so a release that follows another release (or a
// failed start) never takes away a reference the application holds itself.
bool started = false;

int clampLength(size_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

long receiveResult(int n) {
    if (n != SOCKET_ERROR) return n;
    switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK:
        return kReceiveWouldBlock;
    case WSAEMSGSIZE:
        return kReceiveTooLong;
    default:
        return kReceiveError;
    }
}

}  // namespace

int startSocketLibrary() {
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result == 0) started = true;
    return result;
}

void cleanupSocketLibrary() {
    if (!started) return;
    WSACleanup();
    started = false;
}

bool setNonBlocking(SocketHandle s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0 || WSAGetLastError() == WSAEWOULDBLOCK;
}

void closeSocket(SocketHandle s) { closesocket(s); }

bool lastErrorWouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool lastErrorAddressInUse() { return WSAGetLastError() == WSAEADDRINUSE; }

long receiveDatagram(SocketHandle s, void *buffer, size_t capacity) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    return receiveResult(::recvfrom(s, static_cast<char *>(buffer), clampLength(capacity), 0,
                                    reinterpret_cast<sockaddr *>(&from), &fromLength));
}

// Windows Sockets read one datagram a call.
long receiveDatagrams(SocketHandle s, uint8_t *buffers, size_t capacity, size_t count, long *sizes) {
    if (count > kMostDatagramsAtOnce) count = kMostDatagramsAtOnce;
    long last = kReceiveWouldBlock;
    size_t n = 0;
    while (n < count) {
        last = receiveDatagram(s, buffers + n * capacity, capacity);
        if (last == kReceiveWouldBlock || last == kReceiveError) break;
        sizes[n++] = last;
    }
    return n > 0 ? static_cast<long>(n) : last;
}

long receiveStream(SocketHandle s, void *buffer, size_t capacity) {
    const long n = receiveResult(::recv(s, static_cast<char *>(buffer), clampLength(capacity), 0));
    return n == 0 && capacity > 0 ? kReceiveClosed : n;
}

// MSG_DONTROUTE as the design has always sent it: Windows providers ignore
// it, and the multicast interface says where the datagram leaves.
long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to) {
    return ::sendto(s, static_cast<const char *>(data), clampLength(length), MSG_DONTROUTE,
                    reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

long sendConnected(SocketHandle s, const void *data, size_t length) {
    return ::send(s, static_cast<const char *>(data), clampLength(length), 0);
}

uint64_t monotonicMs() { return GetTickCount64(); }

// The system's resolver, which keeps its own time limits: a numeric address
// or a name of the hosts file never waits.
bool resolveWithin(const char *host, const char *service, const addrinfo &hints, int, addrinfo **list) {
    *list = nullptr;
    return ::getaddrinfo(host, service, &hints, list) == 0 && *list != nullptr;
}

void freeResolved(addrinfo *list) {
    if (list) ::freeaddrinfo(list);
}

bool waitConnected(SocketHandle s, int timeoutMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    const int ms = timeoutMs > 0 ? timeoutMs : 0;
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    if (::select(0, nullptr, &writable, &failed, &wait) <= 0 || FD_ISSET(s, &failed)) return false;
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) == 0 &&
           error == 0;
}

}  // namespace qapi::plat
