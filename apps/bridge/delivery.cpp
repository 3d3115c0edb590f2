#include "bridge/delivery.h"

#include <algorithm>
#include <utility>

namespace qbridge {
namespace {

constexpr size_t kAppendBatch = 512;  // events a spool append takes at most
constexpr size_t kMostGaps = 16;      // the newest gaps are remembered

size_t bytesOf(const Event &e) {
    return e.routingKey.size() + e.type.size() + e.messageId.size() + e.body.size() + sizeof(Event);
}

}  // namespace

Delivery::Delivery(qspool::Spool &spool, DeliveryLimits limits) : spool_(spool), limits_(limits) {
    if (!spool_.empty()) {
        spoolMode_ = true;
        refreshFront();
    }
}

void Delivery::add(Event &&event, bool connected) {
    ++counts_.made;
    const size_t bytes = bytesOf(event);
    if (!spoolMode_ &&
        (!connected || memory_.size() >= limits_.memoryEvents || memoryBytes_ + bytes > limits_.memoryBytes))
        spill();
    if (spoolMode_) {
        toSpool_.push_back(std::move(event));
        return;
    }
    memory_.push_back({std::move(event), bytes});
    memoryBytes_ += bytes;
}

size_t Delivery::pump(Publisher &publisher) {
    size_t published = 0;
    if (!publisher.ready()) return 0;
    size_t room = publisher.room();
    Event decoded;
    while (inflight_.size() < limits_.window) {
        const Event *next = nullptr;
        if (!spoolMode_) {
            if (inflight_.size() >= memory_.size()) break;
            next = &memory_[inflight_.size()].event;
        } else {
            if (frontSent_ == front_.size() && spool_.waiting() > front_.size()) refreshFront();
            if (!spoolMode_ || frontSent_ == front_.size()) break;
            if (!decodeEvent(front_[frontSent_], decoded)) {
                // Bytes that passed the spool's checks but are no event:
                // nothing to send; counted, and consumed in their turn.
                ++counts_.lost;
                news_.push_back("an entry of the spool is no event: lost");
                ++frontSent_;
                inflight_.push_back({nextTag_ - 1, true, Clock::now(), true});
                continue;
            }
            next = &decoded;
        }
        const size_t cost = publisher.cost(*next);
        if (cost > room) break;
        if (!publisher.publish(*next)) break;  // the connection failed: connectionLost() follows
        room -= cost;
        inflight_.push_back({nextTag_++, false, Clock::now()});
        if (spoolMode_) ++frontSent_;
        ++published;
    }
    popConfirmed();  // an unreadable entry at the front is done at once
    return published;
}

void Delivery::confirmed(uint64_t tag, bool multiple) {
    if (multiple) {
        for (Inflight &f : inflight_) {
            if (f.tag > tag) break;
            f.acked = true;
        }
    } else {
        auto it = std::lower_bound(inflight_.begin(), inflight_.end(), tag,
                                   [](const Inflight &f, uint64_t t) { return f.tag < t; });
        if (it != inflight_.end() && it->tag == tag) it->acked = true;
    }
    popConfirmed();
}

void Delivery::popConfirmed() {
    while (!inflight_.empty() && inflight_.front().acked) {
        if (!inflight_.front().unreadable) ++counts_.confirmed;
        inflight_.pop_front();
        if (!spoolMode_) {
            memoryBytes_ -= memory_.front().bytes;
            memory_.pop_front();
            continue;
        }
        ++frontConfirmed_;
        // Delivered entries are consumed in batches: each consumption reads
        // the entries after them again.
        if (frontConfirmed_ == front_.size() || frontConfirmed_ >= limits_.window) refreshFront();
    }
}

void Delivery::refreshFront() {
    if (frontConfirmed_) spool_.consume(frontConfirmed_);
    frontSent_ -= frontConfirmed_;
    frontConfirmed_ = 0;
    front_ = spool_.front(2 * limits_.window + 64);
    if (front_.empty() && toSpool_.empty() && inflight_.empty()) spoolMode_ = false;
}

void Delivery::connectionLost() {
    counts_.resent += static_cast<uint64_t>(
        std::count_if(inflight_.begin(), inflight_.end(), [](const Inflight &f) { return !f.acked; }));
    inflight_.clear();
    nextTag_ = 1;
    if (!spoolMode_) {
        spill();
        return;
    }
    frontSent_ = frontConfirmed_;
    refreshFront();
}

void Delivery::spill() {
    std::vector<Event> events;
    events.reserve(memory_.size());
    for (Waiting &w : memory_) events.push_back(std::move(w.event));
    memory_.clear();
    memoryBytes_ = 0;
    spoolMode_ = true;
    // The spool was empty: the line is now its first entries, the
    // published ones still awaiting their confirmations.
    const size_t kept = toDisk(events);
    if (inflight_.size() > kept) inflight_.resize(kept);
    front_.clear();
    frontConfirmed_ = frontSent_ = 0;
    refreshFront();
    frontSent_ = std::min(inflight_.size(), front_.size());
}

size_t Delivery::toDisk(std::vector<Event> &events) {
    size_t kept = 0;
    uint64_t room = limits_.spoolBytes > spool_.bytes() ? limits_.spoolBytes - spool_.bytes() : 0;
    std::string why;
    for (size_t i = 0; i < events.size() && why.empty(); i += kAppendBatch) {
        // As many as the bound leaves room for, oldest first.
        std::vector<std::string> entries;
        for (size_t j = i; j < std::min(events.size(), i + kAppendBatch); ++j) {
            std::string entry = encodeEvent(events[j]);
            const uint64_t bytes = qspool::Spool::framedBytes(entry.size());
            if (bytes > room) {
                why = "the spool is full (" + std::to_string(limits_.spoolBytes) + " bytes)";
                break;
            }
            room -= bytes;
            entries.push_back(std::move(entry));
        }
        if (entries.empty()) break;
        if (spool_.append(entries) != qspool::Spool::Append::done) {
            why = spool_.error().empty() ? "the spool refused them" : spool_.error();
            break;
        }
        kept += entries.size();
        counts_.spooled += entries.size();
        if (spoolFull_) news_.push_back("the spool takes events again");
        spoolFull_ = false;
    }
    if (kept == events.size()) return kept;
    // Those after the first refusal are lost: what comes after a gap keeps
    // its order.
    if (why.empty()) why = "the spool is full";
    const uint64_t before = counts_.lost;
    for (size_t j = kept; j < events.size(); ++j) lose(events[j], why);
    if (!spoolFull_)
        news_.push_back("events lost: " + why + " (" + std::to_string(counts_.lost - before) + " now, " +
                        std::to_string(counts_.lost) + " in all)");
    spoolFull_ = true;
    return kept;
}

void Delivery::lose(const Event &event, const std::string &why) {
    ++counts_.lost;
    if (!gaps_.empty()) {
        Gap &last = gaps_.back();
        if (last.epoch == event.epoch && last.to + 1 == event.seq && last.why == why) {
            last.to = event.seq;
            return;
        }
    }
    gaps_.push_back({event.epoch, event.seq, event.seq, why});
    if (gaps_.size() > kMostGaps) gaps_.erase(gaps_.begin());
}

void Delivery::flush() {
    if (toSpool_.empty()) return;
    toDisk(toSpool_);
    toSpool_.clear();
}

void Delivery::shutdown() {
    flush();
    inflight_.clear();
    if (!spoolMode_) {
        spill();
    } else if (frontConfirmed_) {
        spool_.consume(frontConfirmed_);
        front_.clear();
        frontConfirmed_ = frontSent_ = 0;
    }
}

std::vector<std::string> Delivery::takeNews() { return std::exchange(news_, {}); }

uint64_t Delivery::firstUnsafe(int64_t epoch) const {
    if (!memory_.empty()) return memory_.front().event.epoch == epoch ? memory_.front().event.seq : 0;
    if (!toSpool_.empty()) return toSpool_.front().epoch == epoch ? toSpool_.front().seq : 0;
    return 0;
}

size_t Delivery::pending() const {
    if (!spoolMode_) return memory_.size() - inflight_.size();
    const size_t later = spool_.waiting() > front_.size() ? spool_.waiting() - front_.size() : 0;
    return front_.size() - frontSent_ + later + toSpool_.size();
}

Clock::time_point Delivery::oldestPublished() const {
    return inflight_.empty() ? Clock::time_point::max() : inflight_.front().published;
}

bool Delivery::idle() const {
    return memory_.empty() && toSpool_.empty() && inflight_.empty() && spool_.empty();
}

}  // namespace qbridge
