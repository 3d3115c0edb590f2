#include "bridge/routing.h"

#include <algorithm>

namespace qbridge {
namespace {

constexpr size_t kRemembered = 128;  // open (at most 32 per link) and recently closed

}  // namespace

const Routing::Question *Routing::find(uint32_t handle) const {
    // The newest first: the library gives a handle again once its slot is free.
    for (auto it = questions_.rbegin(); it != questions_.rend(); ++it)
        if (it->handle == handle) return &*it;
    return nullptr;
}

void Routing::asked(uint32_t handle, Clock::time_point now) {
    std::erase_if(questions_, [handle](const Question &q) { return q.handle == handle; });
    questions_.push_back({handle, now + deadline_, false, {}});
    while (questions_.size() > kRemembered) {
        const auto closed =
            std::find_if(questions_.begin(), questions_.end(), [](const Question &q) { return q.closed; });
        questions_.erase(closed != questions_.end() ? closed : questions_.begin());
    }
}

Routing::Status Routing::status(uint32_t handle) const {
    const Question *q = find(handle);
    return !q ? Status::unknown : q->closed ? Status::closed : Status::open;
}

std::string Routing::closedBy(uint32_t handle) const {
    const Question *q = find(handle);
    return q ? q->by : "";
}

void Routing::close(uint32_t handle, const std::string &by) {
    for (auto it = questions_.rbegin(); it != questions_.rend(); ++it) {
        if (it->handle == handle && !it->closed) {
            it->closed = true;
            it->by = by;
            return;
        }
    }
}

std::vector<uint32_t> Routing::due(Clock::time_point now) const {
    std::vector<uint32_t> out;
    for (const Question &q : questions_)
        if (!q.closed && now >= q.deadline) out.push_back(q.handle);
    return out;
}

Routing::Clock::time_point Routing::nextDeadline() const {
    Clock::time_point next = Clock::time_point::max();
    for (const Question &q : questions_)
        if (!q.closed) next = std::min(next, q.deadline);
    return next;
}

std::vector<uint32_t> Routing::open() const {
    std::vector<uint32_t> out;
    for (const Question &q : questions_)
        if (!q.closed) out.push_back(q.handle);
    return out;
}

}  // namespace qbridge
