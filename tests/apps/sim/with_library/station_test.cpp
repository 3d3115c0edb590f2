// A library station client driven by the simulator's switchboard: what the
// client sends goes to the switchboard, what the switchboard answers goes to
// the client, and the snapshots show what the model meant.
#include <memory>

#include "dial/dial_codes.h"
#include "sim/switchboard.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

class SimSwitchboardDrivesTheLibrary : public test::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        client = start(test::kStation);
        ASSERT_NE(client, nullptr);
        tap = std::make_unique<test::StationTap>();
    }
    // Everything the client sent since the last look reaches the switchboard
    // and its answers reach the client.
    void exchange() {
        for (const test::Datagram &d : tap->take()) deliver(board.onDatagram(d.data(), d.size(), 0x7F000001));
    }
    void deliver(const qsim::Output &out) {
        const qsim::Bytes &d = out.datagram;
        for (size_t at = 0; at + 8 <= d.size(); at += 4 + 4 * size_t{d[at + 7]}) {
            stationHandleRecord(*client, d.data() + at, d.size() - at);
        }
    }
    void tick() {
        test::runTicks(1);
        exchange();
    }
    void press(uint16_t code) {
        ASSERT_TRUE(stationSendFeatureKey(*client, code));
        exchange();
        EXPECT_EQ(client->queueHead, client->queueTail)
            << "the switchboard acknowledged feature code " << code;
    }
    // Queues a digits request as the digit-dial timer does.
    void dial(const char *digits) {
        StationRequest r{};
        r.type = kDialDigitsType;
        packDialCodes(digits, r.payload);
        ASSERT_TRUE(stationEnqueueRequest(*client, r));
        exchange();
    }
    const QapiStatusSnapshot &now() const { return client->snapshot; }

    qsim::Switchboard board{qsim::SwitchboardConfig{}};
    StationClient *client = nullptr;
    std::unique_ptr<test::StationTap> tap;
};

TEST_F(SimSwitchboardDrivesTheLibrary, RegistersAndStaysRegisteredThroughKeepAlives) {
    tick();
    ASSERT_EQ(now().regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(now().canNewcall, 1);
    for (int i = 0; i < 400; ++i) tick();  // several keep-alives
    EXPECT_EQ(now().regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(client->retryCount, 0);
}

TEST_F(SimSwitchboardDrivesTheLibrary, AnIncomingCallIsAnsweredHeldRetrievedAndCleared) {
    tick();
    deliver(board.ring(test::kStation, "4711"));
    EXPECT_EQ(now().isAlerting, 1);
    EXPECT_EQ(now().canAnswer, 1);

    press(kAnswerKey);
    EXPECT_EQ(now().callState, kStateTalking);
    EXPECT_EQ(now().canHold, 1);
    EXPECT_EQ(now().canRecordStart, 1);
    EXPECT_EQ(now().canClear, 1);

    press(kHoldKey);
    EXPECT_EQ(now().callState, kStatePickup);
    EXPECT_EQ(now().canRetrieve, 1);
    EXPECT_EQ(now().canMailbox, 1);

    press(kRetrieveKey);
    EXPECT_EQ(now().callState, kStateTalking);
    EXPECT_EQ(now().canHold, 1);
    EXPECT_EQ(now().canRetrieve, 0);

    press(kClearKey);
    EXPECT_EQ(now().callState, kStateIdle);
    EXPECT_EQ(now().canNewcall, 1);
}

TEST_F(SimSwitchboardDrivesTheLibrary, AConsultationCallCanBeConferencedOrTransferred) {
    tick();
    deliver(board.ring(test::kStation, "4711"));
    press(kAnswerKey);
    press(kHoldKey);
    dial("18");
    EXPECT_EQ(now().callState, kStateRingback);
    EXPECT_EQ(now().canTransfer, 1) << "ringback with a call on hold";
    deliver(board.farEndAnswers(test::kStation));
    EXPECT_EQ(now().callState, kStateTalking);
    EXPECT_EQ(now().canConference, 1);
    EXPECT_EQ(now().canTransfer, 1);
    EXPECT_EQ(now().canRetrieve, 1);
    EXPECT_EQ(now().canHold, 0);

    press(kConferenceKey);
    EXPECT_EQ(now().canConference, 0);
    EXPECT_EQ(now().canHold, 1) << "one call again, with both parties";

    press(kHoldKey);
    dial("19");
    press(kTransferKey);
    EXPECT_EQ(now().callState, kStateIdle);
    EXPECT_EQ(now().canNewcall, 1);
}

}  // namespace
}  // namespace qapi
