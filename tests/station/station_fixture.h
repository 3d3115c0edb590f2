// Shared pieces of the station client suites: a started library with a
// window for the notifications, station record builders, and direct feeding
// of records to a client.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qapi.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "support/station_tap.h"
#include "support/test_support.h"

namespace qapi::test {

inline constexpr uint16_t kStationPort = 5001;
inline constexpr uint32_t kToken = 0x5150AB01;

// A station record of `size` bytes (a whole number of words) for `station`.
struct Record {
    std::vector<uint8_t> bytes;
    Record(uint8_t type, uint8_t sub, int32_t station, size_t size = 24);
    Record &u8(size_t at, uint8_t v);
    Record &u16(size_t at, uint16_t v);
    Record &u32(size_t at, uint32_t v);
};

Record registrationReply(int32_t station, uint32_t flags, uint8_t state = 0);
// Call (0xC0) or station (0xC1) event.
Record event(uint8_t type, int32_t station, uint8_t sub, uint8_t serverState, uint16_t word,
             uint32_t flags, uint16_t ref = 1);

class StationTest : public ManualClockTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a client notifying `window`; fails the test when refused.
    StationClient *start(int32_t stationId);
    void feed(StationClient &client, const Record &record);
    // Feeds a registration reply (token kToken) and drops what it posted.
    void registerClient(StationClient &client, uint32_t flags = 0x100, uint8_t state = 0);
    // The waiting notifications with `code`, oldest first; others are dropped.
    std::vector<QMessage> notes(QapiNotifyCode code);
    static const QapiStatusSnapshot &snapshotOf(const QMessage &m) {
        return *reinterpret_cast<const QapiStatusSnapshot *>(m.lParam);
    }

    QWindow window = 0;
};

// A registered client of station 17 (calls allowed, idle) and a tap on what
// the library sends.
class RegisteredStationTest : public StationTest {
protected:
    void SetUp() override;

    // Feeds the acknowledgement of `sequence` for station 17.
    void ack(uint8_t sequence);
    // Acknowledges request after request until the queue is idle; returns
    // everything sent meanwhile (what was sent before is taken first).
    std::vector<Datagram> drainQueue();
    // Queues feature keys until `waiting` requests wait; drops what was sent.
    void fillQueue(int waiting = 63);
    // The ticks (counted from 1) among the next `ticks` on which something
    // was sent, with what was sent.
    std::vector<std::pair<int, Datagram>> runAndWatch(int ticks);

    StationClient *c = nullptr;
    std::unique_ptr<StationTap> tap;
};

// The lines of a call or park list (QAPI_NOTIFY_CALL_LIST, _PARK_LIST).
std::vector<std::string> linesOf(intptr_t lineList);

// The i32 at `at` of a datagram.
int32_t wordAt(const Datagram &d, size_t at);

}  // namespace qapi::test
