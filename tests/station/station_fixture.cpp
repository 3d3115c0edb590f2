#include "station/station_fixture.h"

#include "core/wire.h"
#include "station/request_queue.h"

namespace qapi::test {

Record::Record(const Header &h) : bytes(h.size, 0) {
    bytes[RecordHeader::kType] = h.type;
    bytes[RecordHeader::kSub] = h.sub;
    bytes[RecordHeader::kLength] = static_cast<uint8_t>((h.size - 4) / 4);
    u32(RecordHeader::kStation, static_cast<uint32_t>(h.station));
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

Record &Record::cut(size_t n) {
    bytes.resize(n);
    return *this;
}

Record registrationReply(const Registration &r) {
    return Record({.type = kRegistrationReplyType,
                   .sub = r.state,
                   .station = r.station,
                   .size = RegistrationReply::kSize})
        .u32(RegistrationReply::kToken, r.token)
        .u32(RegistrationReply::kFlags, r.flags);
}

Record event(const Event &e) {
    return Record({.type = e.type, .sub = e.sub, .station = e.station, .size = EventRecord::kSize})
        .u16(EventRecord::kWord, e.word)
        .u8(EventRecord::kServerState, e.serverState)
        .u16(EventRecord::kRef, e.ref)
        .u32(EventRecord::kFlags, e.flags);
}

Record flagsRecord(const Flags &f) {
    return Record({.type = f.type, .sub = f.state, .station = f.station, .size = FlagsRecord::kSize})
        .u32(FlagsRecord::kFlags, f.flags);
}

Record callEntry(const CallReport &c) {
    const size_t size = c.withIds ? CallEntryRecord::kSize : CallEntryRecord::kShortSize;
    Record r({.type = kCallEntryType, .sub = c.state, .station = c.station, .size = size});
    r.u16(CallEntryRecord::kNumber, c.number);
    if (c.withIds) r.u32(CallEntryRecord::kFirstId, c.firstId).u32(CallEntryRecord::kSecondId, c.secondId);
    return r;
}

Record acknowledge(uint8_t sequence, int32_t station) {
    return Record({.type = kAcknowledgeType, .sub = sequence, .station = station});
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

void StationTest::registerClient(StationClient &client, Registration reply) {
    reply.station = client.snapshot.stationId;
    feed(client, registrationReply(reply));
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
    c = start(kStation);
    ASSERT_NE(c, nullptr);
    registerClient(*c);
    tap = std::make_unique<StationTap>();
}

void RegisteredStationTest::ack(uint8_t sequence) { feed(*c, acknowledge(sequence)); }

std::vector<Datagram> RegisteredStationTest::drainQueue() {
    std::vector<Datagram> out = tap->take();
    while (c->queueHead != c->queueTail) {
        ack(static_cast<uint8_t>(((c->queueTail + 1) % kRequestSlots) | kSequenceBit));
        for (Datagram &d : tap->take()) out.push_back(std::move(d));
    }
    return out;
}

void RegisteredStationTest::fillQueue(int waiting) {
    for (int i = 0; i < waiting; ++i) ASSERT_TRUE(stationSendFeatureKey(*c, kClearKey));
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

namespace {

uint8_t byteAt(const Datagram &d, size_t at) {
    EXPECT_LT(at, d.size());
    return at < d.size() ? d[at] : 0;
}

}  // namespace

uint8_t typeOf(const Datagram &request) { return byteAt(request, RequestHeader::kType); }
uint8_t sequenceOf(const Datagram &request) { return byteAt(request, RequestHeader::kSequence); }

uint16_t codeOf(const Datagram &request) {
    return static_cast<uint16_t>(byteAt(request, RequestHeader::kCode) |
                                 byteAt(request, RequestHeader::kCode + 1) << 8);
}

uint32_t wordOf(const Datagram &request) {
    return static_cast<uint32_t>(wordAt(request, RequestHeader::kWord));
}

int32_t payloadWord(const Datagram &request, size_t index) {
    return wordAt(request, RequestHeader::kPayload + sizeof(int32_t) * index);
}

}  // namespace qapi::test
