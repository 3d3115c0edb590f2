#include "station/station_fixture.h"

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
    handleStationRecord(client, record.bytes.data(), record.bytes.size());
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

}  // namespace qapi::test
