// Shared pieces of the station client suites: a started library with a
// window for the notifications, builders of the records the server sends
// (field by field, by name), and direct feeding of records to a client.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qapi.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/protocol.h"
#include "support/station_tap.h"
#include "support/test_support.h"

namespace qapi::test {

inline constexpr uint16_t kStationPort = 5001;
inline constexpr uint32_t kToken = 0x5150AB01;
inline constexpr int32_t kStation = 17;  // the station most tests drive

// A station record for one station, `size` bytes (a whole number of words),
// destination 0 until `to` names a host; the setters write body fields.
struct Record {
    struct Header {
        uint8_t type = 0;
        uint8_t sub = 0;
        int32_t station = kStation;
        size_t size = RecordHeader::kStationRecordSize;
    };
    explicit Record(const Header &header);
    Record &u8(size_t at, uint8_t v);
    Record &u16(size_t at, uint16_t v);
    Record &u32(size_t at, uint32_t v);
    Record &to(uint32_t host) { return u32(RecordHeader::kDestination, host); }
    // Keeps the first `n` bytes: a record cut short.
    Record &cut(size_t n);

    std::vector<uint8_t> bytes;
};

struct Registration {
    int32_t station = kStation;
    uint8_t state = kStateIdle;
    uint32_t token = kToken;
    uint32_t flags = kFlagCallAllowed;
};
Record registrationReply(const Registration &r = {});

// A call event, or a station event with type kStationEventType.
struct Event {
    uint8_t type = kCallEventType;
    uint8_t sub = 0;
    int32_t station = kStation;
    uint16_t word = 0;
    uint8_t serverState = 0;
    uint16_t ref = 1;
    uint32_t flags = 0;
};
Record event(const Event &e);

// A status reply, or a flags update with type kFlagsUpdateType.
struct Flags {
    uint8_t type = kStatusReplyType;
    uint8_t state = kStateIdle;
    int32_t station = kStation;
    uint32_t flags = 0;
};
Record flagsRecord(const Flags &f);

// One call of the station's call list; without identifiers the record is
// the short one.
struct CallReport {
    uint8_t state = kCallFree;
    int32_t station = kStation;
    uint16_t number = 0;
    bool withIds = true;
    uint32_t firstId = kNoCallId;
    uint32_t secondId = kNoCallId;
};
Record callEntry(const CallReport &c);

Record acknowledge(uint8_t sequence, int32_t station = kStation);

class StationTest : public ManualClockTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a client notifying `window`; fails the test when refused.
    StationClient *start(int32_t stationId);
    void feed(StationClient &client, const Record &record);
    // Feeds `reply`, addressed to the client's station, and drops what it posted.
    void registerClient(StationClient &client, Registration reply = {});
    // The waiting notifications with `code`, oldest first; others are dropped.
    std::vector<QMessage> notes(QapiNotifyCode code);
    static const QapiStatusSnapshot &snapshotOf(const QMessage &m) {
        return *reinterpret_cast<const QapiStatusSnapshot *>(m.lParam);
    }

    QWindow window = 0;
};

// A registered client of kStation (calls allowed, idle) and a tap on what
// the library sends.
class RegisteredStationTest : public StationTest {
protected:
    void SetUp() override;

    // Feeds the acknowledgement of `sequence` for kStation.
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

// Fields of a request the library sent.
uint8_t typeOf(const Datagram &request);
uint8_t sequenceOf(const Datagram &request);
uint16_t codeOf(const Datagram &request);
uint32_t wordOf(const Datagram &request);                    // the station, or the registration token
int32_t payloadWord(const Datagram &request, size_t index);  // the index-th i32 of the payload

}  // namespace qapi::test
