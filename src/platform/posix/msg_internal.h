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

// The descriptors behind qmsgQueueFd, made when a thread first asks for them:
// an eventfd that holds a count while the queue holds messages, a timerfd
// armed to the thread's earliest due timer (real clock only), and the epoll
// descriptor over both that the application watches.
struct QueueSignal {
    int epoll = -1;
    int event = -1;
    int timer = -1;
    uint64_t armedDue = UINT64_MAX;  // what the timerfd is armed to; UINT64_MAX = disarmed
};

struct ThreadQueue {
    QThreadId id = 0;
    std::condition_variable wake;
    std::unique_ptr<QMessage[]> ring;
    uint32_t first = 0;  // index of the oldest message
    uint32_t count = 0;
    QueueSignal signal;
};

// The one lock of the message layer.
std::mutex &msgMutex();

// The calling thread's queue, created on first use.  Never null.
ThreadQueue &currentQueue();

// The thread's timers changed: wakes it if it waits so that it re-reads them,
// and re-arms its descriptor (called with msgMutex held).
void timersChanged(QThreadId thread);
// The same for every thread: the clock in use changed.
void allTimersChanged();

// Milliseconds of the real, monotonic clock (the clock the timerfd runs on).
uint64_t steadyMs();

// Timer side, all called with msgMutex held.
bool manualClock();
// Now on the clock in use.
uint64_t clockNow();
// The earliest due time of the thread's timers, or UINT64_MAX.
uint64_t nextTimerDue(QThreadId thread);
// Takes the thread's earliest timer due at or before `now` (real clock),
// reschedules it and returns its callback; null when none is due.
void (*takeDueTimer(QThreadId thread, uint64_t now))(void);
// Drops every timer of a thread that is going away.
void dropThreadTimers(QThreadId thread);

// True while the calling thread runs a timer callback.
bool &inTimerCallback();

// The descriptor side (msg_signal.cpp), all called with msgMutex held.
// Makes the descriptors and sets them to the queue's state; false on failure.
bool openSignal(ThreadQueue &q);
void closeSignal(ThreadQueue &q);
// The queue went from empty to holding a message, or back (only for a queue
// whose descriptors exist).
void raiseMessageSignal(ThreadQueue &q);
void lowerMessageSignal(ThreadQueue &q);
// Arms the timerfd to the thread's earliest due timer on the real clock
// (disarms it on the manual clock, where only qmsgAdvanceClock fires timers);
// does nothing for a queue whose descriptors were never asked for.
void rearmTimerSignal(ThreadQueue &q);

}  // namespace qapi::plat
