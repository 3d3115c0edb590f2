// The call-record feed: a TCP listener.  For every poll byte (0x58) a client
// sends, the server hands out up to `perPoll` records of its fixed sequence
// while its stock lasts; a poll finds nothing when the stock is used up.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sockets.h"

namespace qsim {

class FeedServer {
public:
    FeedServer(uint32_t address, uint16_t port, uint32_t perPoll, uint32_t stock);
    void collect(std::vector<Watched> &out);
    void addStock(uint32_t records) { stock_ += records; }
    // The next record handed out carries a broken check sum.
    void breakNext() { breakNext_ = true; }
    uint32_t polls() const { return polls_; }

private:
    void accept();
    void read(int fd);
    void answerPoll(int fd);

    Socket listener_;
    std::vector<Socket> clients_;
    uint32_t perPoll_;
    uint32_t stock_;
    uint32_t next_ = 0;  // index of the next record of the sequence
    uint32_t polls_ = 0;
    bool breakNext_ = false;
};

}  // namespace qsim
