// Thread timers and the two clocks of the POSIX message layer.
//
// A timer belongs to the thread that set it and fires only there: on the real
// clock inside that thread's qmsgGetMessage / qmsgPeekMessage, on the manual
// clock inside its qmsgAdvanceClock.  A late timer fires once and then keeps
// its period from the moment it fired (like a coalesced WM_TIMER), so a slow
// message loop never receives a burst of ticks.
#include <time.h>

#include <climits>
#include <vector>

#include "msg_internal.h"

namespace qapi::plat {
namespace {

struct Timer {
    uint32_t id;
    QThreadId thread;
    uint32_t period;
    uint64_t due;
    void (*callback)(void);
};

struct TimerState {
    std::vector<Timer> timers;
    uint32_t nextId = 1;
    bool manual = false;
    uint64_t manualNow = 0;
};

TimerState &state() {
    static TimerState s;
    return s;
}

// The thread's timer with the earliest due time at or before `limit`; ties go
// to the timer set first.
Timer *earliestDue(QThreadId thread, uint64_t limit) {
    Timer *best = nullptr;
    for (Timer &t : state().timers) {
        if (t.thread == thread && t.due <= limit && (!best || t.due < best->due)) best = &t;
    }
    return best;
}

}  // namespace

uint64_t steadyMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

bool manualClock() { return state().manual; }

uint64_t clockNow() { return state().manual ? state().manualNow : steadyMs(); }

uint64_t nextTimerDue(QThreadId thread) {
    uint64_t due = UINT64_MAX;
    for (const Timer &t : state().timers) {
        if (t.thread == thread && t.due < due) due = t.due;
    }
    return due;
}

void (*takeDueTimer(QThreadId thread, uint64_t now))(void) {
    Timer *t = earliestDue(thread, now);
    if (!t) return nullptr;
    t->due += t->period;
    if (t->due <= now) t->due = now + t->period;
    return t->callback;
}

void dropThreadTimers(QThreadId thread) {
    auto &v = state().timers;
    for (auto it = v.begin(); it != v.end();) {
        it = it->thread == thread ? v.erase(it) : std::next(it);
    }
}

bool &inTimerCallback() {
    thread_local bool inside = false;
    return inside;
}

}  // namespace qapi::plat

using namespace qapi::plat;

extern "C" {

uint32_t qmsgSetTimer(uint32_t periodMs, void (*callback)(void)) {
    const QThreadId owner = currentQueue().id;
    std::lock_guard<std::mutex> lock(msgMutex());
    TimerState &s = state();
    uint32_t id = s.nextId++;
    if (id == 0) id = s.nextId++;
    if (periodMs == 0) periodMs = 1;
    s.timers.push_back(Timer{id, owner, periodMs, clockNow() + periodMs, callback});
    timersChanged(owner);
    return id;
}

void qmsgKillTimer(uint32_t timerId) {
    std::lock_guard<std::mutex> lock(msgMutex());
    auto &v = state().timers;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it->id == timerId) {
            const QThreadId owner = it->thread;
            v.erase(it);
            timersChanged(owner);
            return;
        }
    }
}

void qmsgUseManualClock(int on) {
    std::lock_guard<std::mutex> lock(msgMutex());
    TimerState &s = state();
    if (s.manual == (on != 0)) return;
    s.manual = on != 0;
    // Every timer starts a fresh period on the clock now in use.
    const uint64_t now = clockNow();
    for (Timer &t : s.timers) t.due = now + t.period;
    allTimersChanged();
}

void qmsgAdvanceClock(uint32_t ms) {
    const QThreadId self = currentQueue().id;
    std::unique_lock<std::mutex> lock(msgMutex());
    TimerState &s = state();
    // Time stands still inside a callback: advancing it there would run
    // timers during another callback.
    if (!s.manual || inTimerCallback()) return;
    const uint64_t target = s.manualNow + ms;
    while (Timer *t = earliestDue(self, target)) {
        s.manualNow = t->due;
        t->due += t->period;
        void (*callback)(void) = t->callback;
        lock.unlock();
        inTimerCallback() = true;
        callback();
        inTimerCallback() = false;
        lock.lock();
    }
    s.manualNow = target;
}

int qmsgNextTimeout(void) {
    const QThreadId self = currentQueue().id;
    std::lock_guard<std::mutex> lock(msgMutex());
    const uint64_t due = nextTimerDue(self);
    if (due == UINT64_MAX) return -1;
    const uint64_t now = clockNow();
    if (due <= now) return 0;
    return due - now > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(due - now);
}

}  // extern "C"
