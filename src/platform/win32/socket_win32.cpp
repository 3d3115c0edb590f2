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
    return receiveResult(::recv(s, static_cast<char *>(buffer), clampLength(capacity), 0));
}

long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to, bool dontRoute) {
    return ::sendto(s, static_cast<const char *>(data), clampLength(length), dontRoute ? MSG_DONTROUTE : 0,
                    reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

long sendConnected(SocketHandle s, const void *data, size_t length) {
    return ::send(s, static_cast<const char *>(data), clampLength(length), 0);
}

}  // namespace qapi::plat
