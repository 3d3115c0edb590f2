// The collector: the library's tick run only while what it can bring has
// somewhere to go, the feeds' messages taken as they come, and at the end
// of each tick its records committed (or spooled) at once.
#pragma once

#include <string>
#include <vector>

#include "cdr/feeds.h"
#include "cdr/sink.h"

namespace qcdr {

class Collector {
public:
    Collector(const std::vector<qtools::Endpoint> &servers, Store &store, qspool::Spool &spool, Say say);
    // The store could not be opened at the start (`why`).
    void startDown(const std::string &why) { sink_.startDown(why, Clock::now()); }
    // Whether the library's next tick may run: whatever it brings has
    // somewhere to go, whatever the store does (room for it held in the
    // spool).  Says when reading stops, and when it starts again.
    bool readyForTick();
    // Takes one message of the thread's queue.
    void handle(const QMessage &m);
    // The tick's messages are all taken: commit them, retry what waits, start
    // the feeds that are due.
    void endOfTick();
    // Commits what is left and stops the feeds; the count of records lost
    // (neither stored nor spooled).
    size_t finish();
    const Counts &counts() const { return sink_.counts(); }
    const Feeds &feeds() const { return feeds_; }

    // The most call records one tick of the library posts: from one tick to
    // the next it cuts at most 256 KiB of payloads.
    static constexpr size_t kMostRecordsPerTick = 256 * 1024 / sizeof(QapiCmdrRecordPayload) + 1;

private:
    Say say_;
    Feeds feeds_;
    Sink sink_;
    uint64_t tickBytes_ = 0;  // what one tick's records take in the spool
    bool reading_ = true;
    std::vector<Row> tick_;
};

// Microseconds since 1970, UTC.
int64_t wallClockUs();

}  // namespace qcdr
