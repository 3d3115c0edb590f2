// Start and stop of station clients and the handle check.
#include "library/library.h"
#include <vector>

#include "station/client.h"
#include "station/endpoint.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using StationLifecycle = test::StationTest;
using test::Record;

TEST_F(StationLifecycle, StartRefusesAnEmptyTargetAndAStationThatIsAlreadyLive) {
    EXPECT_EQ(QAPI_Client_start(0, 17), nullptr);
    EXPECT_EQ(QAPI_Client_start_Thread(0, 17), nullptr);
    EXPECT_FALSE(stationEndpoint().open);  // nothing created, nothing opened
    QAPI_Stack_release();                  // not initialised: a client would outlive the next initialise
    EXPECT_EQ(QAPI_Client_start(window, 17), nullptr);
    EXPECT_FALSE(stationEndpoint().open);
    ASSERT_EQ(QAPI_Stack_initialize(stationEndpoint().port), 0);

    StationClient *first = start(test::kStation);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(stationEndpoint().open);
    EXPECT_EQ(QAPI_Client_start(window, 17), nullptr);
    EXPECT_EQ(QAPI_Client_start_Thread(qmsgCurrentThreadId(), 17), nullptr);

    StationClient *any = start(-1);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(QAPI_Client_start(window, -1), nullptr);  // -1 compares like any identifier
    feed(*any, test::registrationReply({.station = 20}));
    EXPECT_EQ(any->snapshot.stationId, 20);
    EXPECT_NE(QAPI_Client_start(window, -1), nullptr);  // -1 is free again
    EXPECT_EQ(stationClients()[0], first);
    EXPECT_EQ(stationClients()[1], any);
}

TEST_F(StationLifecycle, ANewClientRegistersWithEmptyBuffersAndFreeMonitorSlots) {
    StationClient *c = start(42);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(c->snapshot.stationId, 42);
    EXPECT_EQ(c->snapshot.callState, kStateIdle);
    EXPECT_EQ(c->magic, kClientMagic);
    EXPECT_EQ(c->target.window, window);
    EXPECT_EQ(c->target.thread, 0u);
    for (uint8_t code : c->pendingDial) EXPECT_EQ(code, 0xFF);
    for (int32_t extension : c->monitorExtension) ASSERT_EQ(extension, -1);
    EXPECT_EQ(c->retryCount, 0);
    EXPECT_EQ(c->queueHead, c->queueTail);
    EXPECT_EQ(stationFindClient(c), c);
}

TEST_F(StationLifecycle, StopFreesTheSlotForTheNextStartAndRefusesWhatIsNotALiveClient) {
    StationClient *a = start(1);
    StationClient *b = start(2);
    ASSERT_NE(b, nullptr);
    int notAClient = 0;
    EXPECT_EQ(QAPI_Client_stop(nullptr), 1);
    EXPECT_EQ(QAPI_Client_stop(&notAClient), 1);
    EXPECT_EQ(QAPI_Client_stop(a), 0);
    EXPECT_EQ(QAPI_Client_stop(a), 1);  // stopped: refused without being read
    EXPECT_EQ(stationClients()[0], nullptr);
    StationClient *c = start(1);  // the identifier is free again, the lowest slot taken
    EXPECT_EQ(stationClients()[0], c);
    EXPECT_TRUE(stationEndpoint().open);  // stopping a client never closes the endpoint
}

TEST_F(StationLifecycle, EveryOneOfTheFiveHundredTwelveSlotsCanBeTakenButNoMore) {
    for (int32_t id = 0; id < 512; ++id) ASSERT_NE(QAPI_Client_start(window, id), nullptr) << id;
    EXPECT_EQ(QAPI_Client_start(window, 512), nullptr);
    EXPECT_EQ(QAPI_Client_stop(stationClients()[300]), 0);
    EXPECT_EQ(QAPI_Client_start(window, 512), stationClients()[300]);
}

// With every slot taken, under identifiers in no order, a record for this
// host reaches the client of the station it names and no other, also after a
// slot changed hands.
TEST_F(StationLifecycle, WithEverySlotTakenARecordReachesOnlyTheClientOfItsStation) {
    auto idOf = [](int32_t k) { return k * 7919 % 100003 - 50000; };
    for (int32_t k = 0; k < 512; ++k) ASSERT_NE(start(idOf(k)), nullptr);
    ASSERT_EQ(QAPI_Client_stop(stationClients()[7]), 0);
    ASSERT_EQ(start(idOf(512)), stationClients()[7]);
    for (int32_t k = 0; k <= 512; ++k) {
        const auto refusal = Record({.type = kRegistrationRefusedType, .sub = 1, .station = idOf(k)}).bytes;
        libraryStationSink().forHost(refusal.data(), refusal.size());
        const auto posted = notes(QAPI_NOTIFY_SNAPSHOT);
        ASSERT_EQ(posted.size(), k == 7 ? 0u : 1u) << k;
        if (k != 7) {
            EXPECT_EQ(snapshotOf(posted[0]).stationId, idOf(k));
        }
    }
}

TEST_F(StationLifecycle, AStationPortInUseCreatesNothingAndTheNextStartTriesAgain) {
    const plat::SocketHandle blocker = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(test::kStationPort);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(QAPI_Client_start(window, 5), nullptr);
    EXPECT_FALSE(stationEndpoint().open);
    EXPECT_EQ(stationClients()[0], nullptr);
    test::closeSocket(blocker);
    EXPECT_NE(QAPI_Client_start(window, 5), nullptr);
}

TEST_F(StationLifecycle, ReleaseAndReinitialiseFreeEveryClientAndRefuseTheirHandles) {
    QapiHandle a = start(1);
    QapiHandle b = start(2);
    ASSERT_EQ(QAPI_Stack_initialize(test::kStationPort), 0);
    for (StationClient *c : stationClients()) ASSERT_EQ(c, nullptr);
    EXPECT_EQ(QAPI_Client_stop(a), 1);
    QapiHandle c = start(1);
    QAPI_Stack_release();
    ASSERT_EQ(QAPI_Stack_initialize(test::kStationPort), 0);
    EXPECT_EQ(QAPI_Client_stop(b), 1);
    EXPECT_EQ(QAPI_Client_stop(c), 1);
}

// A stopped client's handle, and one kept across a release and a new
// initialise, reach nothing for the next 64 starts: the records are held so
// that no new client can take their addresses.
TEST_F(StationLifecycle, AStaleHandleReachesNoClientStartedAfterIt) {
    QapiHandle stopped = start(1);
    ASSERT_EQ(QAPI_Client_stop(stopped), 0);
    QapiHandle kept = start(2);
    QAPI_Stack_release();
    ASSERT_EQ(QAPI_Stack_initialize(test::kStationPort), 0);
    std::vector<QapiHandle> later;
    // `kept` was the first start after the stop; these are the other 63.
    for (int32_t id = 100; id < 100 + static_cast<int32_t>(kHeldStarts) - 1; ++id) {
        later.push_back(start(id));
        EXPECT_NE(later.back(), stopped);
        EXPECT_NE(later.back(), kept);
        if (id % 2) {
            ASSERT_EQ(QAPI_Client_stop(later.back()), 0);  // stops in between hold records too
        }
    }
    EXPECT_EQ(QAPI_Client_stop(stopped), 1);
    EXPECT_EQ(QAPI_Client_stop(kept), 1);
    EXPECT_EQ(QAPI_Client_answer(kept), 1);
    for (size_t i = 0; i < later.size(); i += 2) EXPECT_NE(stationFindClient(later[i]), nullptr);
}

TEST_F(StationLifecycle, AThreadClientIsToldThroughThreadMessages) {
    ASSERT_NE(QAPI_Client_start_Thread(qmsgCurrentThreadId(), 9), nullptr);
    test::runTicks(10);
    const auto beats = notes(QAPI_NOTIFY_HEARTBEAT);
    ASSERT_EQ(beats.size(), 1u);
    EXPECT_EQ(beats[0].window, QWindow{});
    EXPECT_EQ(beats[0].lParam, 0);
}

}  // namespace
}  // namespace qapi
