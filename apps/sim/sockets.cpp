#include "sim/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace qsim {
namespace {

constexpr size_t kLargestDatagram = 2048;

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in addressOf(uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

Socket boundSocket(int type, uint32_t address, uint16_t port) {
    Socket s(::socket(AF_INET, type, 0));
    if (s.fd() < 0) fail("socket");
    const int on = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = addressOf(address, port);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        fail("bind to " + dotted(address) + ":" + std::to_string(port));
    }
    return s;
}

}  // namespace

Socket &Socket::operator=(Socket &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Socket::~Socket() {
    if (fd_ >= 0) ::close(fd_);
}

int Socket::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

uint32_t parseIpv4(const std::string &text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        throw std::invalid_argument("not an IPv4 address: " + text);
    return ntohl(a.s_addr);
}

Socket udpSocket(uint32_t address, uint16_t port) { return boundSocket(SOCK_DGRAM, address, port); }

Socket tcpListener(uint32_t address, uint16_t port) {
    Socket s = boundSocket(SOCK_STREAM, address, port);
    if (::listen(s.fd(), 8) != 0) fail("listen");
    return s;
}

Socket groupSocket(const char *group, uint16_t port) {
    Socket s = boundSocket(SOCK_DGRAM, INADDR_ANY, port);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = htonl(parseIpv4(group));
    membership.imr_interface.s_addr = htonl(INADDR_ANY);  // the interface the group is routed over
    if (::setsockopt(s.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        fail(std::string("joining ") + group);
    }
    const int off = 0, hops = 1;
    ::setsockopt(s.fd(), IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
    ::setsockopt(s.fd(), IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
    return s;
}

Bytes receiveFrom(int fd, uint32_t &source, uint16_t &sourcePort) {
    Bytes b(kLargestDatagram);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, b.data(), b.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &length);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    source = ntohl(from.sin_addr.s_addr);
    sourcePort = ntohs(from.sin_port);
    return b;
}

void sendTo(int fd, const Bytes &bytes, uint32_t address, uint16_t port) {
    const sockaddr_in to = addressOf(address, port);
    if (::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to) < 0) {
        say(std::string("send to ") + dotted(address) + " failed: " + std::strerror(errno));
    }
}

void say(const std::string &line) {
    std::printf("sim: %s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace qsim
