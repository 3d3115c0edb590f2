// The message layer: posting order and refusal, window ownership, timers on
// both clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qmsg.h"
#include "support/test_support.h"

namespace qapi::test {
namespace {

TEST(MessageQueue, MessagesToOneTargetArriveInPostingOrderWithTheirValues) {
    const QWindow w = qmsgCreateWindow();
    const QThreadId self = qmsgCurrentThreadId();
    ASSERT_NE(self, 0u);
    ASSERT_EQ(qmsgPostMessage(w, 7, 1, -5), 1);
    ASSERT_EQ(qmsgPostThreadMessage(self, 8, 2, 1234567), 1);
    ASSERT_EQ(qmsgPostMessage(0, 9, 3, 0), 1);  // window 0 queues on the poster's own thread
    const auto got = drainMessages();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].window, w);
    EXPECT_EQ(got[0].message, 7u);
    EXPECT_EQ(got[0].lParam, -5);
    EXPECT_EQ(got[1].window, 0u);
    EXPECT_EQ(got[1].wParam, 2u);
    EXPECT_EQ(got[1].lParam, 1234567);
    EXPECT_EQ(got[2].window, 0u);
    EXPECT_EQ(got[2].message, 9u);
    qmsgDestroyWindow(w);
}

TEST(MessageQueue, RefusesUnknownTargetsAndAFullQueue) {
    const QWindow w = qmsgCreateWindow();
    qmsgDestroyWindow(w);
    EXPECT_EQ(qmsgPostMessage(w, 1, 0, 0), 0);
    EXPECT_EQ(qmsgPostMessage(0xFFFFFFF0u, 1, 0, 0), 0);
    EXPECT_EQ(qmsgPostThreadMessage(0xFFFFFFF0u, 1, 0, 0), 0);
    EXPECT_EQ(qmsgPostThreadMessage(0, 1, 0, 0), 0);

    const QThreadId self = qmsgCurrentThreadId();
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(qmsgPostThreadMessage(self, 1, i, 0), 1);
    EXPECT_EQ(qmsgPostThreadMessage(self, 1, 10000, 0), 0);
    const auto got = drainMessages();
    ASSERT_EQ(got.size(), 10000u);
    EXPECT_EQ(got.front().wParam, 0u);
    EXPECT_EQ(got.back().wParam, 9999u);
}

TEST(MessageQueue, PostsFromAnotherThreadReachTheWindowOwnerAndWakeIt) {
    const QWindow w = qmsgCreateWindow();
    std::thread poster([w] {
        for (int i = 0; i < 100; ++i) qmsgPostMessage(w, 5, i, 0);
    });
    int received = 0;
    QMessage m;
    while (received < 100 && qmsgGetMessage(&m, 5000)) {
        EXPECT_EQ(m.wParam, static_cast<uintptr_t>(received));
        ++received;
    }
    poster.join();
    EXPECT_EQ(received, 100);
}

TEST(MessageQueue, AThreadThatEndedRefusesPosts) {
    QThreadId gone = 0;
    std::thread([&gone] { gone = qmsgCurrentThreadId(); }).join();
    ASSERT_NE(gone, 0u);
    EXPECT_NE(gone, qmsgCurrentThreadId());
    EXPECT_EQ(qmsgPostThreadMessage(gone, 1, 0, 0), 0);
}

TEST(MessageQueue, GetMessageTimesOutWhenNothingArrives) {
    QMessage m;
    EXPECT_EQ(qmsgGetMessage(&m, 0), 0);
    EXPECT_EQ(qmsgGetMessage(&m, 20), 0);
    EXPECT_EQ(qmsgPeekMessage(&m), 0);
}

std::vector<int> gFired;
void timerA() { gFired.push_back(1); }
void timerB() { gFired.push_back(2); }
uint32_t gNestedTimer;
int gNestedFired;
void nestingTimer() {
    ++gNestedFired;
    qmsgAdvanceClock(1000);  // must not run timers inside this callback
    QMessage m;
    qmsgPeekMessage(&m);
}

class ManualClock : public ManualClockTest {};

TEST_F(ManualClock, FiresDueTimersInTimeOrderOnlyWhenAdvanced) {
    gFired.clear();
    const uint32_t a = qmsgSetTimer(100, timerA);
    const uint32_t b = qmsgSetTimer(250, timerB);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    QMessage m;
    EXPECT_EQ(qmsgGetMessage(&m, 30), 0);  // real time passes, the manual clock does not
    EXPECT_TRUE(gFired.empty());
    qmsgAdvanceClock(99);
    EXPECT_TRUE(gFired.empty());
    qmsgAdvanceClock(401);  // now 500: A at 100..500, B at 250 and 500
    EXPECT_EQ(gFired, (std::vector<int>{1, 1, 2, 1, 1, 1, 2}));
    qmsgKillTimer(a);
    qmsgKillTimer(b);
    gFired.clear();
    qmsgAdvanceClock(1000);
    EXPECT_TRUE(gFired.empty());
}

TEST_F(ManualClock, TimersFireOnlyOnTheirOwnThreadAndNeverInsideACallback) {
    gFired.clear();
    std::thread other([] {
        qmsgSetTimer(100, timerA);
        qmsgAdvanceClock(0);
    });
    other.join();
    qmsgAdvanceClock(1000);
    EXPECT_TRUE(gFired.empty());  // the other thread's timer went with it

    gNestedFired = 0;
    gNestedTimer = qmsgSetTimer(100, nestingTimer);
    qmsgAdvanceClock(300);
    EXPECT_EQ(gNestedFired, 3);
    qmsgKillTimer(gNestedTimer);
}

std::atomic<int> gRealTicks{0};
void realTick() { ++gRealTicks; }

TEST(RealClock, TimerRunsInsideGetMessageOfItsThread) {
    gRealTicks = 0;
    const uint32_t id = qmsgSetTimer(10, realTick);
    QMessage m;
    for (int i = 0; i < 500 && gRealTicks < 3; ++i) qmsgGetMessage(&m, 10);
    qmsgKillTimer(id);
    EXPECT_GE(gRealTicks.load(), 3);
}

}  // namespace
}  // namespace qapi::test
