// The way of every event from the library to the broker, with nothing lost:
// one line, in the order the events were made.  An event leaves the line
// only when the broker has confirmed it.
//
// - While the broker takes events, the line is in memory (bounded): events
//   are published as they come, at most `window` unconfirmed at a time.
// - When the connection is lost, or the memory's bound is reached, the
//   whole line goes to the spool on the disk, and later events follow it
//   there while any wait, so that the order holds; the spool is then sent
//   first, oldest first, and the line returns to memory once it is empty.
// - An event that was published but not confirmed when the connection was
//   lost is published again (with the same message id): a consumer may see
//   it twice, never out of order and never not at all.
// - What the spool refuses (full, or a failing disk) is lost: counted, and
//   remembered as a gap of sequence numbers.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bridge/event.h"
#include "spool/spool.h"

namespace qbridge {

using Clock = std::chrono::steady_clock;

// The broker's side of the line: a connection with a channel in confirm mode.
class Publisher {
public:
    virtual ~Publisher() = default;
    virtual bool ready() const = 0;
    // The bytes the connection takes now without waiting.
    virtual size_t room() const = 0;
    // The bytes an event takes on the connection.
    virtual size_t cost(const Event &event) const = 0;
    // Publishes; the broker numbers what it confirms 1, 2 ... from the
    // connection's first event on.  False when the connection failed.
    virtual bool publish(const Event &event) = 0;
};

struct DeliveryLimits {
    size_t window = 1024;        // published, not yet confirmed
    size_t memoryEvents = 8192;  // in memory before the line goes to the spool
    size_t memoryBytes = 16 * 1024 * 1024;
    uint64_t spoolBytes = UINT64_MAX;  // the spool's bound: what fits is kept, the rest lost
};

// Events lost: numbers `from` to `to` of run `epoch`.
struct Gap {
    int64_t epoch = 0;
    uint64_t from = 0, to = 0;
    std::string why;
};

struct DeliveryCounts {
    uint64_t made = 0;       // events added
    uint64_t confirmed = 0;  // confirmations taken (an event sent again counts again)
    uint64_t spooled = 0;    // events written to the spool
    uint64_t resent = 0;     // events published again after a lost connection
    uint64_t lost = 0;       // events neither confirmed nor kept on the disk
};

class Delivery {
public:
    Delivery(qspool::Spool &spool, DeliveryLimits limits);

    // A new event at the end of the line.  `connected`: the broker takes
    // events now; if not, the event goes to the spool.
    void add(Event &&event, bool connected);
    // Publishes what waits, as far as the window and the connection's room
    // allow; the number published.
    size_t pump(Publisher &publisher);
    // The broker confirmed event `tag` (and every earlier one with `multiple`).
    void confirmed(uint64_t tag, bool multiple);
    // The connection is gone: what it did not confirm waits in the spool.
    void connectionLost();
    // Writes the events that this turn sent to the spool (one append).
    void flush();
    // At the end: everything not confirmed is written to the spool.
    void shutdown();

    const DeliveryCounts &counts() const { return counts_; }
    const std::vector<Gap> &gaps() const { return gaps_; }
    // Lines to say since the last call (a spool that refuses events).
    std::vector<std::string> takeNews();
    // The sequence number of run `epoch`'s oldest event that is neither
    // confirmed nor on the disk; 0 when there is none.
    uint64_t firstUnsafe(int64_t epoch) const;
    size_t unconfirmed() const { return inflight_.size(); }
    // Events neither confirmed nor on the disk: lost if the bridge ended now.
    size_t unsafe() const { return memory_.size() + toSpool_.size(); }
    // Events that wait to be published.
    size_t pending() const;
    // When the oldest unconfirmed event was published.
    Clock::time_point oldestPublished() const;
    // Nothing waits: every event is confirmed (or lost).
    bool idle() const;
    bool spooling() const { return spoolMode_; }
    size_t inMemory() const { return memory_.size(); }

private:
    struct Waiting {
        Event event;
        size_t bytes;
    };
    struct Inflight {
        uint64_t tag;
        bool acked;
        Clock::time_point published;
        bool unreadable = false;  // a spool entry that is no event: nothing was published
    };
    // Appends the events to the spool, oldest first; the number kept (those
    // after a refusal are lost).
    size_t toDisk(std::vector<Event> &events);
    void spill();
    // Takes the confirmed events off the front of the line.
    void popConfirmed();
    void refreshFront();
    void lose(const Event &event, const std::string &why);

    qspool::Spool &spool_;
    DeliveryLimits limits_;
    DeliveryCounts counts_;
    std::vector<Gap> gaps_;
    std::vector<std::string> news_;
    uint64_t nextTag_ = 1;
    std::deque<Inflight> inflight_;  // oldest first: memory_'s or front_'s published entries
    // In memory: the whole line; the first inflight_.size() are published.
    std::deque<Waiting> memory_;
    size_t memoryBytes_ = 0;
    // In the spool: the line's oldest entries as read, the first `frontConfirmed_`
    // confirmed, the first `frontSent_` published; and this turn's events.
    bool spoolMode_ = false;
    std::vector<std::string> front_;
    size_t frontConfirmed_ = 0, frontSent_ = 0;
    std::vector<Event> toSpool_;
    bool spoolFull_ = false;  // said once until it takes events again
};

}  // namespace qbridge
