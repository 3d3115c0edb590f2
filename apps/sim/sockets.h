// The few socket operations the simulator needs, with errors as exceptions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/bytes.h"

namespace qsim {

// Owns a file descriptor.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket &&other) noexcept : fd_(other.release()) {}
    Socket &operator=(Socket &&other) noexcept;
    ~Socket();
    int fd() const { return fd_; }
    int release();

private:
    int fd_ = -1;
};

// A descriptor the main loop waits on, what to do when it is readable, and,
// when set, what to do when it takes more output.
struct Watched {
    int fd;
    std::function<void()> ready;
    std::function<void()> writable = nullptr;
};

// "127.0.0.1" as a host-order address; throws on anything else.
uint32_t parseIpv4(const std::string &text);

// A UDP socket bound to address:port (host order).
Socket udpSocket(uint32_t address, uint16_t port);
// A TCP socket listening on address:port.
Socket tcpListener(uint32_t address, uint16_t port);
// A UDP socket on port that receives the station group and multicasts to it
// without hearing its own datagrams.
Socket groupSocket(const char *group, uint16_t port);

// One waiting datagram, or an empty one when nothing waits; `source` gets
// the sender's address and port (host order).
Bytes receiveFrom(int fd, uint32_t &source, uint16_t &sourcePort);
void sendTo(int fd, const Bytes &bytes, uint32_t address, uint16_t port);

// Prints "sim: <line>" at once.
void say(const std::string &line);

}  // namespace qsim
