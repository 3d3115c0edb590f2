// A station driven end to end by a scripted call server on a second host:
// real multicast over a veth pair between two network namespaces.
#include <atomic>
#include <map>
#include <utility>

#include "core/wire.h"
#include "station/endpoint.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"
#include "support/two_hosts.h"

namespace qapi {
namespace {

using test::Datagram;
using test::Record;

constexpr uint32_t kIdleFlags = kFlagCallAllowed;
constexpr uint32_t kTalkingFlags = kFlagConnected | kFlagRecordStart | kFlagCallAllowed;

// The server's side: answers registrations and keep-alives, acknowledges a
// queued request the third time it arrives, and an answer key at once,
// following it with the event that connects the call.
struct ScriptedServer {
    std::atomic<uint32_t> host{0};
    std::atomic<uint8_t> callState{0};
    std::atomic<uint32_t> flags{kIdleFlags};
    std::map<uint8_t, int> arrivals;  // per sequence byte; server thread only

    Record forHost(Record r) { return r.to(host); }

    std::vector<Datagram> answer(const Datagram &d) {
        if (d.size() < kHeaderOnlyLength) return {};
        if (test::typeOf(d) == kRegisterRequestType &&
            static_cast<int32_t>(test::wordOf(d)) == test::kStation) {
            return {forHost(test::registrationReply({.state = callState, .flags = flags})).bytes};
        }
        if (test::typeOf(d) == kKeepAliveType && test::wordOf(d) == test::kToken) {
            return {forHost(test::flagsRecord({.state = callState, .flags = flags})).bytes};
        }
        if (!(test::sequenceOf(d) & kSequenceBit)) return {};
        const Datagram ack = forHost(test::acknowledge(test::sequenceOf(d))).bytes;
        if (test::codeOf(d) == kAnswerKey) {
            callState = kStateTalking;
            flags = kTalkingFlags;
            return {ack, forHost(test::event({.sub = kCallEventAnswered,
                                              .serverState = kStateTalking,
                                              .flags = kTalkingFlags}))
                             .bytes};
        }
        return ++arrivals[test::sequenceOf(d)] == 3 ? std::vector<Datagram>{ack} : std::vector<Datagram>{};
    }
};

class ServerPeer : public test::StationTest {
protected:
    // Notes what the server received since the last look as sent on this tick.
    void settle() {
        for (Datagram &d : server->settle()) wire.emplace_back(now, std::move(d));
    }
    void tick() {
        ++now;
        test::runTicks(1);
        settle();
    }
    void runUntil(int t) {
        while (now < t) tick();
    }
    // Ticks on which the server received a datagram of `type` (and `code`).
    std::vector<int> ticksOf(uint8_t type, int code = -1) const {
        std::vector<int> out;
        for (const auto &[t, d] : wire) {
            if (test::typeOf(d) == type && (code < 0 || test::codeOf(d) == code)) out.push_back(t);
        }
        return out;
    }
    std::vector<QapiStatusSnapshot> snapshots() {
        std::vector<QapiStatusSnapshot> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_SNAPSHOT)) out.push_back(snapshotOf(m));
        return out;
    }

    ScriptedServer script;
    std::unique_ptr<test::ServerHost> server;
    int now = 0;
    std::vector<std::pair<int, Datagram>> wire;
};

TEST_F(ServerPeer, AStationRegistersStaysRegisteredRingsAndHasItsRequestsRetransmittedUntilAcknowledged) {
    server = std::make_unique<test::ServerHost>(test::kStationPort,
                                                [this](const Datagram &d) { return script.answer(d); });
    ASSERT_TRUE(server->ready());
    ASSERT_TRUE(test::isolatedNetwork());
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    script.host = stationEndpoint().endpoint.localAddress;

    // Registration: requested on the first tick, answered, taken on the second.
    runUntil(2);
    EXPECT_EQ(ticksOf(kRegisterRequestType), (std::vector<int>{1}));
    auto posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(posted[0].canNewcall, 1);

    // Idle keep-alive 60 ticks later, answered by a status reply.
    runUntil(62);
    EXPECT_EQ(ticksOf(kKeepAliveType), (std::vector<int>{61}));
    EXPECT_EQ(c->retryCount, 0);

    // A queued request goes at once and every 20 ticks until acknowledged.
    ASSERT_TRUE(stationSendFeatureKey(*c, kClearKey));
    settle();
    runUntil(130);
    EXPECT_EQ(ticksOf(kFeatureKeyType, kClearKey), (std::vector<int>{62, 82, 102}));
    EXPECT_EQ(wire[2].second.size(), 12u);
    EXPECT_EQ(test::sequenceOf(wire[2].second), 0x81);
    EXPECT_EQ(c->queueHead, c->queueTail);
    EXPECT_EQ(ticksOf(kKeepAliveType), (std::vector<int>{61, 121}));
    EXPECT_TRUE(snapshots().empty());

    // An incoming call reaches the application as a ringing snapshot.
    script.callState = kStateAlerting;
    server->push({script
                      .forHost(test::event(
                          {.sub = kCallEventAlerting, .serverState = kStateAlerting, .flags = kIdleFlags}))
                      .bytes});
    tick();
    posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].callState, kStateAlerting);
    EXPECT_EQ(posted[0].isAlerting, 1);
    EXPECT_EQ(posted[0].canAnswer, 1);
    EXPECT_EQ(posted[0].canClear, 0);

    // Answering: the key is acknowledged at once and the call connects.
    ASSERT_TRUE(stationSendFeatureKey(*c, kAnswerKey));
    settle();
    tick();
    posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].callState, kStateTalking);
    EXPECT_EQ(posted[0].isAlerting, 0);
    EXPECT_EQ(posted[0].canConference, 1);
    EXPECT_EQ(posted[0].canTransfer, 1);
    EXPECT_EQ(posted[0].canRecordStart, 1);
    EXPECT_EQ(c->queueHead, c->queueTail);

    // In the call, keep-alives come every 15 ticks and keep the station.
    const int connected = now;
    runUntil(connected + 61);
    std::vector<int> inCall;
    for (int t : ticksOf(kKeepAliveType)) {
        if (t > connected) inCall.push_back(t - connected);
    }
    // The snapshot's own tick is the first of the count.
    EXPECT_EQ(inCall, (std::vector<int>{14, 29, 44, 59}));
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_TRUE(snapshots().empty());
}

}  // namespace
}  // namespace qapi
