// State shared by the message queues and the timers of the POSIX message
// layer.  One mutex guards all of it; each thread queue has its own condition
// variable so that a post wakes only the thread it is meant for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "qmsg.h"

namespace qapi::plat {

inline constexpr uint32_t kQueueCapacity = 10000;

struct ThreadQueue {
    QThreadId id = 0;
    std::condition_variable wake;
    std::unique_ptr<QMessage[]> ring;
    uint32_t first = 0;  // index of the oldest message
    uint32_t count = 0;
};

// The one lock of the message layer.
std::mutex &msgMutex();

// The calling thread's queue, created on first use.  Never null.
ThreadQueue &currentQueue();

// Wakes the thread whose id is given so that it re-reads its timers
// (called with msgMutex held).
void wakeThread(QThreadId thread);

// Milliseconds of the real, monotonic clock.
uint64_t steadyMs();

// Timer side, all called with msgMutex held.
bool manualClock();
// The earliest due time of the thread's timers, or UINT64_MAX.
uint64_t nextTimerDue(QThreadId thread);
// Takes the thread's earliest timer due at or before `now` (real clock),
// reschedules it and returns its callback; null when none is due.
void (*takeDueTimer(QThreadId thread, uint64_t now))(void);
// Drops every timer of a thread that is going away.
void dropThreadTimers(QThreadId thread);

// True while the calling thread runs a timer callback.
bool &inTimerCallback();

}  // namespace qapi::plat
