// The queue descriptor of the POSIX message layer (qmsgQueueFd).
//
// A thread that asks for it gets an epoll descriptor over two of the layer's
// own: an eventfd that holds a count exactly while the thread's queue holds
// messages (written when a post makes the queue non-empty, read when taking
// the last message empties it) and a timerfd armed to the thread's earliest
// due timer (re-armed whenever that changes, which also clears an expiry).
// Both are level-triggered, so the epoll descriptor is readable exactly while
// qmsgPeekMessage has something to do, and the application never reads it.
// A thread that never asks pays one test per post and per message taken.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "msg_internal.h"

namespace qapi::plat {
namespace {

bool watch(int epoll, int fd) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

void closeFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool openSignal(ThreadQueue &q) {
    QueueSignal &s = q.signal;
    s.epoll = epoll_create1(EPOLL_CLOEXEC);
    s.event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (s.epoll < 0 || s.event < 0 || s.timer < 0 || !watch(s.epoll, s.event) || !watch(s.epoll, s.timer)) {
        closeSignal(q);
        return false;
    }
    s.armedDue = UINT64_MAX;
    if (q.count > 0) raiseMessageSignal(q);
    rearmTimerSignal(q);
    return true;
}

void closeSignal(ThreadQueue &q) {
    closeFd(q.signal.epoll);
    closeFd(q.signal.event);
    closeFd(q.signal.timer);
}

void raiseMessageSignal(ThreadQueue &q) {
    const uint64_t one = 1;
    (void)!write(q.signal.event, &one, sizeof one);
}

void lowerMessageSignal(ThreadQueue &q) {
    uint64_t count;
    (void)!read(q.signal.event, &count, sizeof count);
}

void rearmTimerSignal(ThreadQueue &q) {
    QueueSignal &s = q.signal;
    if (s.timer < 0) return;
    const uint64_t due = manualClock() ? UINT64_MAX : nextTimerDue(q.id);
    if (due == s.armedDue) return;
    itimerspec when{};  // all zero disarms
    if (due != UINT64_MAX) {
        // A due time already past (or 0) still has to expire: never arm to 0.
        when.it_value.tv_sec = static_cast<time_t>(due / 1000);
        when.it_value.tv_nsec = static_cast<long>(due % 1000) * 1000000L;
        if (due == 0) when.it_value.tv_nsec = 1;
    }
    timerfd_settime(s.timer, TFD_TIMER_ABSTIME, &when, nullptr);
    s.armedDue = due;
}

}  // namespace qapi::plat

using namespace qapi::plat;

extern "C" {

int qmsgQueueFd(void) {
    ThreadQueue &q = currentQueue();
    std::lock_guard<std::mutex> lock(msgMutex());
    if (q.signal.epoll < 0 && !openSignal(q)) return -1;
    return q.signal.epoll;
}

}  // extern "C"
