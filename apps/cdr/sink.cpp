#include "cdr/sink.h"

#include "cdr/spooled_row.h"

namespace qcdr {
namespace {

constexpr auto kDrainFor = std::chrono::milliseconds(100);  // one retry's transactions

}  // namespace

Sink::Sink(Store &store, qspool::Spool &spool, Say say) : store_(store), spool_(spool), say_(std::move(say)) {
    noteDamage();
    if (!spool_.empty())
        say_("spool " + spool_.path() + ": " + std::to_string(spool_.waiting()) + " records wait");
}

void Sink::startDown(const std::string &why, Clock::time_point now) {
    down_ = true;
    nextTry_ = now + backoff_.failed();
    say_("database down: " + why + "; records go to the spool " + spool_.path());
}

void Sink::noteDamage() {
    const uint64_t damaged = spool_.damagedBytes();
    if (damaged == damagedTold_) return;
    say_("spool " + spool_.path() + ": " + std::to_string(damaged - damagedTold_) +
         " damaged bytes set aside in " + spool_.path() + ".damaged; the sound entries around them are read");
    damagedTold_ = damaged;
}

bool Sink::hasRoom(uint64_t spoolBytes) { return memory_.empty() && spool_.reserve(spoolBytes); }

bool Sink::tryStore(const std::vector<Row> &rows, Clock::time_point now) {
    try {
        const WriteCounts c = store_.write(rows);
        counts_.stored += c.stored;
        counts_.skipped += c.skipped;
        backoff_.succeeded();
        return true;
    } catch (const StoreError &e) {
        nextTry_ = now + backoff_.failed();
        step_ = std::max<size_t>(1, step_ / 2);
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
        return;
    }
    if (!spoolBroken_)
        say_(spool_.error() + "; " + std::to_string(rows.size()) +
             " records held in memory until the database or the spool takes them");
    spoolBroken_ = true;
    memory_ = std::move(rows);
}

void Sink::put(std::vector<Row> &&rows, Clock::time_point now) {
    counts_.received += rows.size();
    if (!rows.empty() && spool_.empty() && memory_.empty() && (!down_ || now >= nextTry_)) {
        const bool wasDown = down_;
        if (tryStore(rows, now)) {
            if (wasDown) say_("database back");
            down_ = false;
            return;
        }
    }
    toSpool(std::move(rows));
    retry(now);
}

void Sink::retry(Clock::time_point now) {
    const auto due = [&] { return (!down_ && !readFailed_) || now >= nextTry_; };
    // What memory holds is newer than all the spool holds.
    if (!memory_.empty() && !spool_.empty()) toSpool({});
    if (!spool_.empty()) {
        if (!due()) return;
        const auto until = Clock::now() + kDrainFor;
        while (!spool_.empty() && drainStep(now) && Clock::now() < until) {}
        if (!spool_.empty()) return;
    }
    if (!memory_.empty()) {
        const bool wasDown = down_;
        if (due() && tryStore(memory_, now)) {
            if (wasDown) say_("database back");
            down_ = false;
            memory_.clear();
        } else {
            toSpool({});
        }
    } else if (down_ && due()) {  // nothing to write: is it there again?
        try {
            store_.open();
            backoff_.succeeded();
            down_ = false;
            say_("database back");
        } catch (const StoreError &) {
            nextTry_ = now + backoff_.failed();
        }
    }
}

void Sink::retryNow(Clock::time_point now) {
    if (!down_ || spool_.empty()) return;
    const auto until = Clock::now() + kDrainFor;
    while (!spool_.empty() && Clock::now() < until) {
        const size_t step = step_;
        if (!drainStep(now) && (step == 1 || readFailed_)) break;
    }
}

bool Sink::drainStep(Clock::time_point now) {
    std::vector<std::string> entries;
    try {
        entries = spool_.front(step_);
        readFailed_ = false;
    } catch (const std::exception &e) {
        if (!readFailed_) say_(e.what());
        readFailed_ = true;
        nextTry_ = now + backoff_.failed();
        return false;
    }
    noteDamage();
    std::vector<Row> rows;
    rows.reserve(entries.size());
    for (const std::string &entry : entries) {
        Row row;
        if (spoolRow(entry, row)) rows.push_back(std::move(row));
    }
    if (rows.size() < entries.size())
        say_("spool " + spool_.path() + ": " + std::to_string(entries.size() - rows.size()) +
             " entries that are no call records passed over");
    const size_t stored = counts_.stored, skipped = counts_.skipped;
    const bool wasDown = down_;
    if (!rows.empty() && !tryStore(rows, now)) return false;
    spool_.consume(entries.size());
    step_ = std::min(kLargestStep, step_ * 2);
    drained_ += counts_.stored - stored;
    drainedSkipped_ += counts_.skipped - skipped;
    if (spool_.empty()) {
        say_(std::string(wasDown ? "database back: " : "spool written: ") + std::to_string(drained_) +
             " records from the spool stored, " + std::to_string(drainedSkipped_) + " of them already there");
        down_ = false;
        drained_ = drainedSkipped_ = 0;
    }
    return true;
}

size_t Sink::finish() {
    // As many tries as the spool needs while the store takes them.
    for (size_t waiting = spool_.waiting() + memory_.size(); waiting > 0;) {
        const auto now = Clock::now();
        nextTry_ = now;
        retry(now);
        const size_t left = spool_.waiting() + memory_.size();
        if (left >= waiting) break;
        waiting = left;
    }
    counts_.lost = memory_.size();
    return counts_.lost;
}

}  // namespace qcdr
