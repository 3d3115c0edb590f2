// What a client does with the records addressed to this host.
#include <cstring>
#include <string>

#include "station/endpoint.h"
#include "station/permissions.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using test::drainMessages;
using test::event;
using test::flagsRecord;
using test::kStation;
using test::Record;
using test::registrationReply;

constexpr uint32_t kConnectedCalls = kFlagCallAllowed | kFlagConnected;

class Dispatch : public test::StationTest {
protected:
    std::vector<QapiStatusSnapshot> snapshots() {
        std::vector<QapiStatusSnapshot> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_SNAPSHOT)) out.push_back(snapshotOf(m));
        return out;
    }
    StationClient *registered(int32_t id, test::Registration reply = {}) {
        StationClient *c = start(id);
        if (c) registerClient(*c, reply);
        return c;
    }
};

TEST_F(Dispatch, ARegistrationReplyRegistersItsStationAndAClientWaitingForAnIdentifier) {
    StationClient *own = start(kStation);
    StationClient *any = start(kAnyStation);
    StationClient *other = start(18);
    ASSERT_NE(other, nullptr);
    own->snapshot.statusText = "old";
    own->snapshot.infoValue = 9;
    Record reply = registrationReply();
    reply.u16(RegistrationReply::kShort, 0xFFFE);
    for (uint32_t i = 0; i < 4; ++i) reply.u32(RegistrationReply::kValues + 4 * i, 100 + i);
    for (StationClient *c : {own, any, other}) feed(*c, reply);
    for (StationClient *c : {own, any}) {
        EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERED);
        EXPECT_EQ(c->snapshot.stationId, kStation);
        EXPECT_EQ(c->regToken, test::kToken);
        EXPECT_EQ(c->snapshot.regShort, -2);
        EXPECT_EQ(c->snapshot.regValues[3], 103);
        EXPECT_EQ(c->snapshot.canNewcall, 1);
    }
    EXPECT_EQ(own->snapshot.statusText, nullptr);
    EXPECT_EQ(own->snapshot.infoValue, 0);
    EXPECT_EQ(other->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(snapshots().size(), 2u);
    feed(*own, registrationReply({.flags = kFlagConnected}));  // only while registering
    EXPECT_EQ(own->callFlags, kFlagCallAllowed);
}

TEST_F(Dispatch, ARefusalFailsOnlyARegisteringClientOfExactlyThatStation) {
    StationClient *any = start(kAnyStation);
    StationClient *a = start(1);
    StationClient *b = start(2);
    StationClient *c = start(3);
    StationClient *done = registered(4);
    ASSERT_NE(done, nullptr);
    auto refusal = [](uint8_t reason, int32_t station) {
        return Record({.type = kRegistrationRefusedType, .sub = reason, .station = station});
    };
    feed(*any, refusal(kRefusedUnknownUser, kAnyStation));
    feed(*done, refusal(kRefusedUnknownUser, 4));
    EXPECT_EQ(any->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(done->snapshot.regState, QAPI_REG_REGISTERED);
    feed(*a, refusal(kRefusedUnknownUser, 1));
    feed(*b, refusal(kRefusedSharedAddress, 2));
    feed(*c, refusal(7, 3));
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_STREQ(posted[0].statusText, "Quentara: User or IP address invalid!");
    EXPECT_STREQ(posted[1].statusText, "Quentara: Multiple users with same IP!");
    EXPECT_STREQ(posted[2].statusText, "Quentara: refused registration!");
    EXPECT_EQ(posted[2].regState, QAPI_REG_FAILED);
    EXPECT_EQ(c->superviseTicks, 0);
}

TEST_F(Dispatch, CallEventsMapToStationStatesAndCompareWithTheServerState) {
    StationClient *c = registered(kStation);
    ASSERT_NE(c, nullptr);
    feed(*c, event({.sub = kCallEventAlerting, .serverState = 6, .flags = kFlagCallAllowed}));
    auto posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].callState, kStateAlerting);
    EXPECT_EQ(posted[0].isAlerting, 1);
    EXPECT_EQ(posted[0].canAnswer, 1);
    feed(*c, event({.sub = kCallEventAnswered, .serverState = 10, .ref = 5, .flags = kFlagConnected}));
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
    EXPECT_EQ(c->snapshot.canConference, 1);
    c->snapshot.eventValue = 3;
    // Sub-code 9 keeps the state; the server's 4 was stored meanwhile, so
    // the state counts as changed.
    feed(*c, event({.sub = 9, .serverState = 4, .ref = 5, .flags = kFlagConnected}));
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
    EXPECT_EQ(c->snapshot.eventValue, 0);
    feed(*c, event({.sub = kCallEventIdle, .station = 18, .flags = kFlagCallAllowed}));  // another station
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
    feed(*c, event({.sub = kCallEventCleared, .serverState = 3, .flags = kFlagConnected}));
    EXPECT_EQ(c->snapshot.callState, kStateCleared);
    feed(*c, event({.sub = kCallEventTalking, .serverState = 3, .flags = kFlagConnected}));
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
}

TEST_F(Dispatch, ServerStateThirtyOnlyClearsTheFlagOrTalks) {
    StationClient *c = registered(kStation, {.state = kStateRingback, .flags = kConnectedCalls});
    ASSERT_NE(c, nullptr);
    const StationClient before = *c;
    feed(*c, event({.sub = kCallEventRingback,
                    .word = 0x1234,
                    .serverState = kServerStateSpecial,
                    .ref = 9,
                    .flags = 0x1FF}));
    EXPECT_EQ(std::memcmp(&before, c, sizeof before), 0);  // nothing at all
    feed(*c, event({.sub = kCallEventReleased, .serverState = kServerStateSpecial, .flags = 0x1FF}));
    EXPECT_EQ(c->callFlags, kFlagCallAllowed);  // only the connected flag dropped
    EXPECT_EQ(c->snapshot.callState, kStateRingback);
    feed(*c, event({.sub = kCallEventConnected,
                    .serverState = kServerStateSpecial,
                    .ref = 2,
                    .flags = kFlagConnected}));
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
    EXPECT_EQ(c->eventRef, 2);
    feed(*c,
         event({.type = kStationEventType, .sub = kStationEventTalking, .serverState = kServerStateSpecial}));
    EXPECT_EQ(c->callFlags, 0x0u);
    EXPECT_EQ(c->snapshot.callState, kStateTalking);
}

TEST_F(Dispatch, IndicatorKeyAndValueEventsPostWithoutEvaluatingTheState) {
    StationClient *c = registered(kStation, {.state = kStateTalking});
    ASSERT_NE(c, nullptr);
    auto callEvent = [](uint8_t sub, uint16_t word) {
        return event({.sub = sub, .word = word, .serverState = 5, .flags = kFlagCallAllowed});
    };
    feed(*c, callEvent(kCallEventIndicator, kIndicator1On));
    auto posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].indicator1, 1);
    EXPECT_EQ(posted[0].callState, 5);  // the server's state, not evaluated
    feed(*c, callEvent(kCallEventIndicator, kIndicator2On));
    feed(*c, callEvent(kCallEventIndicator, kIndicator3On));
    feed(*c, callEvent(kCallEventIndicator, kIndicator3OffToo));
    feed(*c, callEvent(kCallEventIndicator, 99));  // no such code: nothing
    posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2].indicator2, 1);
    EXPECT_EQ(posted[2].indicator3, 0);

    feed(*c, callEvent(kCallEventKey, 0x010B));
    feed(*c, callEvent(kCallEventKey, 0x0003));  // high byte 0: nothing
    feed(*c, callEvent(kCallEventKey, 0x0110));
    const auto keys = notes(QAPI_NOTIFY_KEY);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].lParam, 'B');
    EXPECT_EQ(keys[1].lParam, 255);

    feed(*c, callEvent(kCallEventValue, 0xBEEF));
    posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].eventValue, 0xBEEF);
}

TEST_F(Dispatch, EchoedDigitsAreToldAndAppendedAndEndThePickup) {
    StationClient *c = registered(kStation);
    ASSERT_NE(c, nullptr);
    feed(*c, event({.sub = kCallEventPickup, .serverState = 2, .flags = kFlagMailbox}));
    ASSERT_EQ(c->snapshot.canPickup, 1);
    ASSERT_EQ(c->snapshot.canMailbox, 1);
    drainMessages();
    auto digit = [](uint16_t word) {
        return event({.type = kStationEventType,
                      .sub = kStationEventDigit,
                      .word = word,
                      .serverState = 2,
                      .flags = kFlagMailbox});
    };
    feed(*c, digit(0x0B07));  // not shown
    EXPECT_EQ(c->eventWord, 0x0B07);
    EXPECT_TRUE(drainMessages().empty());
    feed(*c, digit(0x050E));
    EXPECT_EQ(c->eventWord, 0x000E);
    const auto all = drainMessages();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].wParam, static_cast<uintptr_t>(QAPI_NOTIFY_DIGIT));
    EXPECT_EQ(all[0].lParam, '*');
    EXPECT_EQ(all[1].wParam, static_cast<uintptr_t>(QAPI_NOTIFY_TEXT));
    EXPECT_STREQ(reinterpret_cast<const char *>(all[1].lParam), "*");
    EXPECT_STREQ(c->dialedText, "*");
    EXPECT_EQ(snapshotOf(all[2]).canPickup, 0);
    EXPECT_EQ(snapshotOf(all[2]).canMailbox, 0);
}

TEST_F(Dispatch, StationEventsGoIdleUnlessStillConnected) {
    StationClient *c = registered(kStation, {.state = kStateTalking});
    ASSERT_NE(c, nullptr);
    auto stationEvent = [](uint8_t sub, uint8_t serverState, uint32_t flags) {
        return event({.type = kStationEventType, .sub = sub, .serverState = serverState, .flags = flags});
    };
    feed(*c, stationEvent(kStationEventHangUp, 7, kFlagConnected));
    EXPECT_EQ(c->snapshot.callState, 7);  // the server's state stays
    feed(*c, stationEvent(kStationEventDisconnect, 7, kFlagCallAllowed));
    EXPECT_EQ(c->snapshot.callState, kStateIdle);
    feed(*c, stationEvent(kStationEventDialling, 0, kFlagCallAllowed));
    EXPECT_EQ(c->snapshot.callState, kStateDialling);
    EXPECT_EQ(c->snapshot.canDigits, 1);
}

TEST_F(Dispatch, NumbersAndDisplayTextsReachTheApplicationAsText) {
    StationClient *c = registered(kStation);
    ASSERT_NE(c, nullptr);
    // 0 C # 9, then a code above 15 that ends the number.
    const uint8_t codes[] = {0, 12, 15, 9, 16, 1};
    Record number({.type = kNumberInfoType, .size = NumberInfo::kSize});
    for (size_t i = NumberInfo::kCodes; i < NumberInfo::kSize; ++i) number.u8(i, kNoDialCode);
    for (size_t i = 0; i < sizeof codes; ++i) number.u8(NumberInfo::kCodes + i, codes[i]);
    feed(*c, number);
    feed(*c, Record(number).u8(NumberInfo::kCodes, kNoDialCode));
    feed(*c, Record(number).u8(RecordHeader::kExtra, 1));  // another kind of number
    auto texts = notes(QAPI_NOTIFY_NUMBER);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char *>(texts[0].lParam), "0C#9");
    EXPECT_STREQ(reinterpret_cast<const char *>(texts[1].lParam), "");

    Record display({.type = kDisplayTextType, .size = DisplayText::kText + DisplayText::kChars});
    for (size_t i = 0; i < DisplayText::kChars; ++i)
        display.u8(DisplayText::kText + i, static_cast<uint8_t>('A' + i));
    feed(*c, display);
    feed(*c, Record(display).u8(RecordHeader::kLength, DisplayText::kLength - 1));
    feed(*c, Record(display).u8(RecordHeader::kLength, DisplayText::kLength + 1));
    texts = notes(QAPI_NOTIFY_TEXT);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(texts[0].lParam)),
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`");
}

TEST_F(Dispatch, StatusRepliesAndFlagUpdatesTakeTheFlagsAndInfoValuesAreShown) {
    StationClient *c = registered(kStation, {.state = kStateTalking});
    ASSERT_NE(c, nullptr);
    c->retryCount = 2;
    c->superviseTicks = 9;
    feed(*c, flagsRecord({.state = kStateAlerting, .flags = kFlagCallAllowed}));
    EXPECT_EQ(c->retryCount, 0);
    EXPECT_EQ(c->snapshot.canAnswer, 1);
    feed(*c, flagsRecord({.type = kFlagsUpdateType, .state = kStateAlerting, .flags = kFlagCallAllowed}));
    EXPECT_EQ(c->snapshot.callState, kStateIdle);  // a flags update always means idle
    EXPECT_EQ(c->snapshot.canNewcall, 1);
    feed(*c, Record({.type = kInfoValueType, .sub = 0xA5}));
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2].infoValue, 0xA5);
}

TEST_F(Dispatch, ReevaluationsActInEveryStateAndIgnoreTheStation) {
    StationClient *waiting = start(5);
    StationClient *talking = registered(6, {.state = kStateTalking, .flags = kConnectedCalls});
    ASSERT_NE(talking, nullptr);
    waiting->callFlags = kFlagConnected;
    feed(*waiting, Record({.type = kReevaluateType, .station = 99}));
    feed(*talking, Record({.type = kReevaluateType2, .station = 99}));
    EXPECT_EQ(waiting->callFlags, 0u);
    EXPECT_EQ(talking->callFlags, kFlagCallAllowed);
    EXPECT_EQ(talking->snapshot.canRetrieve, 0);
    EXPECT_EQ(talking->snapshot.callState, kStateTalking);
}

TEST_F(Dispatch, RecordsShorterThanWhatTheirHandlingReadsAreIgnored) {
    StationClient *waiting = start(5);
    StationClient *c = registered(kStation);
    ASSERT_NE(c, nullptr);
    feed(*waiting, registrationReply({.station = 5}).cut(36));
    feed(*c, event({.sub = kCallEventAlerting, .serverState = 6, .flags = kFlagCallAllowed}).cut(20));
    feed(*c,
         event({.type = kStationEventType, .sub = kStationEventDialling, .flags = kFlagCallAllowed}).cut(20));
    feed(*c, flagsRecord({.state = kStateAlerting, .flags = 0x1FF}).cut(12));
    feed(*c, flagsRecord({.type = kFlagsUpdateType, .flags = 0x1FF}).cut(12));
    feed(*c, Record({.type = kNumberInfoType, .size = NumberInfo::kSize}).cut(36));
    feed(*c, Record({.type = kInfoValueType, .sub = 4}).cut(8));
    feed(*c, Record({.type = kReevaluateType}).cut(8));
    EXPECT_EQ(waiting->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(c->snapshot.callState, kStateIdle);
    EXPECT_EQ(c->callFlags, kFlagCallAllowed);
    EXPECT_EQ(c->snapshot.infoValue, 0);
    EXPECT_TRUE(drainMessages().empty());
}

// Through the tick: a datagram multicast to this host reaches every client,
// which takes only its own records, before any supervision of the tick.
TEST_F(Dispatch, TheTickHandsRecordsForThisHostToEveryClientBeforeSupervising) {
    StationClient *a = start(1);
    StationClient *b = start(2);
    ASSERT_NE(b, nullptr);
    test::runTicks(1);  // both registered on tick 1
    const uint32_t host = stationEndpoint().endpoint.localAddress;
    ASSERT_NE(host, 0u);
    std::vector<uint8_t> datagram;
    for (const Record &r :
         {registrationReply({.station = 2}).to(host), registrationReply({.station = 1}).to(host),
          registrationReply({.station = 1, .flags = kFlagConnected}).to(host + 1)}) {
        datagram.insert(datagram.end(), r.bytes.begin(),
                        r.bytes.end());  // the last for another host: skipped
    }
    test::GroupSender(test::kStationPort).send(datagram);
    ASSERT_TRUE(test::stationDatagramWaiting());
    test::runTicks(1);
    EXPECT_EQ(a->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(b->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(a->callFlags, kFlagCallAllowed);
    EXPECT_EQ(a->superviseTicks, 1);  // the reply came first, then this tick's supervision
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].stationId, 2);  // slot order, record order
}

}  // namespace
}  // namespace qapi
