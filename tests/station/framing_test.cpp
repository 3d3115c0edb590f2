// Station datagram framing: which records reach which handler, and that no
// handler is given bytes beyond the datagram.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/framing.h"
#include "support/test_support.h"

namespace qapi {
namespace {

constexpr uint32_t kHost = 0xC0A8010A;  // 192.168.1.10

struct Seen {
    char handler;
    size_t offset;
    size_t length;
};
std::vector<Seen> gSeen;
const uint8_t *gBase;

void forHost(const uint8_t *r, size_t n) { gSeen.push_back({'H', static_cast<size_t>(r - gBase), n}); }
void parkList(const uint8_t *r, size_t n) { gSeen.push_back({'P', static_cast<size_t>(r - gBase), n}); }
void broadcast(const uint8_t *r, size_t n) { gSeen.push_back({'B', static_cast<size_t>(r - gBase), n}); }
constexpr StationRecordSink kSink{forHost, parkList, broadcast};

std::string dispatch(const std::vector<uint8_t> &d, uint32_t local = kHost) {
    gSeen.clear();
    gBase = d.data();
    stationDispatchDatagram(d.data(), d.size(), local, kSink);
    std::string out;
    for (const Seen &s : gSeen)
        out += s.handler + std::to_string(s.offset) + ":" + std::to_string(s.length) + " ";
    return out;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(StationFraming, HostRecordThenBroadcastsGoToTheirHandlers) {
    const auto host = test::stationRecord(
        {.destination = kHost, .type = kCallEventType, .sub = 6, .body = std::vector<uint8_t>(8)});  // L = 3
    ASSERT_EQ(host.size(), 16u);
    EXPECT_EQ(host[0], 0x0A);  // destination least significant byte first
    EXPECT_EQ(host[3], 0xC0);
    EXPECT_EQ(
        dispatch(cat(host, test::stationRecord(
                               {.destination = kBroadcast, .type = kCallEntryType, .body = {1, 2, 3, 4}}))),
        "H0:16 B16:12 ");
    EXPECT_EQ(dispatch(cat(host, test::stationRecord({.destination = kBroadcast, .type = kParkListType}))),
              "H0:16 P16:8 ");
}

TEST(StationFraming, ForeignRecordsAreSkippedByTheirLength) {
    auto d = cat(test::stationRecord(
                     {.destination = 0x0A000001, .type = kCallEventType, .body = std::vector<uint8_t>(12)}),
                 test::stationRecord(
                     {.destination = kHost, .type = kStationEventType, .body = std::vector<uint8_t>(4)}));
    EXPECT_EQ(dispatch(d), "H20:12 ");
}

TEST(StationFraming, DestinationZeroEndsTheDatagramEvenWhileTheHostAddressIsZero) {
    const auto empty = test::stationRecord({.destination = kHost, .type = kCallEventType});
    auto d = cat(empty, std::vector<uint8_t>(8, 0));
    d = cat(d, empty);
    EXPECT_EQ(dispatch(d), "H0:8 ");
    EXPECT_EQ(dispatch(std::vector<uint8_t>(16, 0), 0), "");
}

TEST(StationFraming, LengthZeroAdvancesOneWordSoTheNextRecordStartsAtItsTypeWord) {
    // With L = 0 the type word of the first record is the destination of the
    // second: here both name this host.
    const uint32_t local = 0x00C0FFEE;
    const std::vector<uint8_t> d = {0xEE, 0xFF, 0xC0, 0x00,  // destination
                                    0xEE, 0xFF, 0xC0, 0x00,  // type, sub, extra, L = 0
                                    0xC1, 0x00, 0x00, 0x02,  // second record: L = 2
                                    1,    2,    3,    4};
    EXPECT_EQ(dispatch(d, local), "H0:4 H4:12 ");
}

TEST(StationFraming, RecordsRunningPastTheDatagramAreNotHandedOn) {
    auto d =
        test::stationRecord({.destination = kHost, .type = kCallEventType, .body = std::vector<uint8_t>(8)});
    d.resize(12);  // L still says 16 bytes
    EXPECT_EQ(dispatch(d), "");
    EXPECT_EQ(dispatch(std::vector<uint8_t>{0x0A, 0x01, 0xA8, 0xC0, 0xC0, 0, 0}), "");  // under 8 bytes
    auto two = cat(test::stationRecord({.destination = kHost, .type = kCallEventType}), d);
    EXPECT_EQ(dispatch(two), "H0:8 ");
}

}  // namespace
}  // namespace qapi
