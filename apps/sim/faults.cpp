#include "sim/faults.h"

#include <algorithm>

#include "sim/sockets.h"

namespace qsim {

std::string FaultSettings::text() const {
    if (!any()) return "none";
    return "loss " + std::to_string(lossPercent) + "%, duplicate " + std::to_string(duplicatePercent) +
           "%, reorder " + std::to_string(reorderPercent) + "%, delay " + std::to_string(delayMs) +
           " ms, jitter " + std::to_string(jitterMs) + " ms";
}

FaultyPath::FaultyPath(std::string name, Deliver deliver, uint32_t seed)
    : name_(std::move(name)), deliver_(std::move(deliver)), random_(seed) {}

bool FaultyPath::chance(uint32_t percent) {
    return percent > 0 && std::uniform_int_distribution<uint32_t>(0, 99)(random_) < percent;
}

void FaultyPath::pass(Datagram datagram, const std::string &what) {
    ++datagrams_;
    if (chance(settings_.lossPercent)) {
        ++lost_;
        say("fault: " + name_ + " lost: " + what);
        return;
    }
    int copies = 1;
    if (chance(settings_.duplicatePercent)) {
        ++duplicated_;
        copies = 2;
        say("fault: " + name_ + " duplicated: " + what);
    }
    const bool overtakes = chance(settings_.reorderPercent);
    uint32_t holdMs = settings_.delayMs;
    if (settings_.jitterMs > 0)
        holdMs += std::uniform_int_distribution<uint32_t>(0, settings_.jitterMs)(random_);
    if (overtakes || holdMs == 0) {
        if (overtakes && !held_.empty()) ++reordered_;
        for (int i = 0; i < copies; ++i) deliver_(datagram);
        return;
    }
    ++delayed_;
    const Clock::time_point due = Clock::now() + std::chrono::milliseconds(holdMs);
    for (int i = 0; i < copies; ++i) held_.emplace(due, datagram);
}

void FaultyPath::release() {
    const Clock::time_point now = Clock::now();
    while (!held_.empty() && held_.begin()->first <= now) {
        const Datagram datagram = std::move(held_.begin()->second);
        held_.erase(held_.begin());
        deliver_(datagram);
    }
}

int FaultyPath::msUntilDue() const {
    if (held_.empty()) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(held_.begin()->first - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, wait.count()));
}

std::string FaultyPath::summary() const {
    return name_ + ": " + std::to_string(datagrams_) + " datagrams, " + std::to_string(lost_) + " lost, " +
           std::to_string(duplicated_) + " duplicated, " + std::to_string(reordered_) + " reordered, " +
           std::to_string(delayed_) + " delayed";
}

}  // namespace qsim
