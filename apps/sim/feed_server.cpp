#include "sim/feed_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/call_record.h"

namespace qsim {
namespace {

constexpr uint32_t kRecordsLoggedOneByOne = 10;  // a poll handing out more is logged in one line

void setOption(int fd, int level, int name, int value, const char *what) {
    if (::setsockopt(fd, level, name, &value, sizeof value) != 0) {
        throw std::runtime_error(std::string("feed: ") + what + ": " + std::strerror(errno));
    }
}

}  // namespace

FeedServer::FeedServer(uint32_t address, uint16_t port, const FeedConfig &config)
    : listener_(tcpListener(address, port)), config_(config), random_(config.seed) {
    // Connections accepted later take the segment size announced here.
    if (config_.mss)
        setOption(listener_.fd(), IPPROTO_TCP, TCP_MAXSEG, static_cast<int>(*config_.mss), "TCP_MAXSEG");
    std::string line = "call-record feed on " + dotted(address) + ":" + std::to_string(port) + ", " +
                       std::to_string(config_.stock) + " records in stock";
    if (config_.chunk) line += ", written in pieces of at most " + std::to_string(config_.chunk) + " bytes";
    if (config_.mss) line += ", segments of at most " + std::to_string(*config_.mss) + " bytes";
    say(line);
}

void FeedServer::collect(std::vector<Watched> &out) {
    out.push_back({listener_.fd(), [this] { accept(); }});
    for (const Client &client : clients_) {
        const int fd = client.socket.fd();
        Watched w{fd, [this, fd] { read(fd); }};
        if (!client.waiting.empty()) w.writable = [this, fd] { write(fd); };
        out.push_back(std::move(w));
    }
}

FeedServer::Client *FeedServer::find(int fd) {
    const auto it =
        std::find_if(clients_.begin(), clients_.end(), [fd](const Client &c) { return c.socket.fd() == fd; });
    return it == clients_.end() ? nullptr : &*it;
}

void FeedServer::drop(int fd) {
    say("feed: client left");
    std::erase_if(clients_, [fd](const Client &c) { return c.socket.fd() == fd; });
}

void FeedServer::accept() {
    Socket socket(::accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK));
    if (socket.fd() < 0) return;
    if (config_.chunk) setOption(socket.fd(), IPPROTO_TCP, TCP_NODELAY, 1, "TCP_NODELAY");
    int segment = 0;
    socklen_t size = sizeof segment;
    if (config_.mss && ::getsockopt(socket.fd(), IPPROTO_TCP, TCP_MAXSEG, &segment, &size) == 0) {
        say("feed: client connected (segments of at most " + std::to_string(segment) + " bytes)");
    } else {
        say("feed: client connected");
    }
    clients_.push_back({std::move(socket), {}});
}

void FeedServer::read(int fd) {
    if (!find(fd)) return;  // dropped while writing, in the same round of the loop
    uint8_t bytes[64];
    const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return drop(fd);
    for (ssize_t i = 0; i < n; ++i) {
        Client *client = find(fd);
        if (!client) return;
        if (bytes[i] == feed::kPoll)
            answerPoll(*client);
        else
            say("feed: unexpected byte " + hex(bytes[i], 2));
    }
    if (find(fd)) write(fd);
}

void FeedServer::answerPoll(Client &client) {
    ++polls_;
    const uint32_t count = std::min(config_.perPoll, config_.stock);
    config_.stock -= count;
    const uint32_t first = next_ + 1;
    for (uint32_t i = 0; i < count; ++i) {
        const feed::CallRecord record = feed::sample(next_++);
        feed::Record bytes = feed::encode(record);
        std::string note = "feed: record " + std::to_string(next_) + ": " + feed::describe(record);
        if (breakNext_) {
            feed::breakCheckSum(bytes);
            breakNext_ = false;
            note += " (check sum broken)";
        }
        client.waiting.insert(client.waiting.end(), bytes.begin(), bytes.end());
        if (count <= kRecordsLoggedOneByOne) say(note);
    }
    if (count > kRecordsLoggedOneByOne) {
        say("feed: poll " + std::to_string(polls_) + ": records " + std::to_string(first) + " to " +
            std::to_string(next_));
    }
    if (count == 0) say("feed: poll " + std::to_string(polls_) + ", nothing to send");
}

void FeedServer::write(int fd) {
    Client *client = find(fd);
    size_t done = 0;
    while (client && done < client->waiting.size()) {
        size_t piece = client->waiting.size() - done;
        if (config_.chunk) {
            piece = std::min<size_t>(piece, std::uniform_int_distribution<size_t>(1, config_.chunk)(random_));
        }
        const ssize_t n = ::send(fd, client->waiting.data() + done, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;  // the rest when it takes more
        if (n <= 0) return drop(fd);
        done += static_cast<size_t>(n);
    }
    if (client)
        client->waiting.erase(client->waiting.begin(),
                              client->waiting.begin() + static_cast<ptrdiff_t>(done));
}

}  // namespace qsim
