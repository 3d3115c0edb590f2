// POSIX flavour of the socket shim.  Linux needs four corrections to behave
// as the endpoints promise: truncated datagrams are detected with MSG_TRUNC
// (Linux would deliver them cut short; recvmmsg reads many in one call and
// flags each), sends use MSG_NOSIGNAL (a reset stream
// must not raise SIGPIPE), "would block" is EAGAIN or EWOULDBLOCK, and a
// stream reset after an orderly close is reported as an error.  Multicast
// sends go without MSG_DONTROUTE: Linux refuses it for a group that only
// the default route reaches, and the multicast interface says where the
// datagram leaves.
#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

#include "../socket.h"

namespace qapi::plat {

int startSocketLibrary() { return 0; }
void cleanupSocketLibrary() {}

bool setNonBlocking(SocketHandle s) {
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

void closeSocket(SocketHandle s) { ::close(s); }

bool lastErrorWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS; }
bool lastErrorAddressInUse() { return errno == EADDRINUSE; }

namespace {

long receiveMapped(long n) {
    if (n >= 0) return n;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kReceiveWouldBlock : kReceiveError;
}

}  // namespace

long receiveDatagram(SocketHandle s, void *buffer, size_t capacity) {
    sockaddr_in from{};
    iovec part{buffer, capacity};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    const long n = receiveMapped(::recvmsg(s, &msg, 0));
    if (n >= 0 && (msg.msg_flags & MSG_TRUNC)) return kReceiveTooLong;
    return n;
}

long receiveDatagrams(SocketHandle s, uint8_t *buffers, size_t capacity, size_t count, long *sizes) {
    if (count > kMostDatagramsAtOnce) count = kMostDatagramsAtOnce;
    iovec parts[kMostDatagramsAtOnce];
    mmsghdr messages[kMostDatagramsAtOnce];
    for (size_t i = 0; i < count; ++i) {
        parts[i] = iovec{buffers + i * capacity, capacity};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // A failure after the first datagram ends the batch; the socket reports
    // it again to the next call.
    const long n =
        receiveMapped(::recvmmsg(s, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr));
    for (long i = 0; i < n; ++i) {
        const mmsghdr &m = messages[i];
        sizes[i] = (m.msg_hdr.msg_flags & MSG_TRUNC) ? kReceiveTooLong : static_cast<long>(m.msg_len);
    }
    return n == 0 ? kReceiveWouldBlock : n;
}

long receiveStream(SocketHandle s, void *buffer, size_t capacity) {
    const long n = receiveMapped(::recv(s, buffer, capacity, 0));
    if (n != 0 || capacity == 0) return n;
    // After the peer's orderly close Linux keeps reading 0 even once the peer
    // has reset the connection (as it does when we send to it again); the
    // pending socket error tells the reset apart, as other socket libraries
    // report it: a failed receive.
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) return kReceiveError;
    return kReceiveClosed;
}

long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to) {
    return ::sendto(s, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

long sendConnected(SocketHandle s, const void *data, size_t length) {
    return ::send(s, data, length, MSG_NOSIGNAL);
}

uint64_t monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

bool waitConnected(SocketHandle s, int timeoutMs) {
    const uint64_t deadline = monotonicMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        pollfd p{s, POLLOUT, 0};
        const uint64_t now = monotonicMs();
        const int r = ::poll(&p, 1, now >= deadline ? 0 : static_cast<int>(deadline - now));
        if (r > 0) break;
        if (r == 0 || errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace qapi::plat
