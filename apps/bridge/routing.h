// The routing questions the bridge has published: each waits for its first
// answer until its deadline, then the bridge answers it (or lets it go).
// Bounded: the library holds at most 32 open questions a link; the newest
// closed ones are remembered so that a late answer is told why it is refused.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qbridge {

class Routing {
public:
    using Clock = std::chrono::steady_clock;
    enum class Status { open, closed, unknown };

    explicit Routing(uint32_t deadlineMs) : deadline_(deadlineMs) {}

    void asked(uint32_t handle, Clock::time_point now);
    Status status(uint32_t handle) const;
    // Who closed it ("consumer", "default", "nobody").
    std::string closedBy(uint32_t handle) const;
    void close(uint32_t handle, const std::string &by);
    // The open questions whose deadline has passed (they stay open until closed).
    std::vector<uint32_t> due(Clock::time_point now) const;
    Clock::time_point nextDeadline() const;
    std::vector<uint32_t> open() const;
    // The link was started again: its questions are gone.
    void clear() { questions_.clear(); }

private:
    struct Question {
        uint32_t handle;
        Clock::time_point deadline;
        bool closed;
        std::string by;
    };
    const Question *find(uint32_t handle) const;
    std::chrono::milliseconds deadline_;
    std::deque<Question> questions_;
};

}  // namespace qbridge
