// Call control on the wire: the feature keys with their permission bytes,
// suspend, a new call sent outside the queue, taking back a listed call,
// deflecting, and what a full request queue refuses.
#include <cstring>
#include <string>

#include "core/wire.h"
#include "station/call_control.h"
#include "station/framing.h"
#include "station/monitor_panel.h"
#include "station/park_table.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using test::Datagram;
using test::drainMessages;
using test::wordAt;
using Permission = uint8_t StatusSnapshot::*;

struct Key {
    const char *name;
    int(QAPI_CALL *operation)(QapiHandle);  // the exports' own convention (__stdcall on 32-bit Windows)
    Permission allowed;
    uint16_t code;
};

const Key kKeys[] = {
    {"answer", QAPI_Client_answer, &StatusSnapshot::canAnswer, 167},
    {"clear", QAPI_Client_clear, &StatusSnapshot::canClear, 160},
    {"hold", QAPI_Client_hold, &StatusSnapshot::canHold, 161},
    {"retrieve", QAPI_Client_retrieve, &StatusSnapshot::canRetrieve, 164},
    {"callb", QAPI_Client_callb, &StatusSnapshot::canCallback, 165},
    {"conference", QAPI_Client_conference, &StatusSnapshot::canConference, 162},
    {"transfer", QAPI_Client_transfer, &StatusSnapshot::canTransfer, 163},
    {"record_start", QAPI_Client_record_start, &StatusSnapshot::canRecordStart, 173},
    {"record_stop", QAPI_Client_record_stop, &StatusSnapshot::canRecordStop, 174},
    {"mailbox", QAPI_Client_mailbox, &StatusSnapshot::canMailbox, 172},
};

class CallControl : public test::RegisteredStationTest {
protected:
    void allowEverything() {
        std::memset(&c->snapshot.canNewcall, 1,
                    offsetof(StatusSnapshot, canPickup) + 1 - offsetof(StatusSnapshot, canNewcall));
    }
    // A listed call 42, watched extensions 300 (status 2) and 301 (status 3),
    // a parked call 9, and every permission: each operation could act.
    void readyEveryOperation() {
        listCall(42);
        QAPI_Client_bdp_register(c, 300, 1);
        QAPI_Client_bdp_register(c, 301, 1);
        for (auto [extension, status] :
             {std::pair{300, kExtensionAnswerable}, std::pair{301, kExtensionIntrudable}}) {
            std::vector<uint8_t> body(4);
            writeU32le(body.data(), static_cast<uint32_t>(extension));
            const auto watched = test::stationRecord(
                {.destination = kBroadcast, .type = kExtensionStatusType, .extra = status, .body = body});
            stationOnMonitorStatus(*c, watched.data(), watched.size());
        }
        const std::vector<uint8_t> parked = test::stationRecord(
            {.destination = kBroadcast, .type = kParkListType, .body = {9, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}});
        stationOnParkList(parked.data(), parked.size());
        drainMessages();
        allowEverything();
    }
    // Every operation that queues a request is refused, sends and posts
    // nothing, and leaves the client as it was, byte for byte.
    void expectEveryQueuedOperationRefused() {
        std::vector<uint8_t> before(sizeof *c);
        std::memcpy(before.data(), c, sizeof *c);
        for (const Key &key : kKeys) EXPECT_EQ(key.operation(c), 1) << key.name;
        EXPECT_EQ(QAPI_Client_suspend(c), 1);
        EXPECT_EQ(QAPI_Client_transfer_undo(c, "42"), 1);
        EXPECT_EQ(QAPI_Client_deflect(c, "12"), 1);
        EXPECT_EQ(QAPI_Client_bdp_answer(c, 300), 1);
        EXPECT_EQ(QAPI_Client_bdp_intrude(c, 301), 1);
        EXPECT_EQ(QAPI_Client_resume(c, 9), 1);
        EXPECT_EQ(std::memcmp(before.data(), c, sizeof *c), 0);
        EXPECT_TRUE(tap->take().empty());
        EXPECT_TRUE(drainMessages().empty());
    }
    void forbidEverything() {
        std::memset(&c->snapshot.canNewcall, 0,
                    offsetof(StatusSnapshot, canPickup) + 1 - offsetof(StatusSnapshot, canNewcall));
    }
    // A call of the station's list, reported by the server.
    void listCall(uint16_t number) {
        feed(*c, test::callEntry({.state = kCallSeized, .number = number, .firstId = 1, .secondId = 2}));
        drainMessages();
    }
    // Expects one request of `type` sent now, `bytes` long, and acknowledges it.
    Datagram oneRequest(uint8_t type, size_t bytes) {
        const auto sent = tap->take();
        EXPECT_EQ(sent.size(), 1u);
        if (sent.size() != 1) return {};
        EXPECT_EQ(sent[0].size(), bytes);
        EXPECT_EQ(test::typeOf(sent[0]), type);
        EXPECT_EQ(wordAt(sent[0], 0), 0);
        EXPECT_EQ(test::wordOf(sent[0]), test::kToken);
        ack(test::sequenceOf(sent[0]));
        return sent[0];
    }
};

TEST_F(CallControl, EachFeatureKeyNeedsItsPermissionAndTravelsAsATwelveByteKey) {
    for (const Key &key : kKeys) {
        SCOPED_TRACE(key.name);
        forbidEverything();
        EXPECT_EQ(key.operation(c), 1);
        EXPECT_TRUE(tap->take().empty());
        c->snapshot.*key.allowed = 1;
        EXPECT_EQ(key.operation(c), 0);
        const Datagram d = oneRequest(kFeatureKeyType, 12);
        if (!d.empty()) {
            EXPECT_EQ(test::codeOf(d), key.code);
        }
    }
    EXPECT_TRUE(drainMessages().empty());
}

TEST_F(CallControl, SuspendQueuesHoldThenSuspendAndTheSecondWaitsForTheFirstAcknowledgement) {
    EXPECT_EQ(QAPI_Client_suspend(c), 1);
    c->snapshot.canSuspend = 1;
    EXPECT_EQ(QAPI_Client_suspend(c), 0);
    EXPECT_EQ(readU16le(oneRequest(kFeatureKeyType, 12).data() + 6), 161);
    EXPECT_EQ(readU16le(oneRequest(kFeatureKeyType, 12).data() + 6), 171);
    EXPECT_EQ(c->queueHead, c->queueTail);
}

TEST_F(CallControl, EveryOperationRefusesAHandleThatIsNotALiveClient) {
    StationClient *gone = start(18);
    ASSERT_NE(gone, nullptr);
    std::memset(&gone->snapshot.canNewcall, 1,
                offsetof(StatusSnapshot, canPickup) + 1 - offsetof(StatusSnapshot, canNewcall));
    ASSERT_EQ(QAPI_Client_stop(gone), 0);
    int local = 0;
    for (QapiHandle h :
         {static_cast<QapiHandle>(nullptr), static_cast<QapiHandle>(gone), static_cast<QapiHandle>(&local)}) {
        for (const Key &key : kKeys) EXPECT_EQ(key.operation(h), 1) << key.name;
        EXPECT_EQ(QAPI_Client_suspend(h), 1);
        EXPECT_EQ(QAPI_Client_newcall(h, "1"), 1);
        EXPECT_EQ(QAPI_Client_digits(h, "1"), 1);
        EXPECT_EQ(QAPI_Client_transfer_undo(h, "1"), 1);
        EXPECT_EQ(QAPI_Client_deflect(h, "1"), 1);
        EXPECT_EQ(QAPI_Client_bdp_register(h, 100, 1), 1);
        EXPECT_EQ(QAPI_Client_bdp_answer(h, 100), 1);
        EXPECT_EQ(QAPI_Client_bdp_intrude(h, 100), 1);
        EXPECT_EQ(QAPI_Client_resume(h, 1), 1);
    }
    EXPECT_TRUE(tap->take().empty());
    EXPECT_TRUE(drainMessages().empty());
}

TEST_F(CallControl, ANewCallIsSentAtOnceOutsideTheQueueAndStartsTheDialedTextAfresh) {
    c->snapshot.canDigits = 1;
    ASSERT_EQ(QAPI_Client_digits(c, "9"), 0);  // pending, and shown as dialed
    drainMessages();
    ASSERT_TRUE(stationSendFeatureKey(*c, kClearKey));  // outstanding in the queue
    tap->take();

    EXPECT_EQ(QAPI_Client_newcall(c, "12x4"), 0);
    auto sent = tap->take();
    ASSERT_EQ(sent.size(), 1u);
    const Datagram &d = sent[0];
    ASSERT_EQ(d.size(), 44u);
    EXPECT_EQ(wordAt(d, 0), 0);
    EXPECT_EQ(test::typeOf(d), kNewCallType);
    EXPECT_EQ(test::sequenceOf(d), 0);  // no sequence: never acknowledged
    EXPECT_EQ(test::codeOf(d), 0);
    EXPECT_EQ(test::wordOf(d), test::kToken);
    EXPECT_EQ(d[12], 1);
    EXPECT_EQ(d[13], 2);
    for (size_t i = 14; i < 44; ++i) EXPECT_EQ(d[i], 0xFF) << i;
    EXPECT_STREQ(c->dialedText, "12");
    EXPECT_EQ(c->pendingDial[0], kNoDialCode);
    EXPECT_EQ(c->queueHead, 1);  // the queued key is untouched
    auto texts = notes(QAPI_NOTIFY_TEXT);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char *>(texts[0].lParam), "12");

    // Without digits: 32 empty codes and an empty text.
    EXPECT_EQ(QAPI_Client_newcall(c, nullptr), 0);
    sent = tap->take();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 44u);
    for (size_t i = 12; i < 44; ++i) EXPECT_EQ(sent[0][i], 0xFF) << i;
    EXPECT_STREQ(c->dialedText, "");
    EXPECT_EQ(notes(QAPI_NOTIFY_TEXT).size(), 1u);

    // Not allowed: nothing sent, nothing posted.
    c->snapshot.canNewcall = 0;
    EXPECT_EQ(QAPI_Client_newcall(c, "5"), 1);
    EXPECT_TRUE(tap->take().empty());
    EXPECT_TRUE(drainMessages().empty());
}

TEST_F(CallControl, TransferUndoSendsTheListedCallsNumberPlusOne) {
    listCall(42);
    listCall(65535);
    EXPECT_EQ(QAPI_Client_transfer_undo(c, "0042"), 1);  // needs canPickup
    c->snapshot.canPickup = 1;
    EXPECT_EQ(QAPI_Client_transfer_undo(c, nullptr), 1);
    EXPECT_EQ(QAPI_Client_transfer_undo(c, "43"), 1);     // not listed
    EXPECT_EQ(QAPI_Client_transfer_undo(c, "x42"), 1);    // 0: not listed
    EXPECT_EQ(QAPI_Client_transfer_undo(c, "65578"), 1);  // 42 in 16 bits, but no call has it
    EXPECT_TRUE(tap->take().empty());

    for (const char *text : {"0042", "42abc"}) {
        EXPECT_EQ(QAPI_Client_transfer_undo(c, text), 0) << text;
        const Datagram d = oneRequest(kTransferUndoType, 12);
        if (!d.empty()) {
            EXPECT_EQ(test::codeOf(d), 43);
        }
    }
    // 65535 + 1 is 0 in 16 bits: no code, so the request carries an empty payload.
    EXPECT_EQ(QAPI_Client_transfer_undo(c, "65535"), 0);
    const Datagram d = oneRequest(kTransferUndoType, 44);
    ASSERT_EQ(d.size(), 44u);
    EXPECT_EQ(test::codeOf(d), 0);
    for (size_t i = 12; i < 44; ++i) EXPECT_EQ(d[i], 0) << i;
}

TEST_F(CallControl, DeflectWorksInAnyStateAndNeedsALeadingDialCharacter) {
    forbidEverything();
    c->snapshot.canDigits = 1;
    ASSERT_EQ(QAPI_Client_digits(c, "7"), 0);
    drainMessages();
    EXPECT_EQ(QAPI_Client_deflect(c, nullptr), 1);
    EXPECT_EQ(QAPI_Client_deflect(c, "x12"), 1);
    EXPECT_TRUE(tap->take().empty());
    EXPECT_EQ(QAPI_Client_deflect(c, "#12"), 0);
    const Datagram d = oneRequest(kDeflectType, 44);
    ASSERT_EQ(d.size(), 44u);
    EXPECT_EQ(test::codeOf(d), 0);
    EXPECT_EQ(d[12], 15);
    EXPECT_EQ(d[13], 1);
    EXPECT_EQ(d[14], 2);
    for (size_t i = 15; i < 44; ++i) EXPECT_EQ(d[i], 0xFF) << i;
    // The dialing is not touched and nothing is posted.
    EXPECT_EQ(c->pendingDial[0], 7);
    EXPECT_STREQ(c->dialedText, "7");
    EXPECT_TRUE(drainMessages().empty());
}

TEST_F(CallControl, AFullQueueRefusesEveryQueuedOperationAndChangesNothing) {
    readyEveryOperation();
    // Room for one: suspend needs two and queues neither.
    fillQueue(62);
    EXPECT_EQ(QAPI_Client_suspend(c), 1);
    EXPECT_EQ(c->queueHead, 62);
    ASSERT_TRUE(stationSendFeatureKey(*c, kClearKey));
    tap->take();
    expectEveryQueuedOperationRefused();

    // A new call does not use the queue and still goes.
    EXPECT_EQ(QAPI_Client_newcall(c, "5"), 0);
    EXPECT_EQ(tap->take().size(), 1u);
    // Once the server acknowledges one, the queue takes a request again.
    ack(0x81);
    tap->take();
    EXPECT_EQ(QAPI_Client_answer(c), 0);
}

// A station that is not registered allows nothing: its failure snapshot
// shows no permission, and every operation that would send a request is
// refused and changes nothing, whatever a permission byte says.  Watching
// goes on; the next registration brings the permissions back.
TEST_F(CallControl, AStationThatIsNotRegisteredAllowsNothingUntilItRegistersAgain) {
    readyEveryOperation();
    tap->take();
    for (int t = 0; t < 300 && c->snapshot.regState != QAPI_REG_FAILED; ++t) test::runTicks(1);
    ASSERT_EQ(c->snapshot.regState, QAPI_REG_FAILED);
    const auto posted = notes(QAPI_NOTIFY_SNAPSHOT);
    ASSERT_FALSE(posted.empty());
    const auto *bytes = reinterpret_cast<const uint8_t *>(&snapshotOf(posted.back()).canNewcall);
    for (size_t i = 0; i <= offsetof(StatusSnapshot, canPickup) - offsetof(StatusSnapshot, canNewcall); ++i) {
        EXPECT_EQ(bytes[i], 0) << "permission byte " << i;
    }
    tap->take();
    drainMessages();
    allowEverything();
    expectEveryQueuedOperationRefused();
    EXPECT_EQ(QAPI_Client_newcall(c, "5"), 1);
    EXPECT_EQ(QAPI_Client_digits(c, "5"), 1);
    EXPECT_TRUE(tap->take().empty());
    EXPECT_EQ(QAPI_Client_bdp_register(c, 400, 1), 0);

    c->snapshot.regState = QAPI_REG_REGISTERING;
    registerClient(*c);
    EXPECT_EQ(c->snapshot.canNewcall, 1);
    EXPECT_EQ(QAPI_Client_newcall(c, "5"), 0);
}

}  // namespace
}  // namespace qapi
