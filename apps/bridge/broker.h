// The bridge's connection to RabbitMQ (rabbitmq-c): channel 1 publishes the
// events in confirm mode to the exchange quentara.events; channel 2 takes
// the commands of the queue quentara.<site>.commands and sends the replies.
//
// Nothing the broker does holds the bridge's loop: the name lookup and the
// TCP connection are waited for in the loop (a TLS connection is made in
// one step of at most 5 s), a frame is written only when the socket takes
// it at once (the room a publish needs is checked against the socket's
// free send memory), and each step reads a bounded number of frames.  The
// AMQP handshake and declarations that follow a new connection take at
// most 5 s each.  A command's body is held only up to its bound: a larger
// one is answered with an error without being kept.
#pragma once

#include <amqp.h>
#include <netdb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/delivery.h"
#include "bridge/options.h"

namespace qbridge {

using Say = std::function<void(const std::string &)>;

// A message of the commands queue.
struct Command {
    uint64_t deliveryTag = 0;
    bool redelivered = false;
    std::string replyTo, correlationId, appId;
    std::string body;
    uint64_t size = 0;      // as announced
    bool tooLarge = false;  // larger than the bound: `body` is empty
};

class BrokerEvents {
public:
    virtual ~BrokerEvents() = default;
    virtual void confirmed(uint64_t tag, bool multiple) = 0;
    virtual void command(Command &&command) = 0;
};

class Broker : public Publisher {
public:
    Broker(const Options &options, Say say);
    ~Broker() override;
    Broker(const Broker &) = delete;
    Broker &operator=(const Broker &) = delete;

    // Moves the connection on: a lookup or a connection that finished, the
    // frames that arrived (a bounded number), replies that waited for room.
    void step(Clock::time_point now, BrokerEvents &events);
    // What to wait for: the socket (or -1) with its poll events, and when to
    // look again at the latest.
    int fd() const;
    short pollEvents() const;
    Clock::time_point wakeAt() const;
    // True once after each lost connection.
    bool takeLost();
    // Closes the connection on purpose (a refused event, confirmations that
    // do not come); it is made again after the usual wait.
    void drop(const std::string &why);
    // The connection's end at the bridge's end: closed politely, briefly.
    void finish();

    // Publisher
    bool ready() const override { return state_ == State::up; }
    size_t room() const override;
    size_t cost(const Event &event) const override;
    bool publish(const Event &event) override;

    // Answers a command (when it names a reply_to) and acknowledges it; the
    // reply waits for room if it must.  A reply that could never fit is
    // replaced by an error.
    void answer(const Command &command, std::string reply);
    bool blocked() const { return blocked_; }

private:
    enum class State { down, resolving, connecting, up };
    struct Reply {
        uint64_t deliveryTag;
        std::string to, correlationId, body;
    };
    void startLookup(Clock::time_point now);
    void lookupDone(Clock::time_point now);
    void tryAddress(Clock::time_point now);
    void connected(Clock::time_point now);
    bool setUp(std::string &why);
    void readFrames(BrokerEvents &events);
    void frame(const amqp_frame_t &frame, BrokerEvents &events);
    bool sendReplies();
    void fail(const std::string &why);
    void release();

    Options options_;
    Say say_;
    std::string queue_;
    State state_ = State::down;
    Clock::time_point nextTry_{};
    Clock::time_point deadline_{};
    int failures_ = 0;
    bool lost_ = false;
    bool blocked_ = false;
    bool saidDown_ = false;
    // A name lookup of glibc's (getaddrinfo_a), which a thread of its own
    // writes into until it is done.
    struct Lookup {
        gaicb request{};
        addrinfo hints{};
        std::string port;
    };
    std::unique_ptr<Lookup> lookup_;
    std::vector<std::unique_ptr<Lookup>> abandoned_;  // given up, but not yet cancelled
    addrinfo *nextAddress_ = nullptr;
    int socket_ = -1;
    amqp_connection_state_t connection_ = nullptr;
    // The command being received.
    bool receiving_ = false;
    Command incoming_;
    uint64_t received_ = 0;
    std::vector<Reply> replies_;
};

}  // namespace qbridge
