// The call-record feed: a TCP listener.  For every poll byte (0x58) a client
// sends, the server hands out up to `perPoll` records of its fixed sequence
// while its stock lasts; a poll finds nothing when the stock is used up.
// Records can be written in small pieces, each sent at once, over
// connections that announce small segments: the stream then reaches the
// client cut anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/bytes.h"
#include "sim/sockets.h"

namespace qsim {

struct FeedConfig {
    uint32_t perPoll = 1;
    uint32_t stock = 3;
    uint32_t chunk = 0;           // largest piece written at once; 0: everything waiting
    std::optional<uint32_t> mss;  // TCP_MAXSEG of the listener
    uint32_t seed = 1;            // of the piece sizes
};

class FeedServer {
public:
    FeedServer(uint32_t address, uint16_t port, const FeedConfig &config);
    void collect(std::vector<Watched> &out);
    void addStock(uint32_t records) { config_.stock += records; }
    // The next record handed out carries a broken check sum.
    void breakNext() { breakNext_ = true; }
    uint32_t polls() const { return polls_; }

private:
    struct Client {
        Socket socket;
        Bytes waiting;  // records not yet written
    };

    void accept();
    void read(int fd);
    void answerPoll(Client &client);
    // Writes what waits, piece by piece, until the socket takes no more.
    void write(int fd);
    Client *find(int fd);
    void drop(int fd);

    Socket listener_;
    std::vector<Client> clients_;
    FeedConfig config_;
    std::mt19937 random_;
    uint32_t next_ = 0;  // index of the next record of the sequence
    uint32_t polls_ = 0;
    bool breakNext_ = false;
};

}  // namespace qsim
