// The collector: the feeds' messages taken as they come, and at the end of
// each tick its records committed (or spooled) at once.
#pragma once

#include <string>
#include <vector>

#include "cdr/feeds.h"
#include "cdr/sink.h"

namespace qcdr {

class Collector {
public:
    Collector(const std::vector<qtools::Endpoint> &servers, Store &store, qspool::Spool &spool, Say say);
    // Takes one message of the thread's queue.
    void handle(const QMessage &m);
    // The tick's messages are all taken: commit them, retry what waits, start
    // the feeds that are due.
    void endOfTick();
    // Commits what is left and stops the feeds; true when nothing is lost.
    bool finish();
    const Counts &counts() const { return sink_.counts(); }
    const Feeds &feeds() const { return feeds_; }

private:
    Say say_;
    Feeds feeds_;
    Sink sink_;
    std::vector<Row> tick_;
};

// Microseconds since 1970, UTC.
int64_t wallClockUs();

}  // namespace qcdr
