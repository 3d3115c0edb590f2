// Start, restart and release of the library, the tick timer, and the reading
// of the station endpoint inside the tick.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/stack.h"
#include "qapi.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using test::runTicks;

class Stack : public test::ManualClockTest {
protected:
    void TearDown() override {
        QAPI_Stack_release();
        test::ManualClockTest::TearDown();
    }
};

TEST_F(Stack, ReleaseBeforeInitialiseChangesNothing) {
    const plat::TimerId timer = stack().tickTimer;  // 0, or the one an earlier test left
    QAPI_Stack_release();
    EXPECT_FALSE(stack().initialised);
    EXPECT_FALSE(stationEndpoint().open);
    EXPECT_EQ(stack().tickTimer, timer);
}

TEST_F(Stack, InitialiseStartsTheTickAtOneThousandAndTicksEveryHundredMs) {
    ASSERT_EQ(QAPI_Stack_initialize(4000), 0);
    EXPECT_TRUE(stack().initialised);
    EXPECT_EQ(stationEndpoint().port, 4000);
    EXPECT_EQ(stackTick(), 1000u);
    qmsgAdvanceClock(99);
    EXPECT_EQ(stackTick(), 1000u);
    qmsgAdvanceClock(1);
    EXPECT_EQ(stackTick(), 1001u);
    runTicks(9);
    EXPECT_EQ(stackTick(), 1010u);
}

TEST_F(Stack, InitialisingTwiceKeepsOneTimerAndTheCountAndTakesTheNewPort) {
    ASSERT_EQ(QAPI_Stack_initialize(4000), 0);
    runTicks(5);
    ASSERT_TRUE(stationOpenEndpoint());
    ASSERT_EQ(QAPI_Stack_initialize(0x12345), 0);  // only the low 16 bits count
    EXPECT_FALSE(stationEndpoint().open);
    EXPECT_EQ(stationEndpoint().endpoint.open, 0);
    EXPECT_EQ(stationEndpoint().port, 0x2345);
    EXPECT_EQ(stackTick(), 1005u);
    runTicks(1);
    EXPECT_EQ(stackTick(), 1006u);  // one tick, not two
}

TEST_F(Stack, ReleaseClosesTheStationEndpointAndReinitialiseDoesNotTickTwice) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(4001), 0);
    ASSERT_TRUE(stationOpenEndpoint());
    EXPECT_TRUE(stationOpenEndpoint());  // already open: nothing new
    QAPI_Stack_release();
    EXPECT_FALSE(stack().initialised);
    EXPECT_FALSE(stationEndpoint().open);
    EXPECT_EQ(stationEndpoint().endpoint.open, 0);
    runTicks(3);
    EXPECT_EQ(stackTick(), 1003u);  // released: the tick only counts
    ASSERT_EQ(QAPI_Stack_initialize(4001), 0);
    EXPECT_EQ(stackTick(), 1000u);
    runTicks(2);
    EXPECT_EQ(stackTick(), 1002u);
}

TEST(StackRealTimer, TickRunsOnTheInitialisingThreadInsideItsMessageLoop) {
    qmsgUseManualClock(0);
    std::atomic<uint32_t> seen{0};
    std::thread app([&seen] {
        ASSERT_EQ(QAPI_Stack_initialize(4002), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        QMessage m;
        while (stackTick() <= 1001 && std::chrono::steady_clock::now() < deadline) qmsgGetMessage(&m, 50);
        seen = stackTick();
        QAPI_Stack_release();
    });
    app.join();
    EXPECT_GT(seen.load(), 1001u);
}

// The tick's reading of the station endpoint, over real multicast inside the
// test's private namespace.
std::vector<size_t> gLengths;
void record(const uint8_t *, size_t n) { gLengths.push_back(n); }

// A datagram too long for the buffer is dropped and the reading goes on: a
// flood of them must not hold back the records behind them.
TEST_F(Stack, StationPumpReadsEveryDatagramAndDropsOversizeOnes) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(4003), 0);
    ASSERT_TRUE(stationOpenEndpoint());
    const uint32_t local = stationEndpoint().endpoint.localAddress;
    ASSERT_NE(local, 0u);
    test::GroupSender sender(4003);
    sender.send(test::stationRecord({.destination = local, .type = kCallEventType, .body = {1, 2, 3, 4}}));
    sender.send(std::vector<uint8_t>(1025, 0x11));  // too long: lost
    sender.send(std::vector<uint8_t>(4000, 0x11));
    sender.send(test::stationRecord({.destination = kBroadcast,
                                     .type = kCallEntryType,
                                     .body = std::vector<uint8_t>(1016)}));  // exactly 1024
    const StationRecordSink sink{record, record, record};
    gLengths.clear();
    StationEndpoint &station = stationEndpoint();
    stationPumpDatagrams(station.endpoint, station.buffer, kStationBufferSize, sink);
    EXPECT_EQ(gLengths, (std::vector<size_t>{12, 1024}));
}

}  // namespace
}  // namespace qapi
