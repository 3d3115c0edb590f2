#include "sim/feed_server.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "sim/call_record.h"

namespace qsim {

FeedServer::FeedServer(uint32_t address, uint16_t port, uint32_t perPoll, uint32_t stock)
    : listener_(tcpListener(address, port)), perPoll_(perPoll), stock_(stock) {
    say("call-record feed on " + dotted(address) + ":" + std::to_string(port) + ", " + std::to_string(stock) +
        " records in stock");
}

void FeedServer::collect(std::vector<Watched> &out) {
    out.push_back({listener_.fd(), [this] { accept(); }});
    for (const Socket &client : clients_) {
        const int fd = client.fd();
        out.push_back({fd, [this, fd] { read(fd); }});
    }
}

void FeedServer::accept() {
    Socket client(::accept(listener_.fd(), nullptr, nullptr));
    if (client.fd() < 0) return;
    say("feed: client connected");
    clients_.push_back(std::move(client));
}

void FeedServer::read(int fd) {
    uint8_t bytes[64];
    const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        say("feed: client left");
        clients_.erase(std::find_if(clients_.begin(), clients_.end(), [fd](const Socket &s) { return s.fd() == fd; }));
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == feed::kPoll) answerPoll(fd);
        else say("feed: unexpected byte " + hex(bytes[i], 2));
    }
}

void FeedServer::answerPoll(int fd) {
    ++polls_;
    const uint32_t count = std::min(perPoll_, stock_);
    stock_ -= count;
    for (uint32_t i = 0; i < count; ++i) {
        const feed::CallRecord record = feed::sample(next_++);
        feed::Record bytes = feed::encode(record);
        std::string note = "feed: record " + std::to_string(next_) + ": " + feed::describe(record);
        if (breakNext_) {
            feed::breakCheckSum(bytes);
            breakNext_ = false;
            note += " (check sum broken)";
        }
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        say(note);
    }
    if (count == 0) say("feed: poll " + std::to_string(polls_) + ", nothing to send");
}

}  // namespace qsim
