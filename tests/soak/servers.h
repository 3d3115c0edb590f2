// The servers of the call-record feeds and of the adjunct links in the soak,
// each on 127.0.0.1.  A feed's server writes records numbered in sequence
// (a record now and then in two pieces across ticks, or a backlog of many
// thousands at once) and may reset its connection; a link's server answers keep-alives, asks route questions
// numbered in sequence and checks every answer, and may fall silent.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "sim/bytes.h"

namespace qapi::soak {

class FeedServer {
public:
    explicit FeedServer(int32_t index);
    ~FeedServer();
    FeedServer(const FeedServer &) = delete;
    FeedServer &operator=(const FeedServer &) = delete;

    uint16_t port() const { return port_; }
    // Takes a connection a feed has opened since the last call (a tick
    // does too).
    void accept();
    // Writes `records` more records; with `split`, the last one only in part
    // (the rest goes with the next write or tick).
    void write(uint32_t records, bool split);
    // Writes `records` more records at once, a backlog: they go as fast as
    // the connection takes them, a part with every tick, and any record
    // written later goes after them.
    void writeBacklog(uint32_t records);
    bool backlogged() const { return owed_ > 0 || sent_ < out_.size(); }
    // Once a tick: a new connection taken, the rest of a split record and
    // of a backlog written, and the feed's polls read.
    void tick();
    // Resets the connection (a feed then fails), once the feed has read
    // everything: false when something is still on its way.
    bool reset(uint64_t recordsReceived);

    uint32_t recordsWritten() const { return written_; }  // whole ones
    // What record `sequence` of this server holds, as the feed decodes it.
    static std::string digitsOf(uint32_t sequence) { return std::to_string(sequence); }
    static uint8_t kindOf(uint32_t sequence);

private:
    // Appends records `from` to `from` + `count` - 1, sealed, to `bytes`.
    void encode(uint32_t from, uint32_t count, qsim::Bytes &bytes) const;
    void sendBacklog();

    int32_t index_;
    int listener_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
    uint32_t written_ = 0;  // whole records, a backlog's included
    qsim::Bytes rest_;      // the part of a split record not yet written
    uint32_t owed_ = 0;     // records of a backlog not yet encoded
    qsim::Bytes out_;       // a backlog's encoded records, from sent_ on not yet written
    size_t sent_ = 0;
};

class LinkServer {
public:
    explicit LinkServer(int32_t index);
    ~LinkServer();
    LinkServer(const LinkServer &) = delete;
    LinkServer &operator=(const LinkServer &) = delete;

    uint16_t port() const { return port_; }
    // Reads what the link sent: keep-alives are answered unless silent, and
    // every answer is checked against its question.
    void serve();
    // Asks the next route question, when a link has been heard since the
    // last silence.
    void ask(uint32_t dateTime);
    void setSilent(bool silent);
    bool silent() const { return silent_; }

    uint32_t asked() const { return asked_; }
    uint32_t answered() const { return answered_; }
    uint32_t wrongAnswers() const { return wrong_; }
    static std::string digitsOf(uint32_t sequence) { return std::to_string(sequence % 100000); }

private:
    int32_t index_;
    int socket_ = -1;
    uint16_t port_ = 0;
    sockaddr_in link_{};
    bool heard_ = false;
    bool silent_ = false;
    uint32_t asked_ = 0;
    uint32_t answered_ = 0;
    uint32_t wrong_ = 0;
};

}  // namespace qapi::soak
