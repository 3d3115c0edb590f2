#include "station/station_fixture.h"

#include "core/wire.h"
#include "station/request_queue.h"

namespace qapi::test {

Record::Record(uint8_t type, uint8_t sub, int32_t station, size_t size) : bytes(size, 0) {
    bytes[4] = type;
    bytes[5] = sub;
    bytes[7] = static_cast<uint8_t>((size - 4) / 4);
    u32(8, static_cast<uint32_t>(station));
}

Record &Record::u8(size_t at, uint8_t v) {
    bytes.at(at) = v;
    return *this;
}

Record &Record::u16(size_t at, uint16_t v) {
    u8(at, static_cast<uint8_t>(v));
    return u8(at + 1, static_cast<uint8_t>(v >> 8));
}

Record &Record::u32(size_t at, uint32_t v) {
    u16(at, static_cast<uint16_t>(v));
    return u16(at + 2, static_cast<uint16_t>(v >> 16));
}

Record registrationReply(int32_t station, uint32_t flags, uint8_t state) {
    return Record(kRegistrationReplyType, state, station, 40).u32(12, kToken).u32(16, flags);
}

Record event(uint8_t type, int32_t station, uint8_t sub, uint8_t serverState, uint16_t word,
             uint32_t flags, uint16_t ref) {
    return Record(type, sub, station).u16(12, word).u8(16, serverState).u16(18, ref).u32(20, flags);
}

void StationTest::SetUp() {
    ManualClockTest::SetUp();
    ASSERT_TRUE(isolatedNetwork());
    ASSERT_EQ(QAPI_Stack_initialize(kStationPort), 0);
    window = qmsgCreateWindow();
}

void StationTest::TearDown() {
    QAPI_Stack_release();
    qmsgDestroyWindow(window);
    drainMessages();
    ManualClockTest::TearDown();
}

StationClient *StationTest::start(int32_t stationId) {
    auto *client = static_cast<StationClient *>(QAPI_Client_start(window, stationId));
    EXPECT_NE(client, nullptr) << "station " << stationId;
    return client;
}

void StationTest::feed(StationClient &client, const Record &record) {
    stationHandleRecord(client, record.bytes.data(), record.bytes.size());
}

void StationTest::registerClient(StationClient &client, uint32_t flags, uint8_t state) {
    feed(client, registrationReply(client.snapshot.stationId, flags, state));
    ASSERT_EQ(client.snapshot.regState, QAPI_REG_REGISTERED);
    drainMessages();
}

std::vector<QMessage> StationTest::notes(QapiNotifyCode code) {
    std::vector<QMessage> out;
    for (const QMessage &m : drainMessages()) {
        if (m.message == QAPI_NOTIFY_MSG && m.wParam == static_cast<uintptr_t>(code)) out.push_back(m);
    }
    return out;
}

void RegisteredStationTest::SetUp() {
    StationTest::SetUp();
    c = start(17);
    ASSERT_NE(c, nullptr);
    registerClient(*c);
    tap = std::make_unique<StationTap>();
}

void RegisteredStationTest::ack(uint8_t sequence) {
    feed(*c, Record(kAcknowledgeType, sequence, 17, 12));
}

std::vector<Datagram> RegisteredStationTest::drainQueue() {
    std::vector<Datagram> out = tap->take();
    while (c->queueHead != c->queueTail) {
        ack(static_cast<uint8_t>(((c->queueTail + 1) % kRequestSlots) | kSequenceBit));
        for (Datagram &d : tap->take()) out.push_back(std::move(d));
    }
    return out;
}

void RegisteredStationTest::fillQueue(int waiting) {
    for (int i = 0; i < waiting; ++i) ASSERT_TRUE(stationSendFeatureKey(*c, 1));
    tap->take();
}

std::vector<std::pair<int, Datagram>> RegisteredStationTest::runAndWatch(int ticks) {
    std::vector<std::pair<int, Datagram>> out;
    for (int t = 1; t <= ticks; ++t) {
        runTicks(1);
        for (Datagram &d : tap->take()) out.emplace_back(t, std::move(d));
    }
    return out;
}

std::vector<std::string> linesOf(intptr_t lineList) {
    std::vector<std::string> lines;
    for (const char *line : reinterpret_cast<const QapiLineList *>(lineList)->lines) {
        if (!line) break;
        lines.push_back(line);
    }
    return lines;
}

int32_t wordAt(const Datagram &d, size_t at) {
    EXPECT_LE(at + 4, d.size());
    return at + 4 <= d.size() ? readI32le(d.data() + at) : 0;
}

}  // namespace qapi::test
