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
using test::Record;
using test::registrationReply;

class Dispatch : public test::StationTest {
protected:
    std::vector<QapiStatusSnapshot> snapshots() {
        std::vector<QapiStatusSnapshot> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_SNAPSHOT)) out.push_back(snapshotOf(m));
        return out;
    }
    StationClient *registered(int32_t id, uint32_t flags = 0x100, uint8_t state = 0) {
        StationClient *c = start(id);
        if (c) registerClient(*c, flags, state);
        return c;
    }
};

TEST_F(Dispatch, ARegistrationReplyRegistersItsStationAndAClientWaitingForAnIdentifier) {
    StationClient *own = start(17);
    StationClient *any = start(-1);
    StationClient *other = start(18);
    ASSERT_NE(other, nullptr);
    own->snapshot.statusText = "old";
    own->snapshot.infoValue = 9;
    Record reply = registrationReply(17, 0x100, 0);
    reply.u16(20, 0xFFFE);
    for (int i = 0; i < 4; ++i) reply.u32(24 + 4 * i, 100 + i);
    for (StationClient *c : {own, any, other}) feed(*c, reply);
    for (StationClient *c : {own, any}) {
        EXPECT_EQ(c->snapshot.regState, QAPI_REG_REGISTERED);
        EXPECT_EQ(c->snapshot.stationId, 17);
        EXPECT_EQ(c->regToken, test::kToken);
        EXPECT_EQ(c->snapshot.regShort, -2);
        EXPECT_EQ(c->snapshot.regValues[3], 103);
        EXPECT_EQ(c->snapshot.canNewcall, 1);
    }
    EXPECT_EQ(own->snapshot.statusText, nullptr);
    EXPECT_EQ(own->snapshot.infoValue, 0);
    EXPECT_EQ(other->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(snapshots().size(), 2u);
    feed(*own, registrationReply(17, 0x1));  // only while registering
    EXPECT_EQ(own->callFlags, 0x100u);
}

TEST_F(Dispatch, ARefusalFailsOnlyARegisteringClientOfExactlyThatStation) {
    StationClient *any = start(-1);
    StationClient *a = start(1);
    StationClient *b = start(2);
    StationClient *c = start(3);
    StationClient *done = registered(4);
    ASSERT_NE(done, nullptr);
    feed(*any, Record(kRegistrationRefusedType, 1, -1, 12));
    feed(*done, Record(kRegistrationRefusedType, 1, 4, 12));
    EXPECT_EQ(any->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(done->snapshot.regState, QAPI_REG_REGISTERED);
    feed(*a, Record(kRegistrationRefusedType, 1, 1, 12));
    feed(*b, Record(kRegistrationRefusedType, 2, 2, 12));
    feed(*c, Record(kRegistrationRefusedType, 7, 3, 12));
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_STREQ(posted[0].statusText, "Quentara: User or IP address invalid!");
    EXPECT_STREQ(posted[1].statusText, "Quentara: Multiple users with same IP!");
    EXPECT_STREQ(posted[2].statusText, "Quentara: refused registration!");
    EXPECT_EQ(posted[2].regState, QAPI_REG_FAILED);
    EXPECT_EQ(c->superviseTicks, 0);
}

TEST_F(Dispatch, CallEventsMapToStationStatesAndCompareWithTheServerState) {
    StationClient *c = registered(17);
    ASSERT_NE(c, nullptr);
    feed(*c, event(kCallEventType, 17, 6, 6, 0, 0x100));
    auto posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].callState, 6);
    EXPECT_EQ(posted[0].isAlerting, 1);
    EXPECT_EQ(posted[0].canAnswer, 1);
    feed(*c, event(kCallEventType, 17, 8, 10, 0, 0x1, 5));
    EXPECT_EQ(c->snapshot.callState, 10);
    EXPECT_EQ(c->snapshot.canConference, 1);
    c->snapshot.eventValue = 3;
    feed(*c, event(kCallEventType, 17, 9, 4, 0, 0x1, 5));  // keeps 10, yet 4 was stored
    EXPECT_EQ(c->snapshot.callState, 10);
    EXPECT_EQ(c->snapshot.eventValue, 0);
    feed(*c, event(kCallEventType, 18, 1, 0, 0, 0x100));  // another station
    EXPECT_EQ(c->snapshot.callState, 10);
    feed(*c, event(kCallEventType, 17, 2, 3, 0, 0x1));
    EXPECT_EQ(c->snapshot.callState, 12);
    feed(*c, event(kCallEventType, 17, 34, 3, 0, 0x1));
    EXPECT_EQ(c->snapshot.callState, 10);
}

TEST_F(Dispatch, ServerStateThirtyOnlyClearsTheFlagOrTalks) {
    StationClient *c = registered(17, 0x101, 4);
    ASSERT_NE(c, nullptr);
    const StationClient before = *c;
    feed(*c, event(kCallEventType, 17, 7, 30, 0x1234, 0x1FF, 9));
    EXPECT_EQ(std::memcmp(&before, c, sizeof before), 0);  // nothing at all
    feed(*c, event(kCallEventType, 17, 5, 30, 0, 0x1FF));
    EXPECT_EQ(c->callFlags, 0x100u);
    EXPECT_EQ(c->snapshot.callState, 4);
    feed(*c, event(kCallEventType, 17, 13, 30, 0, 0x1, 2));
    EXPECT_EQ(c->snapshot.callState, 10);
    EXPECT_EQ(c->eventRef, 2);
    feed(*c, event(kStationEventType, 17, 10, 30, 0, 0x0));
    EXPECT_EQ(c->callFlags, 0x0u);
    EXPECT_EQ(c->snapshot.callState, 10);
}

TEST_F(Dispatch, IndicatorKeyAndValueEventsPostWithoutEvaluatingTheState) {
    StationClient *c = registered(17, 0x100, 10);
    ASSERT_NE(c, nullptr);
    feed(*c, event(kCallEventType, 17, 12, 5, 0, 0x100));
    auto posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].indicator1, 1);
    EXPECT_EQ(posted[0].callState, 5);  // the server's state, not evaluated
    feed(*c, event(kCallEventType, 17, 12, 5, 121, 0x100));
    feed(*c, event(kCallEventType, 17, 12, 5, 66, 0x100));
    feed(*c, event(kCallEventType, 17, 12, 5, 128, 0x100));
    feed(*c, event(kCallEventType, 17, 12, 5, 99, 0x100));  // no such code: nothing
    posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2].indicator2, 1);
    EXPECT_EQ(posted[2].indicator3, 0);

    feed(*c, event(kCallEventType, 17, 15, 5, 0x010B, 0x100));
    feed(*c, event(kCallEventType, 17, 15, 5, 0x0003, 0x100));  // high byte 0: nothing
    feed(*c, event(kCallEventType, 17, 15, 5, 0x0110, 0x100));
    const auto keys = notes(QAPI_NOTIFY_KEY);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].lParam, 'B');
    EXPECT_EQ(keys[1].lParam, 255);

    feed(*c, event(kCallEventType, 17, 23, 5, 0xBEEF, 0x100));
    posted = snapshots();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].eventValue, 0xBEEF);
}

TEST_F(Dispatch, EchoedDigitsAreToldAndAppendedAndEndThePickup) {
    StationClient *c = registered(17, 0x100);
    ASSERT_NE(c, nullptr);
    feed(*c, event(kCallEventType, 17, 3, 2, 0, 0x20));  // pickup state, mailbox allowed
    ASSERT_EQ(c->snapshot.canPickup, 1);
    ASSERT_EQ(c->snapshot.canMailbox, 1);
    drainMessages();
    feed(*c, event(kStationEventType, 17, 2, 2, 0x0B07, 0x20));  // not shown
    EXPECT_EQ(c->eventWord, 0x0B07);
    EXPECT_TRUE(drainMessages().empty());
    feed(*c, event(kStationEventType, 17, 2, 2, 0x050E, 0x20));
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
    StationClient *c = registered(17, 0x100, 10);
    ASSERT_NE(c, nullptr);
    feed(*c, event(kStationEventType, 17, 4, 7, 0, 0x1));
    EXPECT_EQ(c->snapshot.callState, 7);  // the server's state stays
    feed(*c, event(kStationEventType, 17, 16, 7, 0, 0x100));
    EXPECT_EQ(c->snapshot.callState, 0);
    feed(*c, event(kStationEventType, 17, 1, 0, 0, 0x100));
    EXPECT_EQ(c->snapshot.callState, 1);
    EXPECT_EQ(c->snapshot.canDigits, 1);
}

TEST_F(Dispatch, NumbersAndDisplayTextsReachTheApplicationAsText) {
    StationClient *c = registered(17);
    ASSERT_NE(c, nullptr);
    Record number(kNumberInfoType, 0, 17, 40);
    for (size_t i = 12; i < 40; ++i) number.u8(i, 0xFF);
    number.u8(12, 0).u8(13, 12).u8(14, 15).u8(15, 9).u8(16, 16).u8(17, 1);
    feed(*c, number);
    feed(*c, Record(number).u8(12, 0xFF));
    feed(*c, Record(number).u8(6, 1));  // another kind of number
    auto texts = notes(QAPI_NOTIFY_NUMBER);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char *>(texts[0].lParam), "0C#9");
    EXPECT_STREQ(reinterpret_cast<const char *>(texts[1].lParam), "");

    Record display(kDisplayTextType, 0, 17, 44);
    for (size_t i = 12; i < 44; ++i) display.u8(i, static_cast<uint8_t>('A' + i - 12));
    feed(*c, display);
    feed(*c, Record(display).u8(7, 9));
    feed(*c, Record(display).u8(7, 11));
    texts = notes(QAPI_NOTIFY_TEXT);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(texts[0].lParam)), "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`");
}

TEST_F(Dispatch, StatusRepliesAndFlagUpdatesTakeTheFlagsAndInfoValuesAreShown) {
    StationClient *c = registered(17, 0x100, 10);
    ASSERT_NE(c, nullptr);
    c->retryCount = 2;
    c->superviseTicks = 9;
    feed(*c, Record(kStatusReplyType, 6, 17, 16).u32(12, 0x100));
    EXPECT_EQ(c->retryCount, 0);
    EXPECT_EQ(c->snapshot.canAnswer, 1);
    feed(*c, Record(kFlagsUpdateType, 6, 17, 16).u32(12, 0x100));
    EXPECT_EQ(c->snapshot.callState, 0);
    EXPECT_EQ(c->snapshot.canNewcall, 1);
    feed(*c, Record(kInfoValueType, 0xA5, 17, 12));
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2].infoValue, 0xA5);
}

TEST_F(Dispatch, ReevaluationsActInEveryStateAndIgnoreTheStation) {
    StationClient *waiting = start(5);
    StationClient *talking = registered(6, 0x101, 10);
    ASSERT_NE(talking, nullptr);
    waiting->callFlags = 0x1;
    feed(*waiting, Record(kReevaluateType, 0, 99, 12));
    feed(*talking, Record(kReevaluateType2, 0, 99, 12));
    EXPECT_EQ(waiting->callFlags, 0u);
    EXPECT_EQ(talking->callFlags, 0x100u);
    EXPECT_EQ(talking->snapshot.canRetrieve, 0);
    EXPECT_EQ(talking->snapshot.callState, 10);
}

TEST_F(Dispatch, RecordsShorterThanWhatTheirHandlingReadsAreIgnored) {
    StationClient *waiting = start(5);
    StationClient *c = registered(17);
    ASSERT_NE(c, nullptr);
    auto cut = [](Record r, size_t n) {
        r.bytes.resize(n);
        return r;
    };
    feed(*waiting, cut(registrationReply(5, 0x100), 36));
    feed(*c, cut(event(kCallEventType, 17, 6, 6, 0, 0x100), 20));
    feed(*c, cut(event(kStationEventType, 17, 1, 0, 0, 0x100), 20));
    feed(*c, cut(Record(kStatusReplyType, 6, 17, 16).u32(12, 0x1FF), 12));
    feed(*c, cut(Record(kFlagsUpdateType, 0, 17, 16).u32(12, 0x1FF), 12));
    Record number(kNumberInfoType, 0, 17, 40);
    feed(*c, cut(number, 36));
    feed(*c, cut(Record(kInfoValueType, 4, 17, 12), 8));
    feed(*c, cut(Record(kReevaluateType, 0, 17, 12), 8));
    EXPECT_EQ(waiting->snapshot.regState, QAPI_REG_REGISTERING);
    EXPECT_EQ(c->snapshot.callState, 0);
    EXPECT_EQ(c->callFlags, 0x100u);
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
    std::vector<uint8_t> datagram = registrationReply(2, 0x100).bytes;
    const auto forA = registrationReply(1, 0x100).bytes;
    datagram.insert(datagram.end(), forA.begin(), forA.end());
    const auto elsewhere = registrationReply(1, 0x1).bytes;
    datagram.insert(datagram.end(), elsewhere.begin(), elsewhere.end());
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) datagram[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, host);
    put(40, host);
    put(80, host + 1);  // for another host: skipped
    test::GroupSender(test::kStationPort).send(datagram);
    ASSERT_TRUE(test::stationDatagramWaiting());
    test::runTicks(1);
    EXPECT_EQ(a->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(b->snapshot.regState, QAPI_REG_REGISTERED);
    EXPECT_EQ(a->callFlags, 0x100u);
    EXPECT_EQ(a->superviseTicks, 1);  // the reply came first, then this tick's supervision
    const auto posted = snapshots();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].stationId, 2);  // slot order, record order
}

}  // namespace
}  // namespace qapi
