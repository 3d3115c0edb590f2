// The simulated server's side of the station protocol: registration,
// keep-alive, acknowledgement and the call model's answers to feature keys.
#include <gtest/gtest.h>

#include "records.h"
#include "sim/switchboard.h"

namespace qsim {
namespace {

using namespace station;
using test::ofType;
using test::Seen;
using test::split;

constexpr uint32_t kSource = 0x0A4E0001;  // 10.78.0.1

Bytes request(uint8_t type, uint8_t sequence, uint16_t code, uint32_t word, Bytes payload = {}) {
    Bytes b(12 + payload.size(), 0);
    b[4] = type;
    b[5] = sequence;
    putU16(b, 6, code);
    putU32(b, 8, word);
    std::copy(payload.begin(), payload.end(), b.begin() + 12);
    return b;
}

Bytes codes(const std::string &digits) {
    Bytes b(32);
    putDialCodes(b, 0, 32, digits);
    return b;
}

class SimSwitchboard : public ::testing::Test {
protected:
    Output send(const Bytes &d) { return board.onDatagram(d.data(), d.size(), kSource); }
    // Registers a station and returns its token.
    uint32_t registerStation(int32_t id) {
        const auto replies = ofType(send(request(kRegisterRequest, 0, 0, static_cast<uint32_t>(id))).datagram,
                                    kRegistrationReply);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? 0 : replies[0].u32(12);
    }
    // Sends a queued request with the next sequence byte.
    Output press(uint32_t token, uint8_t type, uint16_t code, Bytes payload = {}) {
        sequence = sequence == 0xBF ? 0x80 : sequence + 1;
        return send(request(type, sequence, code, token, std::move(payload)));
    }
    Output key(uint32_t token, uint16_t code) { return press(token, kFeatureKey, code); }
    // The one call event of an output.
    static Seen eventOf(const Output &out) {
        auto events = ofType(out.datagram, kCallEvent);
        for (Seen &s : ofType(out.datagram, kStationEvent)) events.push_back(s);
        EXPECT_EQ(events.size(), 1u);
        return events.empty() ? Seen{Bytes(24)} : events[0];
    }

    Switchboard board{SwitchboardConfig{}};
    uint8_t sequence = 0x80;
};

TEST_F(SimSwitchboard, RegistrationAssignsIdentifiersAndAddressesTheSource) {
    const Output first = send(request(kRegisterRequest, 0, 0, 0xFFFFFFFF));
    const Seen reply = ofType(first.datagram, kRegistrationReply).at(0);
    EXPECT_EQ(reply.destination(), kSource);
    EXPECT_EQ(reply.u32(8), 100u);
    EXPECT_EQ(reply.u32(16) & 0x100, 0x100u) << "new calls allowed";
    EXPECT_EQ(
        ofType(send(request(kRegisterRequest, 0, 0, 0xFFFFFFFF)).datagram, kRegistrationReply).at(0).u32(8),
        101u);
    EXPECT_TRUE(board.isRegistered(100));

    Switchboard told{SwitchboardConfig{100, 0x7F000001}};
    const Bytes d = request(kRegisterRequest, 0, 0, 17);
    EXPECT_EQ(split(told.onDatagram(d.data(), d.size(), kSource).datagram).at(0).destination(), 0x7F000001u);
}

TEST_F(SimSwitchboard, KeepAlivesAreAnsweredOnlyForKnownTokens) {
    const uint32_t token = registerStation(17);
    const auto status = ofType(send(request(kKeepAlive, 0, 0, token)).datagram, kStatusReply);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].u32(8), 17u);
    EXPECT_EQ(status[0].sub(), 0);
    EXPECT_TRUE(send(request(kKeepAlive, 0, 0, token + 1)).datagram.empty());
    EXPECT_TRUE(key(token + 1, 167).datagram.empty())
        << "a request with an unknown token is not acknowledged";
    // Records (first word not 0), such as the server's own, are no requests.
    EXPECT_TRUE(send(acknowledge(1, 17, 0x81)).datagram.empty());
}

TEST_F(SimSwitchboard, EveryQueuedRequestIsAcknowledgedAndCarriedOutOnce) {
    const uint32_t token = registerStation(17);
    board.ring(17, "4711");
    const Output answered = key(token, 167);
    const auto acks = ofType(answered.datagram, kAcknowledge);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].sub(), 0x81);
    EXPECT_EQ(acks[0].u32(8), 17u);
    EXPECT_EQ(split(answered.datagram).front().type(), kAcknowledge) << "the acknowledgement comes first";
    EXPECT_EQ(eventOf(answered).sub(), 8);

    // The station did not hear the acknowledgement and sends the request again.
    const Output again = send(request(kFeatureKey, 0x81, 167, token));
    EXPECT_EQ(ofType(again.datagram, kAcknowledge).size(), 1u);
    EXPECT_EQ(split(again.datagram).size(), 1u) << "nothing carried out twice";
}

// A copy of an earlier request delayed on the way, arriving after later
// ones were carried out, is acknowledged again but not carried out again.
TEST_F(SimSwitchboard, AnOldRequestArrivingLateIsNotCarriedOutAgain) {
    const uint32_t token = registerStation(17);
    board.ring(17, "4711");
    const Bytes answer = request(kFeatureKey, 0x81, 167, token);
    EXPECT_EQ(eventOf(send(answer)).sub(), 8);
    EXPECT_EQ(eventOf(send(request(kFeatureKey, 0x82, 161, token))).sub(), 3);
    const Output late = send(answer);
    EXPECT_EQ(ofType(late.datagram, kAcknowledge).at(0).sub(), 0x81);
    EXPECT_EQ(split(late.datagram).size(), 1u) << "acknowledged, not answered again";
    EXPECT_EQ(split(send(request(kFeatureKey, 0x83, 164, token)).datagram).size(), 3u)
        << "the next one is new";
}

TEST_F(SimSwitchboard, IncomingCallAnswerHoldRetrieveClear) {
    const uint32_t token = registerStation(17);
    const Output ringing = board.ring(17, "4711");
    const Seen alert = eventOf(ringing);
    EXPECT_EQ(alert.sub(), 6);
    EXPECT_EQ(alert.bytes[16], 0) << "the state before";
    EXPECT_EQ(alert.u32(20), 0x100u);
    EXPECT_EQ(ofType(ringing.datagram, kNumberInfo).size(), 1u);
    const auto listed = ofType(ringing.datagram, kCallEntry);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].sub(), 6);
    EXPECT_EQ(listed[0].u32(16), 0xFFFF4711u);
    const uint16_t call = listed[0].u16(12);

    const Seen talking = eventOf(key(token, 167));
    EXPECT_EQ(talking.bytes[16], 6);
    EXPECT_EQ(talking.u16(18), call) << "a connected call carries its reference: hold is allowed";
    EXPECT_EQ(talking.u32(20), 0x140u);

    const Seen held = eventOf(key(token, 161));
    EXPECT_EQ(held.sub(), 3);
    EXPECT_EQ(held.u32(20), 0x121u) << "a call on hold: retrieve; dial tone: mailbox";

    const Seen back = eventOf(key(token, 164));
    EXPECT_EQ(back.sub(), 8);
    EXPECT_EQ(back.u32(20), 0x140u);

    const Output cleared = key(token, 160);
    EXPECT_EQ(eventOf(cleared).sub(), 1);
    const auto gone = ofType(cleared.datagram, kCallEntry);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].sub(), 0);
    EXPECT_EQ(gone[0].u16(12), call);
    EXPECT_EQ(board.find(17)->phase, Phase::Idle);
}

TEST_F(SimSwitchboard, NewCallsRingBackOrGiveDialTone) {
    const uint32_t token = registerStation(17);
    const Output dialling = send(request(kNewCall, 0, 0, token, codes("")));
    EXPECT_TRUE(ofType(dialling.datagram, kAcknowledge).empty()) << "a new call is not queued";
    EXPECT_EQ(eventOf(dialling).type(), kStationEvent);
    const Output ringback = press(token, kDigits, 0, codes("0815"));
    EXPECT_EQ(eventOf(ringback).sub(), 7);
    EXPECT_EQ(ofType(ringback.datagram, kNumberInfo).size(), 1u);
    EXPECT_EQ(eventOf(board.farEndAnswers(17)).sub(), 8);
    key(token, 160);

    const Output direct = send(request(kNewCall, 0, 0, token, codes("4712")));
    EXPECT_EQ(eventOf(direct).sub(), 7);
    EXPECT_EQ(board.find(17)->current->peer, "4712");
    EXPECT_EQ(eventOf(board.farEndClears(17)).sub(), 1);
}

TEST_F(SimSwitchboard, ConsultationThenTransferOrConference) {
    const uint32_t token = registerStation(17);
    board.ring(17, "4711");
    key(token, 167);
    key(token, 161);
    press(token, kDigits, 0, codes("18"));
    const Seen consulting = eventOf(board.farEndAnswers(17));
    EXPECT_EQ(consulting.u32(20), 0x141u) << "talking with a call on hold: conference, transfer";
    const Output joined = key(token, 162);
    EXPECT_EQ(eventOf(joined).u32(20), 0x140u);
    EXPECT_EQ(board.find(17)->current->peer, "4711+18");

    key(token, 161);
    press(token, kDigits, 0, codes("19"));
    const Output transferred = key(token, 163);
    EXPECT_EQ(eventOf(transferred).sub(), 1);
    EXPECT_EQ(ofType(transferred.datagram, kCallEntry).size(), 2u) << "both calls leave the list";
}

TEST_F(SimSwitchboard, SuspendParksTheCallAndResumeTakesItBack) {
    const uint32_t token = registerStation(17);
    board.ring(17, "4711");
    key(token, 167);
    key(token, 161);
    const Output parked = key(token, 171);
    EXPECT_EQ(eventOf(parked).sub(), 1);
    const auto lists = ofType(parked.datagram, kParkList);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].length(), 4);
    EXPECT_EQ(lists[0].u32(12), 0xFFFF4711u);
    const uint32_t keyWord = lists[0].u32(8);

    Bytes payload(32, 0);
    putU32(payload, 0, keyWord);
    const Output resumed = press(token, kResume, 0, payload);
    EXPECT_EQ(eventOf(resumed).sub(), 8);
    EXPECT_EQ(ofType(resumed.datagram, kParkList).at(0).length(), 1) << "the list is empty again";
}

TEST_F(SimSwitchboard, WatchedExtensionsFollowTheirStations) {
    const uint32_t watcher = registerStation(17);
    registerStation(18);
    Bytes list(64, 0xFF);
    putU32(list, 0, 18);
    putU32(list, 4, 201);
    const auto statuses = ofType(press(watcher, kWatchList, 0, list).datagram, kExtensionStatus);
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].u32(8), 18u);
    EXPECT_EQ(statuses[0].extra(), 1) << "free";

    const auto ringing = ofType(board.ring(18, "4711").datagram, kExtensionStatus);
    ASSERT_EQ(ringing.size(), 1u);
    EXPECT_EQ(ringing[0].extra(), 2);

    // Station 17 picks the call up: 18 stops ringing, 17 talks to the caller.
    Bytes extension(32, 0);
    putU32(extension, 0, 18);
    const Output picked = press(watcher, kAnswerWatched, 0, extension);
    EXPECT_EQ(board.find(18)->phase, Phase::Idle);
    EXPECT_EQ(board.find(17)->current->peer, "4711");
    EXPECT_EQ(ofType(picked.datagram, kExtensionStatus).at(0).extra(), 1);
}

TEST_F(SimSwitchboard, RecordingTogglesTheFlags) {
    const uint32_t token = registerStation(17);
    board.ring(17, "4711");
    key(token, 167);
    EXPECT_EQ(eventOf(key(token, 173)).u32(20), 0x180u);
    EXPECT_EQ(eventOf(key(token, 174)).u32(20), 0x140u);
}

TEST_F(SimSwitchboard, RegisteringAgainStartsWithoutCalls) {
    registerStation(17);
    board.ring(17, "4711");
    const Output again = send(request(kRegisterRequest, 0, 0, 17));
    EXPECT_EQ(ofType(again.datagram, kCallEntry).size(), 1u) << "the call leaves the list";
    EXPECT_EQ(board.find(17)->phase, Phase::Idle);
    EXPECT_EQ(board.ring(42, "1").datagram.size(), 0u) << "an unknown station gets nothing";
}

}  // namespace
}  // namespace qsim
