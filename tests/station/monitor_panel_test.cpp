// The busy-lamp panel: registrations batched 16 to a request ten qualifying
// ticks after the last, the status broadcasts of watched extensions, and
// answering or intruding according to that status.
#include <cstring>
#include <tuple>

#include "core/wire.h"
#include "station/framing.h"
#include "station/monitor_panel.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using test::Datagram;
using test::drainMessages;
using test::wordAt;

class MonitorPanel : public test::RegisteredStationTest {
protected:
    void watch(int32_t extension, int32_t on = 1, StationClient *client = nullptr) {
        EXPECT_EQ(QAPI_Client_bdp_register(client ? client : c, extension, on), 0) << extension;
    }
    // The status broadcast of `extension`.
    static std::vector<uint8_t> statusRecord(int32_t extension, uint8_t status) {
        std::vector<uint8_t> body(4);
        writeU32le(body.data(), static_cast<uint32_t>(extension));
        return test::stationRecord(
            {.destination = kBroadcast, .type = kExtensionStatusType, .extra = status, .body = body});
    }
    void report(int32_t extension, uint8_t status, StationClient *client = nullptr) {
        const auto r = statusRecord(extension, status);
        stationOnMonitorStatus(client ? *client : *c, r.data(), r.size());
    }
    // The extensions of a monitor-list request; checks its form.
    static std::vector<int32_t> extensionsOf(const Datagram &d) {
        EXPECT_EQ(d.size(), 76u);
        EXPECT_EQ(test::typeOf(d), kMonitorListType);
        EXPECT_EQ(test::codeOf(d), 0);
        std::vector<int32_t> out;
        for (size_t at = 12; at + 4 <= d.size(); at += 4) out.push_back(wordAt(d, at));
        return out;
    }
    // {extension, status} of every extension notification waiting.
    std::vector<std::pair<int32_t, int32_t>> statuses() {
        std::vector<std::pair<int32_t, int32_t>> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_EXTENSION)) {
            const auto *s = reinterpret_cast<const QapiExtensionStatus *>(m.lParam);
            out.emplace_back(s->extension, s->status);
        }
        return out;
    }
    static std::vector<int32_t> padded(std::vector<int32_t> extensions) {
        extensions.resize(kExtensionsPerRequest, -1);
        return extensions;
    }
};

TEST_F(MonitorPanel, TwentyExtensionsInABurstGoAsSixteenThenFourTenQualifyingTicksAfterTheLast) {
    std::vector<int32_t> first, second;
    for (int32_t e = 100; e < 120; ++e) {
        watch(e);
        (e < 116 ? first : second).push_back(e);
        EXPECT_TRUE(runAndWatch(e == 105 ? 9 : 1).empty());
    }
    // The last registration was followed by one tick so far.
    const auto sent = runAndWatch(9);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, 9);
    EXPECT_EQ(extensionsOf(sent[0].second), first);
    ack(test::sequenceOf(sent[0].second));
    const auto rest = tap->take();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(extensionsOf(rest[0]), padded(second));
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(c->monitorPending[i], 0) << i;
    ack(test::sequenceOf(rest[0]));
    EXPECT_TRUE(runAndWatch(20).empty());  // each registration goes once
}

TEST_F(MonitorPanel, WatchesMadeBeforeRegistrationGoOnceTheStationIsRegistered) {
    StationClient *other = start(18);
    ASSERT_NE(other, nullptr);
    watch(200, 1, other);
    for (const auto &[t, d] : runAndWatch(20)) EXPECT_EQ(test::typeOf(d), kRegisterRequestType) << t;
    feed(*other, test::registrationReply({.station = 18}));
    const auto sent = runAndWatch(10);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, 10);
    EXPECT_EQ(extensionsOf(sent[0].second), padded({200}));
}

TEST_F(MonitorPanel, SlotsAreTakenPerRegistrationAndAStatusGoesToTheFirstSlotOnly) {
    watch(-1);  // nothing
    EXPECT_EQ(c->monitorExtension[0], -1);
    EXPECT_EQ(c->monitorTimer, 0);
    watch(300);
    watch(301);
    watch(300);
    watch(302);
    watch(302, 0x100);  // only the low 8 bits of `on` count: unregisters
    EXPECT_EQ(c->monitorExtension[3], -1);
    EXPECT_EQ(c->monitorExtension[2], 300);
    report(300, 2);
    report(300, 2);  // the same status again is posted again
    EXPECT_EQ(statuses(), (std::vector<std::pair<int32_t, int32_t>>{{300, 2}, {300, 2}}));
    EXPECT_EQ(c->monitorStatus[0], 2);
    EXPECT_EQ(c->monitorStatus[2], 0);
    EXPECT_EQ(stationMonitorStatusOf(*c, 300), 2);
    EXPECT_EQ(stationMonitorStatusOf(*c, 301), 0);

    // Unwatched before the flush: not sent; watched twice: sent twice.
    watch(301, 0);
    const auto sent = runAndWatch(10);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(extensionsOf(sent[0].second), padded({300, 300}));

    // Unregistering frees every slot that holds it, and tells the server nothing.
    watch(300, 0);
    EXPECT_EQ(c->monitorExtension[0], -1);
    EXPECT_EQ(c->monitorExtension[2], -1);
    EXPECT_EQ(stationMonitorStatusOf(*c, 300), 0);
    report(300, 3);
    EXPECT_TRUE(statuses().empty());
    // A slot taken again starts without status and waiting.
    watch(400);
    EXPECT_EQ(c->monitorExtension[0], 400);
    EXPECT_EQ(c->monitorPending[0], 1);
    EXPECT_EQ(c->monitorStatus[0], 0);
}

TEST_F(MonitorPanel, TheFiveHundredThirteenthWatchIsRefused) {
    for (int32_t e = 0; e < 512; ++e) ASSERT_EQ(QAPI_Client_bdp_register(c, e, 1), 0);
    EXPECT_EQ(QAPI_Client_bdp_register(c, 9999, 1), 1);
    EXPECT_EQ(QAPI_Client_bdp_register(c, 9999, 0), 0);  // unwatching an unknown one is fine
    EXPECT_EQ(stationMonitorStatusOf(*c, 9999), 0);
}

TEST_F(MonitorPanel, StatusesReachTheHighestTakenSlotAndFreedSlotsAreTakenLowestFirst) {
    for (int32_t e = 0; e < 512; ++e) watch(e);
    for (int32_t e = 0; e < 511; ++e) watch(e, 0);  // only the last slot stays taken
    watch(7000);
    EXPECT_EQ(c->monitorExtension[0], 7000);
    report(511, 3);
    report(7000, 2);
    EXPECT_EQ(statuses(), (std::vector<std::pair<int32_t, int32_t>>{{511, 3}, {7000, 2}}));
    for (int32_t e = 1; e < 511; ++e) watch(8000 + e);
    EXPECT_EQ(c->monitorExtension[510], 8510);
    EXPECT_EQ(QAPI_Client_bdp_register(c, 9999, 1), 1);  // full again
}

TEST_F(MonitorPanel, StatusReportsCountOnlyForWatchedExtensionsOfARegisteredStation) {
    watch(500);
    StationClient *other = start(18);
    ASSERT_NE(other, nullptr);
    watch(500, 1, other);
    report(500, 2, other);  // still registering
    EXPECT_EQ(other->monitorStatus[0], 0);
    report(501, 2);  // not watched
    report(-1, 2);   // no extension
    auto shortRecord = statusRecord(500, 2);
    shortRecord[RecordHeader::kLength] = 1;  // 8 bytes: no room for the extension
    stationOnMonitorStatus(*c, shortRecord.data(), 8);
    auto otherType = statusRecord(500, 2);
    otherType[RecordHeader::kType] = kInfoValueType;
    stationOnMonitorStatus(*c, otherType.data(), otherType.size());
    EXPECT_TRUE(statuses().empty());
    EXPECT_EQ(c->monitorStatus[0], 0);
}

TEST_F(MonitorPanel, AnswerNeedsStatusTwoAndIntrudeStatusThreeWhileTheStationMayPickUp) {
    watch(600);
    watch(601);
    report(601, 3);
    drainMessages();
    c->snapshot.canPickup = 1;
    // Not reported yet (status 0), or not watched, or -1: refused.
    EXPECT_EQ(QAPI_Client_bdp_answer(c, 600), 1);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, 600), 1);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, 700), 1);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, -1), 1);
    report(600, 2);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, 600), 1);
    EXPECT_EQ(QAPI_Client_bdp_answer(c, 601), 1);
    EXPECT_TRUE(tap->take().empty());

    EXPECT_EQ(QAPI_Client_bdp_answer(c, 600), 0);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, 601), 0);
    const auto sent = drainQueue();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto &[d, type, extension] :
         {std::tuple{sent[0], kWatchAnswerType, 600}, std::tuple{sent[1], kWatchIntrudeType, 601}}) {
        ASSERT_EQ(d.size(), 44u);
        EXPECT_EQ(test::typeOf(d), type);
        EXPECT_EQ(test::codeOf(d), 0);
        EXPECT_EQ(test::payloadWord(d, 0), extension);
        for (size_t i = 16; i < 44; ++i) EXPECT_EQ(d[i], 0) << i;
    }

    c->snapshot.canPickup = 0;
    EXPECT_EQ(QAPI_Client_bdp_answer(c, 600), 1);
    EXPECT_EQ(QAPI_Client_bdp_intrude(c, 601), 1);
    EXPECT_TRUE(tap->take().empty());
}

TEST_F(MonitorPanel, RegistrationsTheFullQueueCannotTakeStayWaitingAndGoWhenItHasRoom) {
    fillQueue(62);  // room for one request
    for (int32_t e = 800; e < 820; ++e) watch(e);
    runAndWatch(10);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(c->monitorPending[i], 0) << i;
    for (size_t i = 16; i < 20; ++i) EXPECT_EQ(c->monitorPending[i], 1) << i;
    EXPECT_EQ(c->monitorTimer, 1);  // tried again on every qualifying tick
    runAndWatch(3);
    EXPECT_EQ(c->monitorPending[19], 1);
    EXPECT_EQ(c->monitorTimer, 1);

    ack(0x81);
    tap->take();
    runAndWatch(1);
    EXPECT_EQ(c->monitorPending[19], 0);
    EXPECT_EQ(c->monitorTimer, 0);
    const auto sent = drainQueue();
    ASSERT_EQ(sent.size(), 62u);
    EXPECT_EQ(extensionsOf(sent[60]), (std::vector<int32_t>{800, 801, 802, 803, 804, 805, 806, 807, 808, 809,
                                                            810, 811, 812, 813, 814, 815}));
    EXPECT_EQ(extensionsOf(sent[61]), padded({816, 817, 818, 819}));
}

}  // namespace
}  // namespace qapi
