#include "cdr/collector.h"

namespace qcdr {

int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Collector::Collector(const std::vector<qtools::Endpoint> &servers, Store &store, qspool::Spool &spool, Say say)
    : say_(std::move(say)), feeds_(servers, say_), sink_(store, spool, say_) {
    feeds_.startDue(Clock::now());
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

bool Collector::finish() {
    feeds_.stopAll();
    std::vector<Row> rows;
    rows.swap(tick_);
    sink_.put(std::move(rows), Clock::now());
    return sink_.finish();
}

}  // namespace qcdr
