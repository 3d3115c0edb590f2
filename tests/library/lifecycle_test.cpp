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

TEST_F(Stack, ReleaseClosesTheStationEndpointAndStopsTheTimerUntilTheNextInitialise) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(4001), 0);
    ASSERT_TRUE(stationOpenEndpoint());
    EXPECT_TRUE(stationOpenEndpoint());  // already open: nothing new
    QAPI_Stack_release();
    EXPECT_FALSE(stack().initialised);
    EXPECT_FALSE(stationEndpoint().open);
    EXPECT_EQ(stationEndpoint().endpoint.open, 0);
    EXPECT_EQ(stack().tickTimer, 0u);
    runTicks(3);
    EXPECT_EQ(stackTick(), 1000u);  // released: no tick runs
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

// A datagram too long for its buffer is dropped and the reading goes on: a
// flood of them must not hold back the records behind them; nor does an
// empty datagram.  More datagrams than one batch holds are read in the same
// tick.
TEST_F(Stack, StationPumpReadsEveryDatagramAndDropsOversizeOnes) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(4003), 0);
    ASSERT_TRUE(stationOpenEndpoint());
    const uint32_t local = stationEndpoint().endpoint.localAddress;
    ASSERT_NE(local, 0u);
    test::GroupSender sender(4003);
    sender.send(test::stationRecord({.destination = local, .type = kCallEventType, .body = {1, 2, 3, 4}}));
    sender.send({});
    sender.send(std::vector<uint8_t>(1025, 0x11));  // too long: lost
    sender.send(std::vector<uint8_t>(4000, 0x11));
    sender.send(test::stationRecord({.destination = kBroadcast,
                                     .type = kCallEntryType,
                                     .body = std::vector<uint8_t>(1016)}));  // exactly 1024
    std::vector<size_t> expected = {12, 1024};
    for (uint8_t i = 0; i < kStationBatch + 8; ++i) {
        sender.send(test::stationRecord({.destination = local, .type = kCallEventType, .body = {i}}));
        expected.push_back(12);
    }
    const StationRecordSink sink{record, record, record};
    gLengths.clear();
    stationPumpDatagrams(stationEndpoint(), stackTick(), sink);
    EXPECT_EQ(gLengths, expected);
}

// This host's address is looked up again on the first datagram after the
// endpoint opens, then at most once every 100 ticks, each time before the
// datagram that found it due is handed on; in between, records are matched
// against the address found last.
TEST_F(Stack, StationPumpLooksUpTheHostAddressOnTheFirstDatagramThenAtMostEveryHundredTicks) {
    ASSERT_TRUE(test::isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(4004), 0);
    ASSERT_TRUE(stationOpenEndpoint());
    StationEndpoint &station = stationEndpoint();
    const uint32_t host = station.endpoint.localAddress;
    constexpr uint32_t kStale = 0x0A0B0C0D;
    test::GroupSender sender(4004);
    // One datagram with a record for each destination, 12, 16 ... bytes long,
    // read at `tick`: the lengths of the records handed on.
    auto pumpAt = [&](uint32_t tick, std::vector<uint32_t> destinations) {
        std::vector<uint8_t> datagram;
        for (size_t i = 0; i < destinations.size(); ++i) {
            const auto r = test::stationRecord({.destination = destinations[i],
                                                .type = kCallEventType,
                                                .body = std::vector<uint8_t>(4 * i + 4)});
            datagram.insert(datagram.end(), r.begin(), r.end());
        }
        sender.send(datagram);
        gLengths.clear();
        stationPumpDatagrams(station, tick, StationRecordSink{record, nullptr, nullptr});
        return gLengths;
    };
    using Lengths = std::vector<size_t>;
    station.endpoint.localAddress = kStale;
    EXPECT_EQ(pumpAt(2000, {host}), Lengths{12});
    EXPECT_EQ(station.endpoint.localAddress, host);
    station.endpoint.localAddress = kStale;
    EXPECT_EQ(pumpAt(2099, {host, kStale}), Lengths{16});
    EXPECT_EQ(pumpAt(2100, {host, kStale}), Lengths{12});
    EXPECT_EQ(station.endpoint.localAddress, host);
    stationCloseEndpoint();
    ASSERT_TRUE(stationOpenEndpoint());
    station.endpoint.localAddress = kStale;
    EXPECT_EQ(pumpAt(2101, {host}), Lengths{12});
}

}  // namespace
}  // namespace qapi
