// The socket calls of the suites, on Linux and on Windows.  The suites use
// the BSD calls by their names; Winsock takes char buffers and int lengths
// where BSD takes void pointers and size_t, so on Windows the overloads below
// accept the BSD forms.  Closing, waiting and the last error differ in name
// too: the suites use the helpers at the end.
#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

#include "platform/socket.h"

#if defined(_WIN32)
inline ssize_t send(SOCKET s, const void *data, size_t length, int flags) {
    return ::send(s, static_cast<const char *>(data), static_cast<int>(length), flags);
}
inline ssize_t recv(SOCKET s, void *data, size_t length, int flags) {
    return ::recv(s, static_cast<char *>(data), static_cast<int>(length), flags);
}
inline ssize_t sendto(SOCKET s, const void *data, size_t length, int flags, const sockaddr *to,
                      socklen_t toLength) {
    return ::sendto(s, static_cast<const char *>(data), static_cast<int>(length), flags, to, toLength);
}
inline ssize_t recvfrom(SOCKET s, void *data, size_t length, int flags, sockaddr *from,
                        socklen_t *fromLength) {
    return ::recvfrom(s, static_cast<char *>(data), static_cast<int>(length), flags, from, fromLength);
}
inline int setsockopt(SOCKET s, int level, int name, const void *value, socklen_t length) {
    return ::setsockopt(s, level, name, static_cast<const char *>(value), length);
}
// Winsock raises no signal on a reset connection, and names shutdown's
// "both ways" SD_BOTH.
inline constexpr int MSG_NOSIGNAL = 0;
inline constexpr int SHUT_RDWR = SD_BOTH;
#else
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace qapi::test {

inline void closeSocket(plat::SocketHandle s) { plat::closeSocket(s); }

// True when `s` has something to read (or its peer closed) within waitMs.
inline bool waitReadable(plat::SocketHandle s, int waitMs) {
#if defined(_WIN32)
    WSAPOLLFD p{};
    p.fd = s;
    p.events = POLLRDNORM;
    return WSAPoll(&p, 1, waitMs) == 1;
#else
    pollfd p{s, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1;
#endif
}

// Bytes waiting to be read on `s`.
inline int bytesWaiting(plat::SocketHandle s) {
#if defined(_WIN32)
    u_long waiting = 0;
    ioctlsocket(s, FIONREAD, &waiting);
#else
    int waiting = 0;
    ioctl(s, FIONREAD, &waiting);
#endif
    return static_cast<int>(waiting);
}

// True when the last failed socket call failed on a reset connection.
inline bool lastErrorWasReset() {
#if defined(_WIN32)
    return WSAGetLastError() == WSAECONNRESET;
#else
    return errno == ECONNRESET;
#endif
}

// Gives the network a moment (never used to wait for a tick).
inline void pause(std::chrono::microseconds moment) { std::this_thread::sleep_for(moment); }

}  // namespace qapi::test
