// Where each tick's records go: into the store in one transaction while it
// takes them; into the spool, on the disk, while it does not, and while
// older records still wait there, so that the order holds.  The spool is
// written to the store, oldest first, once a try succeeds again (tries
// after 1, 2, 4 ... at most 30 s), in transactions that start small, grow
// while they succeed and shrink when one fails: a store that can take only
// a little (a disk that got some space back) still takes everything.  A
// database that is down, one that comes back, and damaged bytes found in
// the spool are each told as one status line.
#pragma once

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
    size_t lost = 0;     // at the end: neither stored nor spooled
};

class Sink {
public:
    Sink(Store &store, qspool::Spool &spool, Say say);
    // The store could not be opened at the start (`why`): records go to the
    // spool until a try succeeds.
    void startDown(const std::string &why, Clock::time_point now);
    // Whether records that take `spoolBytes` in the spool have somewhere to
    // go whatever the store does: nothing is held in memory, and that room
    // is held in the spool.
    bool hasRoom(uint64_t spoolBytes);
    // This tick's records.
    void put(std::vector<Row> &&rows, Clock::time_point now);
    // Writes what waits when a try is due, for at most about 100 ms.
    void retry(Clock::time_point now);
    // The spool has room again, which may be space a full disk got back:
    // the store is tried at once, in ever smaller transactions, before new
    // records take that space.
    void retryNow(Clock::time_point now);
    // At the end: everything to the store, or else to the spool; sets and
    // returns the count of records lost (held only in memory).
    size_t finish();
    const Counts &counts() const { return counts_; }
    bool storeDown() const { return down_; }
    // Records in the spool's next transaction.
    size_t step() const { return step_; }

    static constexpr size_t kFirstStep = 64;
    static constexpr size_t kLargestStep = 20000;

private:
    bool tryStore(const std::vector<Row> &rows, Clock::time_point now);
    void toSpool(std::vector<Row> &&rows);
    // One transaction of the spool's oldest records; false when none was
    // written.
    bool drainStep(Clock::time_point now);
    void noteDamage();
    Store &store_;
    qspool::Spool &spool_;
    Say say_;
    Counts counts_;
    bool down_ = false;
    bool spoolBroken_ = false;
    bool readFailed_ = false;
    Backoff backoff_{std::chrono::seconds(30)};
    Clock::time_point nextTry_{};
    size_t step_ = kFirstStep;
    size_t drained_ = 0, drainedSkipped_ = 0;  // since the store came back
    uint64_t damagedTold_ = 0;
    std::vector<Row> memory_;  // what neither the store nor the spool took: one tick's at most
};

}  // namespace qcdr
