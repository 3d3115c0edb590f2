// Registration, keep-alive, failure and heartbeat timing of the supervision,
// seen on the wire through the tap.
#include <cstring>
#include <string>

#include "core/wire.h"
#include "station/station_fixture.h"
#include "station/supervise.h"

namespace qapi {
namespace {

using test::Datagram;

class StationSupervision : public test::StationTest {
protected:
    // Runs `ticks` ticks; returns the tick numbers (counted from 1) on which
    // a datagram of `type` was sent, and checks every datagram is 12 bytes
    // with `word` at offset 8.
    std::vector<int> run(test::StationTap &tap, int ticks, uint8_t type, uint32_t word) {
        std::vector<int> at;
        for (int t = 1; t <= ticks; ++t) {
            test::runTicks(1);
            for (const Datagram &d : tap.take()) {
                EXPECT_EQ(d.size(), 12u);
                if (d.size() != 12) continue;
                EXPECT_EQ(readU32le(d.data()), 0u);
                EXPECT_EQ(test::typeOf(d), type);
                EXPECT_EQ(test::wordOf(d), word);
                at.push_back(t);
            }
        }
        return at;
    }
    std::vector<QapiStatusSnapshot> snapshots() {
        std::vector<QapiStatusSnapshot> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_SNAPSHOT)) out.push_back(snapshotOf(m));
        return out;
    }
};

TEST_F(StationSupervision, RegistersOnTicks1_61_121_FailsOn181AndTriesAgain452TicksLater) {
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    test::StationTap tap;
    EXPECT_EQ(run(tap, 180, kRegisterRequestType, test::kStation), (std::vector<int>{1, 61, 121}));
    EXPECT_TRUE(snapshots().empty());

    EXPECT_TRUE(
        run(tap, 1, kRegisterRequestType, test::kStation).empty());  // tick 181: failure instead of a request
    const auto failed = snapshots();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].regState, QAPI_REG_FAILED);
    EXPECT_STREQ(failed[0].statusText, "Quentara is not responding");

    // Back to registering after the pause, silently and with the text kept.
    EXPECT_TRUE(run(tap, 451, kRegisterRequestType, test::kStation).empty());
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_STREQ(c->snapshot.statusText, "Quentara is not responding");
    EXPECT_EQ(run(tap, 1, kRegisterRequestType, test::kStation), (std::vector<int>{1}));  // tick 633
    EXPECT_TRUE(snapshots().empty());
}

TEST_F(StationSupervision, HeartbeatComesEveryTenTicksInEveryState) {
    StationClient *c = start(-1);
    ASSERT_NE(c, nullptr);
    test::StationTap tap;
    EXPECT_EQ(run(tap, 1, kRegisterRequestType, static_cast<uint32_t>(kAnyStation)),
              (std::vector<int>{1}));  // a client at -1 asks as -1
    test::runTicks(199);               // fails on tick 181
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_FAILED);
    EXPECT_EQ(notes(QAPI_NOTIFY_HEARTBEAT).size(), 20u);
    feed(*c, test::registrationReply({.station = kAnyStation, .flags = 0}));  // not taken while failed
    test::runTicks(10);
    EXPECT_EQ(notes(QAPI_NOTIFY_HEARTBEAT).size(), 1u);
}

TEST_F(StationSupervision, IdleKeepAlivesEverySixtyTicksAndFailureAfterTwoHundredForty) {
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    registerClient(*c);
    test::StationTap tap;
    EXPECT_EQ(run(tap, 240, kKeepAliveType, test::kToken), (std::vector<int>{60, 120, 180}));
    const auto failed = snapshots();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].regState, QAPI_REG_FAILED);
    EXPECT_STREQ(failed[0].statusText, "Quentara is not responding");
}

TEST_F(StationSupervision, InACallKeepAlivesComeEveryFifteenTicksAndAStatusReplyKeepsTheStation) {
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    registerClient(*c, {.state = kStateTalking});
    test::StationTap tap;
    EXPECT_EQ(run(tap, 30, kKeepAliveType, test::kToken), (std::vector<int>{15, 30}));
    feed(*c, test::flagsRecord({.state = kStateTalking, .flags = kFlagCallAllowed}));
    EXPECT_EQ(c->retryCount, 0);
    EXPECT_EQ(run(tap, 60, kKeepAliveType, test::kToken), (std::vector<int>{15, 30, 45}));
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_FAILED);  // failed on the 60th
}

TEST_F(StationSupervision, SnapshotsPostponeTheKeepAliveButDoNotCountAsAnswers) {
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    registerClient(*c);
    test::StationTap tap;
    EXPECT_EQ(run(tap, 60, kKeepAliveType, test::kToken), (std::vector<int>{60}));
    EXPECT_TRUE(run(tap, 50, kKeepAliveType, test::kToken).empty());
    feed(*c, test::Record({.type = kInfoValueType, .sub = 3}));  // posts a snapshot
    EXPECT_EQ(run(tap, 60, kKeepAliveType, test::kToken), (std::vector<int>{60}));
    EXPECT_EQ(c->retryCount, 2);
}

TEST_F(StationSupervision, RecoveringFromAFailureIsAlwaysPosted) {
    StationClient *c = start(test::kStation);
    ASSERT_NE(c, nullptr);
    feed(*c, test::registrationReply());
    ASSERT_EQ(snapshots().size(), 1u);  // canNewcall came up
    test::runTicks(240);
    ASSERT_EQ(snapshots().size(), 1u);  // the failure
    test::runTicks(452);
    feed(*c, test::registrationReply());
    EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(c->snapshot.statusText, nullptr);
    // The visible status equals the one posted before the failure, but the
    // application last saw the failure: it is told of the recovery.
    const auto recovered = snapshots();
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(recovered[0].statusText, nullptr);
    EXPECT_EQ(recovered[0].canNewcall, 1);
    feed(*c, test::flagsRecord({.flags = kFlagCallAllowed}));
    EXPECT_TRUE(snapshots().empty());  // nothing changed since
}

}  // namespace
}  // namespace qapi
