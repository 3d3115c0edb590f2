#include "soak/servers.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/adjunct_wire.h"
#include "sim/call_record.h"

namespace qapi::soak {
namespace {

int boundSocket(int type, uint16_t &port) {
    const int s = ::socket(AF_INET, type | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    port = ntohs(a.sin_port);
    return s;
}

void closeIfOpen(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

FeedServer::FeedServer(int32_t index) : index_(index) {
    listener_ = boundSocket(SOCK_STREAM, port_);
    ::listen(listener_, 4);
}

FeedServer::~FeedServer() {
    closeIfOpen(connection_);
    closeIfOpen(listener_);
}

uint8_t FeedServer::kindOf(uint32_t sequence) {
    static constexpr uint8_t kKinds[] = {0, 5, 9, 63};  // every field decoded
    return kKinds[sequence % 4];
}

void FeedServer::accept() {
    const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    if (c < 0) return;
    closeIfOpen(connection_);
    connection_ = c;
    rest_.clear();
}

void FeedServer::encode(uint32_t from, uint32_t count, qsim::Bytes &bytes) const {
    for (uint32_t sequence = from; sequence < from + count; ++sequence) {
        qsim::feed::CallRecord r;
        r.kind = kindOf(sequence);
        r.numberA = index_;
        r.numberB = static_cast<int32_t>(sequence);
        r.digitsA = digitsOf(sequence);
        r.when = qsim::DateTime{2024, 5, 17, sequence / 60 % 24, sequence % 60, 0};
        const qsim::feed::Record sealed = qsim::feed::encode(r);
        bytes.insert(bytes.end(), sealed.begin(), sealed.end());
    }
}

void FeedServer::write(uint32_t records, bool split) {
    if (connection_ < 0) return;
    tick();
    if (backlogged()) return writeBacklog(records);  // behind the backlog, whole
    qsim::Bytes bytes;
    encode(written_, records, bytes);
    const size_t now = split ? bytes.size() - qsim::feed::kRecordSize / 2 : bytes.size();
    rest_.assign(bytes.begin() + static_cast<ptrdiff_t>(now), bytes.end());
    ::send(connection_, bytes.data(), now, MSG_NOSIGNAL);
    written_ += split ? records - 1 : records;
}

void FeedServer::writeBacklog(uint32_t records) {
    if (connection_ < 0) return;
    owed_ += records;
    written_ += records;
    sendBacklog();
}

void FeedServer::sendBacklog() {
    // A split record's rest goes first; then a few hundred records at a time.
    constexpr uint32_t kChunk = 256;
    if (!rest_.empty()) return;
    for (;;) {
        if (sent_ == out_.size()) {
            if (owed_ == 0) return;
            out_.clear();
            sent_ = 0;
            const uint32_t count = owed_ < kChunk ? owed_ : kChunk;
            encode(written_ - owed_, count, out_);
            owed_ -= count;
        }
        const ssize_t n = ::send(connection_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
        if (n <= 0) return;  // the connection is full: the rest goes with the next tick
        sent_ += static_cast<size_t>(n);
    }
}

void FeedServer::tick() {
    accept();
    if (connection_ < 0) return;
    if (!rest_.empty()) {
        ::send(connection_, rest_.data(), rest_.size(), MSG_NOSIGNAL);
        rest_.clear();
        ++written_;
    }
    sendBacklog();
    uint8_t polls[256];
    while (::recv(connection_, polls, sizeof polls, 0) > 0) {}
}

bool FeedServer::reset(uint64_t recordsReceived) {
    if (connection_ < 0 || !rest_.empty() || backlogged() || recordsReceived != written_) return false;
    const linger abort{1, 0};
    ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    closeIfOpen(connection_);
    return true;
}

LinkServer::LinkServer(int32_t index) : index_(index) { socket_ = boundSocket(SOCK_DGRAM, port_); }

LinkServer::~LinkServer() { closeIfOpen(socket_); }

void LinkServer::setSilent(bool silent) {
    silent_ = silent;
    if (silent) heard_ = false;
}

void LinkServer::serve() {
    uint8_t d[256];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    for (ssize_t n;
         (n = ::recvfrom(socket_, d, sizeof d, 0, reinterpret_cast<sockaddr *>(&from), &length)) >= 0;
         length = sizeof from) {
        const auto type = qsim::adjunct::typeOf(d, static_cast<size_t>(n));
        if (type == qsim::adjunct::kKeepAlive && !silent_) {
            link_ = from;
            heard_ = true;
            const qsim::Bytes reply = qsim::adjunct::keepAliveReply();
            ::sendto(socket_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from),
                     sizeof from);
        } else if (type == qsim::adjunct::kRouteResponse) {
            const auto answer = qsim::adjunct::parseRouteResponse(d, static_cast<size_t>(n));
            const uint32_t sequence = answer ? answer->id & 0xFFFFFF : 0;
            const bool right = answer && answer->id >> 24 == static_cast<uint32_t>(index_) &&
                               sequence < asked_ && answer->digits == digitsOf(sequence) &&
                               answer->value == static_cast<int32_t>(sequence);
            ++(right ? answered_ : wrong_);
        }
    }
}

void LinkServer::ask(uint32_t dateTime) {
    if (!heard_ || silent_) return;
    qsim::adjunct::RouteRequest r;
    r.id = static_cast<uint32_t>(index_) << 24 | asked_;
    r.when = qsim::DateTime{2024, 5, 17, dateTime / 3600 % 24, dateTime / 60 % 60, dateTime % 60};
    r.numberA = index_;
    r.numberB = static_cast<int32_t>(asked_);
    r.digitsA = digitsOf(asked_);
    r.digitsB = "4711";
    const qsim::Bytes d = qsim::adjunct::routeRequest(r);
    ::sendto(socket_, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&link_), sizeof link_);
    ++asked_;
}

}  // namespace qapi::soak
