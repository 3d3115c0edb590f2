// The application drives a call through a scripted call server on a second
// host (real multicast over a veth pair): it answers, holds, retrieves and
// clears a call, then resumes a call from the broadcast park list.
#include <atomic>
#include <string>

#include "core/wire.h"
#include "station/call_control.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "station/park_table.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"
#include "support/two_hosts.h"

namespace qapi {
namespace {

using test::Datagram;
using test::Record;

constexpr uint32_t kAllowed = kFlagCallAllowed;
constexpr uint32_t kHeldFlags = kAllowed | kFlagConnected;  // the far end connected: retrieve allowed
constexpr int32_t kParkedKey = 0x5001;

// The server's side: registers station 17, answers keep-alives, and
// acknowledges every queued request at once, following it with the call
// event that the request leads to.
struct CallServer {
    std::atomic<uint32_t> host{0};
    std::atomic<uint8_t> callState{0};  // as the last event told the station
    std::atomic<uint32_t> flags{kAllowed};
    std::atomic<bool> silent{false};  // a server that has gone away answers nothing

    Datagram forHost(Record r) { return r.to(host).bytes; }
    Datagram callEvent(uint8_t sub, uint8_t state, uint32_t newFlags) {
        callState = state;
        flags = newFlags;
        return forHost(test::event({.sub = sub, .serverState = state, .flags = newFlags}));
    }

    std::vector<Datagram> answer(const Datagram &d) {
        if (d.size() < kHeaderOnlyLength || silent) return {};
        if (d[RequestHeader::kType] == kRegisterRequestType) {
            return {forHost(test::registrationReply({.flags = flags}))};
        }
        if (d[RequestHeader::kType] == kKeepAliveType) {
            return {forHost(test::flagsRecord({.state = callState, .flags = flags}))};
        }
        const uint8_t sequence = d[RequestHeader::kSequence];
        if (!(sequence & kSequenceBit)) return {};
        const Datagram ack = forHost(test::acknowledge(sequence));
        if (d[RequestHeader::kType] == kResumeType)
            return {ack, callEvent(kCallEventAnswered, kStateTalking, kAllowed)};
        if (d[RequestHeader::kType] != kFeatureKeyType) return {ack};
        switch (readU16le(d.data() + RequestHeader::kCode)) {
        case kAnswerKey:
        case kRetrieveKey:
            return {ack, callEvent(kCallEventAnswered, kStateTalking, kAllowed)};
        case kHoldKey:
            return {ack, callEvent(kCallEventAnswered, kStateTalking, kHeldFlags)};
        case kClearKey:
            return {ack, callEvent(kCallEventIdle, kStateIdle, kAllowed)};
        default:
            return {ack};
        }
    }
};

class OperationsPeer : public test::StationTest {
protected:
    // The server on its host, then station 17 on this one.
    void startAgainstTheServer() {
        server = std::make_unique<test::ServerHost>(test::kStationPort,
                                                    [this](const Datagram &d) { return script.answer(d); });
        ASSERT_TRUE(server->ready());
        ASSERT_TRUE(test::isolatedNetwork());
        client = start(test::kStation);
        ASSERT_NE(client, nullptr);
        script.host = stationEndpoint().endpoint.localAddress;
    }
    // One tick after the server has answered what was sent; returns what
    // the server received and keeps the snapshots the tick posted.
    std::vector<Datagram> exchange() {
        std::vector<Datagram> received = server->settle();
        test::runTicks(1);
        posted.clear();
        parkLists.clear();
        for (const QMessage &m : test::drainMessages()) {
            if (m.wParam == QAPI_NOTIFY_SNAPSHOT) posted.push_back(snapshotOf(m));
            if (m.wParam == QAPI_NOTIFY_PARK_LIST) {
                parkLists.push_back(reinterpret_cast<const QapiLineList *>(m.lParam));
            }
        }
        return received;
    }
    // The one snapshot the last exchange posted.
    const QapiStatusSnapshot &now() {
        EXPECT_EQ(posted.size(), 1u);
        if (posted.empty()) posted.push_back(QapiStatusSnapshot{});
        return posted.back();
    }
    // Runs `operation`, which must be accepted and send one feature key
    // with `code`, and lets the server answer it.
    void press(int (*operation)(QapiHandle), uint16_t code, uint8_t sequence) {
        ASSERT_EQ(operation(client), 0);
        const auto received = exchange();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].size(), 12u);
        EXPECT_EQ(test::typeOf(received[0]), kFeatureKeyType);
        EXPECT_EQ(test::sequenceOf(received[0]), sequence);
        EXPECT_EQ(test::codeOf(received[0]), code);
    }

    CallServer script;
    std::unique_ptr<test::ServerHost> server;
    StationClient *client = nullptr;
    std::vector<QapiStatusSnapshot> posted;       // by the last exchange
    std::vector<const QapiLineList *> parkLists;  // by the last exchange
};

TEST_F(OperationsPeer, TheApplicationAnswersHoldsRetrievesAndClearsACallThenResumesAParkedOne) {
    ASSERT_NO_FATAL_FAILURE(startAgainstTheServer());
    test::runTicks(1);  // the registration request
    exchange();
    ASSERT_EQ(now().regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(QAPI_Client_answer(client), 1);  // nothing rings yet

    // A call comes in.
    server->push({script.callEvent(kCallEventAlerting, kStateAlerting, kAllowed)});
    exchange();
    EXPECT_EQ(now().isAlerting, 1);
    EXPECT_EQ(now().canAnswer, 1);
    EXPECT_EQ(QAPI_Client_hold(client), 1);

    press(QAPI_Client_answer, kAnswerKey, 0x81);
    EXPECT_EQ(now().callState, kStateTalking);
    EXPECT_EQ(now().canHold, 1);
    EXPECT_EQ(now().canRetrieve, 0);

    press(QAPI_Client_hold, kHoldKey, 0x82);
    EXPECT_EQ(now().canHold, 0);
    EXPECT_EQ(now().canRetrieve, 1);

    press(QAPI_Client_retrieve, kRetrieveKey, 0x83);
    EXPECT_EQ(now().canHold, 1);
    EXPECT_EQ(now().canClear, 1);

    press(QAPI_Client_clear, kClearKey, 0x84);
    EXPECT_EQ(now().callState, kStateIdle);
    EXPECT_EQ(now().canNewcall, 1);
    EXPECT_EQ(now().canClear, 0);

    // The server broadcasts its park list; the station takes the call back.
    EXPECT_EQ(QAPI_Client_resume(client, kParkedKey), 1);  // not listed yet
    std::vector<uint8_t> body(12);
    writeU32le(body.data(), kParkedKey);
    writeU32le(body.data() + 4, 0x17);
    server->push({test::stationRecord({.destination = kBroadcast, .type = kParkListType, .body = body})});
    exchange();
    ASSERT_EQ(parkLists.size(), 1u);
    const QapiLineList *list = parkLists[0];
    EXPECT_STREQ(list->lines[0], "00005001 00000017");
    EXPECT_EQ(list->lines[1], nullptr);

    ASSERT_EQ(QAPI_Client_resume(client, kParkedKey), 0);
    const auto received = exchange();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].size(), 44u);
    EXPECT_EQ(test::typeOf(received[0]), kResumeType);
    EXPECT_EQ(test::sequenceOf(received[0]), 0x85);
    EXPECT_EQ(test::payloadWord(received[0], 0), kParkedKey);
    EXPECT_EQ(now().callState, kStateTalking);
    EXPECT_EQ(client->queueHead, client->queueTail);  // every request acknowledged

    // Nothing is outstanding: the next seconds send keep-alives only, and
    // the server's answers keep the call as it is.
    int keepAlives = 0;
    for (int t = 0; t < 40; ++t) {
        for (const Datagram &d : exchange()) {
            EXPECT_EQ(test::typeOf(d), kKeepAliveType);
            ++keepAlives;
        }
        EXPECT_TRUE(posted.empty());
    }
    EXPECT_EQ(keepAlives, 2);
    EXPECT_EQ(client->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(client->snapshot.callState, kStateTalking);
}

// A server that comes back after the station failed has forgotten what the
// station watched: the station registers its watches again.
TEST_F(OperationsPeer, AStationThatRecoversFromAFailureRegistersItsWatchesAgain) {
    ASSERT_NO_FATAL_FAILURE(startAgainstTheServer());
    ASSERT_EQ(QAPI_Client_bdp_register(client, 201, 1), 0);
    ASSERT_EQ(QAPI_Client_bdp_register(client, 202, 1), 0);
    // Runs ticks until the server has received a watch list; its extensions.
    auto nextWatchList = [this]() {
        for (int t = 0; t < 1000; ++t) {
            for (const Datagram &d : exchange()) {
                if (d.size() == 76 && test::typeOf(d) == kMonitorListType)
                    return std::vector<int32_t>{test::payloadWord(d, 0), test::payloadWord(d, 1),
                                                test::payloadWord(d, 2)};
            }
        }
        return std::vector<int32_t>{};
    };
    EXPECT_EQ(nextWatchList(), (std::vector<int32_t>{201, 202, -1}));

    script.silent = true;
    for (int t = 0; t < 300 && client->snapshot.regState != QAPI_REG_FAILED; ++t) exchange();
    ASSERT_EQ(client->snapshot.regState, QAPI_REG_FAILED);
    script.silent = false;
    EXPECT_EQ(nextWatchList(), (std::vector<int32_t>{201, 202, -1}));
    EXPECT_EQ(client->snapshot.regState, QAPI_REG_REGISTERED);
}

}  // namespace
}  // namespace qapi
