// POSIX flavour of the socket shim.  Linux needs four corrections to behave
// as the endpoints promise: truncated datagrams are detected with MSG_TRUNC
// (Linux would deliver them cut short; recvmmsg reads many in one call and
// flags each), sends use MSG_NOSIGNAL (a reset stream
// must not raise SIGPIPE), "would block" is EAGAIN or EWOULDBLOCK, and a
// stream reset after an orderly close is reported as an error.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>

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
    return 0;
}

long sendDatagramTo(SocketHandle s, const void *data, size_t length, const sockaddr_in &to, bool dontRoute) {
    const int flags = MSG_NOSIGNAL | (dontRoute ? MSG_DONTROUTE : 0);
    return ::sendto(s, data, length, flags, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

long sendConnected(SocketHandle s, const void *data, size_t length) {
    return ::send(s, data, length, MSG_NOSIGNAL);
}

}  // namespace qapi::plat
