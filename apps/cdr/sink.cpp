#include "cdr/sink.h"

#include "cdr/spooled_row.h"

namespace qcdr {

Sink::Sink(Store &store, qspool::Spool &spool, Say say)
    : store_(store), spool_(spool), say_(std::move(say)) {}

bool Sink::tryStore(const std::vector<Row> &rows, Clock::time_point now) {
    try {
        const WriteCounts c = store_.write(rows);
        counts_.stored += c.stored;
        counts_.skipped += c.skipped;
        backoff_.succeeded();
        return true;
    } catch (const StoreError &e) {
        const auto wait = backoff_.failed();
        nextTry_ = now + wait;
        if (!down_)
            say_(std::string("database down: ") + e.what() + "; records go to the spool " + spool_.path());
        down_ = true;
        return false;
    }
}

void Sink::toSpool(std::vector<Row> &&rows) {
    // Records held in memory go first: they are older.
    if (!memory_.empty()) {
        rows.insert(rows.begin(), std::make_move_iterator(memory_.begin()),
                    std::make_move_iterator(memory_.end()));
        memory_.clear();
    }
    if (rows.empty()) return;
    std::vector<std::string> entries;
    entries.reserve(rows.size());
    for (const Row &row : rows) entries.push_back(spoolEntry(row));
    if (spool_.append(entries) == qspool::Spool::Append::done) {
        counts_.spooled += rows.size();
        if (spoolBroken_) say_("spool " + spool_.path() + " written again");
        spoolBroken_ = false;
    } else {
        if (!spoolBroken_) say_(spool_.error() + "; records held in memory until it takes them");
        spoolBroken_ = true;
        memory_ = std::move(rows);
    }
}

void Sink::put(std::vector<Row> &&rows, Clock::time_point now) {
    counts_.received += rows.size();
    if (!rows.empty() && spool_.empty() && memory_.empty() && (!down_ || now >= nextTry_)) {
        if (tryStore(rows, now)) {
            if (down_) say_("database back");
            down_ = false;
            return;
        }
    }
    toSpool(std::move(rows));
    retry(now);
}

void Sink::retry(Clock::time_point now, size_t most) {
    if (!memory_.empty()) toSpool({});
    if (spool_.empty()) {
        // What the spool could not take goes straight to the store.
        if (!memory_.empty() && now >= nextTry_ && tryStore(memory_, now)) memory_.clear();
        return;
    }
    if (down_ && now < nextTry_) return;
    std::vector<Row> rows;
    size_t taken = 0;  // entries, the rows and any that is none
    try {
        const std::vector<std::string> entries = spool_.front(most);
        taken = entries.size();
        for (const std::string &entry : entries) {
            Row row;
            if (spoolRow(entry, row)) rows.push_back(std::move(row));
        }
    } catch (const std::exception &e) {
        say_(e.what());
        nextTry_ = now + backoff_.failed();
        return;
    }
    const size_t stored = counts_.stored, skipped = counts_.skipped;
    if (!tryStore(rows, now)) return;
    spool_.consume(taken);
    drained_ += counts_.stored - stored;
    drainedSkipped_ += counts_.skipped - skipped;
    if (spool_.empty()) {
        say_(std::string(down_ ? "database back: " : "spool written: ") + std::to_string(drained_) +
             " records from the spool stored, " + std::to_string(drainedSkipped_) + " of them already there");
        down_ = false;
        drained_ = drainedSkipped_ = 0;
    }
}

bool Sink::finish() {
    // As many tries as the spool needs while the store takes them.
    const auto now = Clock::now();
    nextTry_ = now;
    while (!spool_.empty() || !memory_.empty()) {
        const size_t waiting = spool_.waiting() + memory_.size();
        retry(now);
        if (spool_.waiting() + memory_.size() >= waiting) break;
        nextTry_ = now;
    }
    return memory_.empty();
}

}  // namespace qcdr
