// The queue descriptor and the next time-out, for applications that run
// their own event loop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "qmsg.h"
#include "support/test_support.h"

namespace qapi::test {
namespace {

bool readable(int fd, int waitMs = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 1 && (p.revents & POLLIN);
}

TEST(QueueFd, ReadableExactlyWhileMessagesWait) {
    const int fd = qmsgQueueFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(qmsgQueueFd(), fd);
    EXPECT_FALSE(readable(fd));
    const QThreadId self = qmsgCurrentThreadId();
    ASSERT_EQ(qmsgPostMessage(0, 1, 0, 0), 1);
    ASSERT_EQ(qmsgPostThreadMessage(self, 2, 0, 0), 1);
    EXPECT_TRUE(readable(fd));
    QMessage m;
    ASSERT_EQ(qmsgPeekMessage(&m), 1);
    EXPECT_TRUE(readable(fd));  // one still waits
    ASSERT_EQ(qmsgGetMessage(&m, 0), 1);
    EXPECT_FALSE(readable(fd));

    std::thread([self] { qmsgPostThreadMessage(self, 3, 0, 0); }).join();
    EXPECT_TRUE(readable(fd));
    EXPECT_EQ(drainMessages().size(), 1u);
    EXPECT_FALSE(readable(fd));
}

TEST(QueueFd, EachThreadHasItsOwnStartingFromWhatAlreadyWaitsAndClosedWhenItEnds) {
    const int mine = qmsgQueueFd();
    int theirs = -1;
    bool waitingSeen = false, drainedSeen = true;
    std::thread([&] {
        qmsgPostMessage(0, 1, 0, 0);
        theirs = qmsgQueueFd();
        waitingSeen = readable(theirs);
        drainMessages();
        drainedSeen = readable(theirs);
    }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_TRUE(waitingSeen);
    EXPECT_FALSE(drainedSeen);
    EXPECT_EQ(fcntl(theirs, F_GETFD), -1);
}

TEST(QueueFd, PostFromAnotherThreadWakesAWaitingLoop) {
    const int fd = qmsgQueueFd();
    const QThreadId self = qmsgCurrentThreadId();
    std::thread poster([self] { qmsgPostThreadMessage(self, 4, 0, 0); });
    EXPECT_TRUE(readable(fd, 10000));
    poster.join();
    EXPECT_EQ(drainMessages().size(), 1u);
}

std::atomic<int> gFired{0};
void count() { ++gFired; }
void never() {}

TEST(QueueFd, RealClockTimerMakesItReadableUntilPeekFiresIt) {
    const int fd = qmsgQueueFd();
    EXPECT_EQ(qmsgNextTimeout(), -1);
    gFired = 0;
    const uint32_t slow = qmsgSetTimer(60000, never);
    EXPECT_FALSE(readable(fd));
    const uint32_t tick = qmsgSetTimer(100, count);
    const int timeout = qmsgNextTimeout();
    EXPECT_GE(timeout, 0);
    EXPECT_LE(timeout, 100);
    ASSERT_TRUE(readable(fd, 10000));
    EXPECT_EQ(gFired, 0);  // timers fire only when the loop takes
    QMessage m;
    EXPECT_EQ(qmsgPeekMessage(&m), 0);
    EXPECT_EQ(gFired, 1);
    EXPECT_FALSE(readable(fd));  // the next tick is 100 ms away
    // Killed, the tick never makes it readable again; the slow timer is far.
    qmsgKillTimer(tick);
    EXPECT_FALSE(readable(fd, 150));
    EXPECT_GT(qmsgNextTimeout(), 50000);
    qmsgKillTimer(slow);
    EXPECT_EQ(qmsgNextTimeout(), -1);
}

class QueueFdManualClock : public ManualClockTest {};

TEST_F(QueueFdManualClock, TimersNeverMakeItReadableAndTheTimeOutFollowsTheManualClock) {
    const int fd = qmsgQueueFd();
    gFired = 0;
    const uint32_t id = qmsgSetTimer(100, count);
    EXPECT_EQ(qmsgNextTimeout(), 100);
    qmsgAdvanceClock(30);
    EXPECT_EQ(qmsgNextTimeout(), 70);
    // Another thread moves the clock to 530: the timer is overdue here, but
    // only this thread's own advance fires it, once for every period passed.
    std::thread([] { qmsgAdvanceClock(500); }).join();
    EXPECT_EQ(qmsgNextTimeout(), 0);
    EXPECT_FALSE(readable(fd));
    EXPECT_EQ(gFired, 0);
    qmsgAdvanceClock(0);
    EXPECT_EQ(gFired, 5);
    EXPECT_EQ(qmsgNextTimeout(), 70);
    qmsgKillTimer(id);
    EXPECT_FALSE(readable(fd));
}

}  // namespace
}  // namespace qapi::test
