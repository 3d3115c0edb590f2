// The request queue: one request outstanding, sequence bytes, wire lengths,
// retransmission, acknowledgement and the bound of 63 waiting requests.
#include <cstring>
#include <memory>

#include "core/wire.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"
#include "station/supervise.h"

namespace qapi {
namespace {

using test::Datagram;

class RequestQueue : public test::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        client = start(test::kStation);
        ASSERT_NE(client, nullptr);
        registerClient(*client);
        tap = std::make_unique<test::StationTap>();
    }
    void ack(uint8_t sequence, int32_t station = test::kStation) {
        feed(*client, test::acknowledge(sequence, station));
    }
    // The sequence bytes of what was sent since the last look.
    std::vector<int> sentSequences() {
        std::vector<int> out;
        for (const Datagram &d : tap->take()) out.push_back(d.size() > 5 ? test::sequenceOf(d) : -1);
        return out;
    }
    StationClient *client = nullptr;
    std::unique_ptr<test::StationTap> tap;
};

TEST_F(RequestQueue, TheFirstRequestAfterRegistrationIsSlotOneAndTheSixtyFourthWrapsToZero) {
    for (int i = 1; i <= 64; ++i) {
        ASSERT_TRUE(stationSendFeatureKey(*client, kAnswerKey));
        const auto sent = tap->take();
        ASSERT_EQ(sent.size(), 1u);
        const Datagram &d = sent[0];
        ASSERT_EQ(d.size(), 12u);  // a feature key is header only
        EXPECT_EQ(readU32le(d.data()), 0u);
        EXPECT_EQ(test::typeOf(d), kFeatureKeyType);
        EXPECT_EQ(test::sequenceOf(d), (i & 63) | 0x80) << i;
        EXPECT_EQ(test::codeOf(d), kAnswerKey);
        EXPECT_EQ(test::wordOf(d), test::kToken);
        ack(test::sequenceOf(d));
    }
    EXPECT_EQ(client->queueHead, client->queueTail);
}

TEST_F(RequestQueue, OneRequestIsOutstandingAndOnlyItsAcknowledgementSendsTheNext) {
    stationSendFeatureKey(*client, kHoldKey);
    stationSendFeatureKey(*client, kSuspendKey);
    stationSendFeatureKey(*client, kConferenceKey);
    EXPECT_EQ(sentSequences(), (std::vector<int>{0x81}));
    ack(0x82);      // names the request after the outstanding one
    ack(0x81, 18);  // another station
    EXPECT_TRUE(sentSequences().empty());
    ack(0x81);
    EXPECT_EQ(sentSequences(), (std::vector<int>{0x82}));
    ack(0x81);  // late duplicate
    EXPECT_TRUE(sentSequences().empty());
    feed(*client, test::acknowledge(0x82).cut(8));  // too short to name a station
    EXPECT_TRUE(sentSequences().empty());
    ack(0x82);
    EXPECT_EQ(sentSequences(), (std::vector<int>{0x83}));
    ack(0x83);
    EXPECT_TRUE(sentSequences().empty());
    EXPECT_EQ(client->retransmitTimer, 0);
}

TEST_F(RequestQueue, TheWireLengthFollowsTheCodeAndType) {
    StationRequest deflect{};
    deflect.type = 17;
    std::memset(deflect.payload, 0xFF, 32);
    deflect.payload[0] = 5;
    StationRequest monitor{};
    monitor.type = kMonitorListType;
    writeU32le(monitor.payload + 60, 0x01020304);
    StationRequest undo{};
    undo.type = 23;
    undo.code = 43;
    for (StationRequest *r : {&deflect, &monitor, &undo}) ASSERT_TRUE(stationEnqueueRequest(*client, *r));
    std::vector<Datagram> sent = tap->take();
    ack(0x81);
    ack(0x82);
    for (const Datagram &d : tap->take()) sent.push_back(d);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].size(), 44u);
    EXPECT_EQ(sent[0][12], 5);
    EXPECT_EQ(sent[0][43], 0xFF);
    EXPECT_EQ(sent[1].size(), 76u);
    EXPECT_EQ(readU32le(sent[1].data() + 72), 0x01020304u);
    EXPECT_EQ(sent[2].size(), 12u);
    EXPECT_EQ(test::codeOf(sent[2]), 43);
}

TEST_F(RequestQueue, RetransmitsEveryTwentyTicksAndAKeepAliveTickDelaysItByOne) {
    stationSendFeatureKey(*client, kAnswerKey);
    tap->take();
    std::vector<int> resent;
    for (int t = 1; t <= 81; ++t) {
        test::runTicks(1);
        for (const Datagram &d : tap->take()) {
            if (test::typeOf(d) == kFeatureKeyType) {
                EXPECT_EQ(test::sequenceOf(d), 0x81);
                resent.push_back(t);
            }
        }
    }
    // Tick 60 sends the keep-alive instead; the retransmission follows on 61.
    EXPECT_EQ(resent, (std::vector<int>{20, 40, 61, 81}));
}

TEST_F(RequestQueue, WhenSixtyThreeRequestsWaitTheNextIsRefusedAndNoneIsLost) {
    for (uint16_t code = 1; code <= 63; ++code) ASSERT_TRUE(stationSendFeatureKey(*client, code));
    EXPECT_FALSE(stationSendFeatureKey(*client, 64));
    EXPECT_EQ(client->queueHead, 63);
    std::vector<Datagram> sent = tap->take();
    for (int i = 0; i < 63; ++i) {
        ASSERT_EQ(sent.size(), 1u) << i;
        EXPECT_EQ(test::codeOf(sent[0]), i + 1);
        ack(test::sequenceOf(sent[0]));
        sent = tap->take();
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(client->queueHead, client->queueTail);
}

TEST_F(RequestQueue, IsFrozenUntilRegisteredAndEmptiedByTheRegistrationReply) {
    StationClient *other = start(18);
    ASSERT_NE(other, nullptr);
    tap->take();
    stationSendFeatureKey(*other, kClearKey);  // idle queue: sent once
    stationSendFeatureKey(*other, kHoldKey);
    ASSERT_EQ(tap->take().size(), 1u);
    feed(*other, test::acknowledge(0x81, 18));  // not taken while registering
    EXPECT_EQ(other->queueTail, 0);
    test::runTicks(59);  // registration on tick 1 only; no retransmission
    const auto sent = tap->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(test::typeOf(sent[0]), kRegisterRequestType);
    feed(*other, test::registrationReply({.station = 18, .flags = 0}));
    EXPECT_EQ(other->queueHead, 0);
    EXPECT_EQ(other->queueTail, 0);
    EXPECT_EQ(other->retransmitTimer, 0);
}

}  // namespace
}  // namespace qapi
