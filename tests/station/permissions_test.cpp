// Permission bytes from call state and flags, what belongs to one call, and
// the snapshot posted on a visible change.
#include <cstring>
#include <string>

#include "station/permissions.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

constexpr uint32_t kEveryFlagButBlocked = 0x1FF;

class Features : public test::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        c = start(test::kStation);
        ASSERT_NE(c, nullptr);
        registerClient(*c, {.flags = 0});
    }
    // The permission bytes canNewcall to canPickup as a string of 0 and 1,
    // in snapshot order: newcall digits alerting answer clear hold retrieve
    // callback suspend conference transfer recStart recStop mailbox pickup.
    std::string take(uint8_t state, uint32_t flags, uint16_t ref = 5, uint16_t word = 0) {
        c->callFlags = flags;
        c->eventRef = ref;
        c->eventWord = word;
        stationUpdateFeatures(*c, state);
        std::string bits;
        for (const uint8_t *p = &c->snapshot.canNewcall; p <= &c->snapshot.canPickup; ++p) {
            bits += static_cast<char>('0' + *p);
        }
        return bits;
    }
    StationClient *c = nullptr;
};

TEST_F(Features, TalkingWithEveryFlagAllowsCallbackTransferAndRecordStop) {
    //                   ndaachrcsctRRmp
    EXPECT_EQ(take(kStateTalking, kEveryFlagButBlocked), "010010110010100");
    EXPECT_EQ(take(kStateTalking, kFlagConnected | kFlagRecordStart), "010010100111000");
    EXPECT_EQ(take(kStateTalking, 0), "010011001000000");               // hold and suspend when not connected
    EXPECT_EQ(take(kStateTalking, 0, kNoEventRef), "010010000000000");  // no reference: no hold
    EXPECT_EQ(take(kStateTalking, kFlagConnected, kNoEventRef), "010010100000000");
}

TEST_F(Features, BlockedFlagClearsEveryOtherBit) {
    EXPECT_EQ(take(kStateRouting, kFlagBlocked | kFlagCallAllowed | kFlagConnected), "010010000000000");
    EXPECT_EQ(c->callFlags, kFlagBlocked);
    EXPECT_EQ(take(kStateIdle, kFlagBlocked | kFlagCallAllowed), "000000000000000");
}

TEST_F(Features, AnswerNeedsTheCallFlagAndOnlyStateSixRings) {
    EXPECT_EQ(take(kStateAlerting, kFlagCallAllowed), "001100000000000");
    EXPECT_EQ(take(kStateAlerting, kFlagConnected), "001000100000000");
    EXPECT_EQ(take(kStateActive, kFlagCallAllowed), "000110000000000");
    EXPECT_EQ(take(kStateCamped, kFlagCallAllowed), "000110000000000");
    EXPECT_EQ(take(kStateIdle, kFlagCallAllowed), "100000000000000");
    EXPECT_EQ(take(99, kEveryFlagButBlocked), "000010100000000");  // any other state: clear and retrieve
}

TEST_F(Features, PickupAndMailboxNeedAnEmptyDialedTextWhichANewDialingClears) {
    std::strcpy(c->dialedText, "12");
    EXPECT_EQ(take(kStatePickup, kFlagMailbox), "010010000000011");  // entered from 0: the text was cleared
    std::strcpy(c->dialedText, "1");
    EXPECT_EQ(take(kStatePickup, kFlagMailbox), "010010000000000");
    EXPECT_EQ(take(kStateRingback, kFlagConnected), "010010100010000");
}

TEST_F(Features, ClearedStateTransfersOnlyOnWordSeventeenAndClearsTheIndicators) {
    c->snapshot.indicator1 = c->snapshot.indicator2 = c->snapshot.indicator3 = 1;
    EXPECT_EQ(take(kStateCleared, kFlagConnected | kFlagTransferable, 5, kTransferableEventWord),
              "000010100010000");
    EXPECT_EQ(c->snapshot.indicator1 + c->snapshot.indicator2 + c->snapshot.indicator3, 0);
    EXPECT_EQ(take(kStateCleared, kFlagConnected | kFlagTransferable, 5, 0x0111), "000010100000000");
}

TEST_F(Features, ReturningToIdleEndsTheCallAndAChangedStateClearsTheEventValue) {
    take(kStateTalking, 0);
    c->snapshot.eventValue = 7;
    std::memset(c->pendingDial, 3, 4);
    std::strcpy(c->dialedText, "123");
    c->dialTimer = 4;
    take(kStateTalking, 0);
    EXPECT_EQ(c->snapshot.eventValue, 7);  // same state
    EXPECT_STREQ(c->dialedText, "123");
    take(kStateIdle, 0);
    EXPECT_EQ(c->snapshot.eventValue, 0);
    EXPECT_EQ(c->pendingDial[0], kNoDialCode);
    EXPECT_EQ(c->dialedText[0], '\0');
    EXPECT_EQ(c->dialTimer, 0);
}

// A station that failed or was refused allows nothing until it registers
// again, whatever the server re-evaluates meanwhile.
TEST_F(Features, AStationThatIsNotRegisteredAllowsNothingAfterAReevaluation) {
    take(kStateTalking, kEveryFlagButBlocked);
    c->snapshot.regState = QAPI_REG_FAILED;
    for (uint8_t type : {kReevaluateType, kReevaluateType2}) {
        feed(*c, test::Record({.type = type}));
        EXPECT_EQ(take(kStateTalking, kEveryFlagButBlocked), std::string(15, '0'));
        EXPECT_EQ(QAPI_Client_clear(c), 1);
    }
}

TEST_F(Features, ASnapshotIsPostedOnlyWhenTheVisibleStatusChanged) {
    take(kStateAlerting, kFlagCallAllowed);
    take(kStateAlerting, kFlagCallAllowed);
    auto posted = notes(QAPI_NOTIFY_SNAPSHOT);
    ASSERT_EQ(posted.size(), 1u);
    const QapiStatusSnapshot &s = snapshotOf(posted[0]);
    EXPECT_EQ(s.callState, kStateAlerting);
    EXPECT_EQ(s.isAlerting, 1);
    EXPECT_EQ(s.canAnswer, 1);
    EXPECT_EQ(s.stationId, test::kStation);
    c->snapshot.stationId = 99;  // outside the compared part
    take(kStateAlerting, kFlagCallAllowed);
    EXPECT_TRUE(notes(QAPI_NOTIFY_SNAPSHOT).empty());
    // Without a target nothing is posted, yet the copy is refreshed.
    c->target = NotifyTarget{0, 0};
    take(kStateTalking, 0);
    c->target = NotifyTarget{window, 0};
    take(kStateTalking, 0);
    EXPECT_TRUE(notes(QAPI_NOTIFY_SNAPSHOT).empty());
}

}  // namespace
}  // namespace qapi
