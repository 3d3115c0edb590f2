// Where each tick's records go: into the store in one transaction while it
// takes them; into the spool, on the disk, while it does not, and while
// older records still wait there, so that the order holds.  The spool is
// written to the store, oldest first, once a try succeeds again (tries
// after 1, 2, 4 ... at most 30 s).  A database that is down, and one that
// comes back, are each told as one status line.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "cdr/backoff.h"
#include "cdr/feeds.h"
#include "cdr/store.h"
#include "spool/spool.h"

namespace qcdr {

struct Counts {
    size_t received = 0;
    size_t stored = 0;
    size_t skipped = 0;  // already stored
    size_t spooled = 0;  // went through the spool
};

class Sink {
public:
    Sink(Store &store, qspool::Spool &spool, Say say);
    // This tick's records.
    void put(std::vector<Row> &&rows, Clock::time_point now);
    // Writes what the spool holds when a try is due; at most `most` records
    // at a time.
    void retry(Clock::time_point now, size_t most = kBatch);
    // At the end: everything to the store, or else to the spool; true when
    // nothing is held only in memory.
    bool finish();
    const Counts &counts() const { return counts_; }
    bool storeDown() const { return down_; }

    static constexpr size_t kBatch = 20000;

private:
    bool tryStore(const std::vector<Row> &rows, Clock::time_point now);
    void toSpool(std::vector<Row> &&rows);
    Store &store_;
    qspool::Spool &spool_;
    Say say_;
    Counts counts_;
    bool down_ = false;
    bool spoolBroken_ = false;
    Backoff backoff_{std::chrono::seconds(30)};
    Clock::time_point nextTry_{};
    size_t drained_ = 0, drainedSkipped_ = 0;  // since the store came back
    std::vector<Row> memory_;                  // what neither the store nor the spool took
};

}  // namespace qcdr
