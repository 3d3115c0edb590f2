// Faults on a datagram path, as a poor network adds them: a datagram may be
// lost, arrive twice, be held back for a while, or go on at once past those
// held back (reordering).  Every decision comes from a generator seeded on
// the command line, so a run can be repeated.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "sim/bytes.h"

namespace qsim {

struct FaultSettings {
    uint32_t lossPercent = 0;
    uint32_t duplicatePercent = 0;
    uint32_t reorderPercent = 0;  // share that goes at once, past those held back
    uint32_t delayMs = 0;         // every other datagram is held this long
    uint32_t jitterMs = 0;        // and up to this much longer, at random
    bool any() const { return lossPercent || duplicatePercent || reorderPercent || delayMs || jitterMs; }
    std::string text() const;  // "loss 10%, duplicate 5%, ..."
};

// One direction of a path.  What passes is handed to `deliver`, at once or
// when its time has come (release()).
class FaultyPath {
public:
    using Clock = std::chrono::steady_clock;
    struct Datagram {
        Bytes bytes;
        uint32_t address = 0;  // the sender's or the receiver's, as the path needs
    };
    using Deliver = std::function<void(const Datagram &)>;

    // `name` heads the log lines ("in", "out").
    FaultyPath(std::string name, Deliver deliver, uint32_t seed);
    void configure(const FaultSettings &settings) { settings_ = settings; }
    const FaultSettings &settings() const { return settings_; }

    // Passes the datagram on, or not, as the settings say.  Losses and
    // duplicates are logged with `what`, the datagram's name.
    void pass(Datagram datagram, const std::string &what);
    // Delivers every held datagram whose time has come.
    void release();
    // Milliseconds until the next held datagram is due; -1 when none is held.
    int msUntilDue() const;
    // "in: 120 datagrams, 12 lost, 6 duplicated, 10 reordered, 98 delayed".
    std::string summary() const;

private:
    bool chance(uint32_t percent);

    std::string name_;
    Deliver deliver_;
    std::mt19937 random_;
    FaultSettings settings_;
    std::multimap<Clock::time_point, Datagram> held_;  // equal times keep their order
    uint64_t datagrams_ = 0, lost_ = 0, duplicated_ = 0, reordered_ = 0, delayed_ = 0;
};

}  // namespace qsim
