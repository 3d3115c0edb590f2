#include "cdr/collector.h"

#include "cdr/spooled_row.h"
#include "wall_clock/wall_clock.h"

namespace qcdr {

int64_t wallClockUs() { return qtools::wallClockUs(); }

Collector::Collector(const std::vector<qtools::Endpoint> &servers, Store &store, qspool::Spool &spool,
                     Say say)
    : say_(std::move(say)), feeds_(servers, say_), sink_(store, spool, say_) {
    size_t longest = 0;
    for (size_t i = 0; i < feeds_.count(); ++i) longest = std::max(longest, feeds_.name(i).size());
    tickBytes_ = kMostRecordsPerTick * qspool::Spool::framedBytes(spoolEntryBytes(longest));
    feeds_.startDue(Clock::now());
}

bool Collector::readyForTick() {
    bool room = sink_.hasRoom(tickBytes_);
    if (room && !reading_) {
        sink_.retryNow(Clock::now());
        room = sink_.hasRoom(tickBytes_);
    }
    if (room != reading_)
        say_(room ? "reading the feeds again"
                  : "neither the database nor the spool takes records: the collector stops reading its feeds "
                    "until one of them does");
    reading_ = room;
    return room;
}

void Collector::handle(const QMessage &m) {
    feeds_.handle(m, Clock::now(), wallClockUs(), [this](Row &&row) { tick_.push_back(std::move(row)); });
}

void Collector::endOfTick() {
    const auto now = Clock::now();
    std::vector<Row> rows;
    rows.swap(tick_);
    sink_.put(std::move(rows), now);
    feeds_.startDue(Clock::now());
}

size_t Collector::finish() {
    feeds_.stopAll();
    std::vector<Row> rows;
    rows.swap(tick_);
    sink_.put(std::move(rows), Clock::now());
    return sink_.finish();
}

}  // namespace qcdr
