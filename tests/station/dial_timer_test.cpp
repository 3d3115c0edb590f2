// Dialing digits: what each call keeps and shows, and the digit-dial timer
// that sends the gathered codes four qualifying ticks after the last digit.
#include <cstring>
#include <string>

#include "core/budget.h"
#include "core/wire.h"
#include "station/call_control.h"
#include "station/request_queue.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using test::Datagram;

class DialTimer : public test::RegisteredStationTest {
protected:
    void SetUp() override {
        RegisteredStationTest::SetUp();
        c->snapshot.canDigits = 1;
    }
    // The codes of a digits request up to the first empty one; checks the
    // request's form on the way.
    static std::vector<int> codesOf(const Datagram &d) {
        EXPECT_EQ(d.size(), 44u);
        EXPECT_EQ(test::typeOf(d), kDialDigitsType);
        EXPECT_EQ(test::codeOf(d), 0);
        std::vector<int> codes;
        size_t i = 12;
        for (; i < d.size() && d[i] != 0xFF; ++i) codes.push_back(d[i]);
        for (; i < d.size(); ++i) EXPECT_EQ(d[i], 0xFF) << "no code after the first empty one";
        return codes;
    }
    bool pendingEmpty() const {
        for (uint8_t code : c->pendingDial) {
            if (code != kNoDialCode) return false;
        }
        return true;
    }
    // The dialed texts posted, oldest first; each is a copy of its own.
    std::vector<std::string> dialedTexts() {
        std::vector<std::string> texts;
        for (const QMessage &m : notes(QAPI_NOTIFY_TEXT)) {
            EXPECT_NE(m.lParam, reinterpret_cast<intptr_t>(c->dialedText));
            texts.emplace_back(reinterpret_cast<const char *>(m.lParam));
        }
        return texts;
    }
    using Texts = std::vector<std::string>;
};

TEST_F(DialTimer, ThreeDigitsOneTickApartTravelInOneRequestFourQualifyingTicksAfterTheLast) {
    EXPECT_EQ(QAPI_Client_digits(c, "1"), 0);
    EXPECT_TRUE(runAndWatch(1).empty());
    EXPECT_EQ(QAPI_Client_digits(c, "2"), 0);
    EXPECT_TRUE(runAndWatch(1).empty());
    EXPECT_EQ(QAPI_Client_digits(c, "3"), 0);
    EXPECT_EQ(dialedTexts(), (Texts{"1", "12", "123"}));
    const auto sent = runAndWatch(5);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, 4);
    EXPECT_EQ(test::sequenceOf(sent[0].second), 0x81);  // through the queue
    EXPECT_EQ(codesOf(sent[0].second), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(pendingEmpty());
    EXPECT_STREQ(c->dialedText, "123");  // the text stays
    EXPECT_EQ(c->dialTimer, 0);
}

// The application keeps what it was told: later digits and the client's
// stop leave a posted dialed text as it was.
TEST_F(DialTimer, APostedDialedTextIsACopyThatNeitherLaterDigitsNorAStopChange) {
    ASSERT_EQ(QAPI_Client_digits(c, "1"), 0);
    ASSERT_EQ(QAPI_Client_digits(c, "2"), 0);
    const auto posted = notes(QAPI_NOTIFY_TEXT);
    ASSERT_EQ(posted.size(), 2u);
    ASSERT_EQ(QAPI_Client_stop(c), 0);
    c = nullptr;
    EXPECT_STREQ(reinterpret_cast<const char *>(posted[0].lParam), "1");
    EXPECT_STREQ(reinterpret_cast<const char *>(posted[1].lParam), "12");
}

TEST_F(DialTimer, TheTimerStandsStillOnKeepAliveTicksAndWhileTheStationIsNotRegistered) {
    c->superviseTicks = 57;  // the third tick from now sends the keep-alive
    ASSERT_EQ(QAPI_Client_digits(c, "4"), 0);
    const auto sent = runAndWatch(5);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].first, 3);
    EXPECT_EQ(test::typeOf(sent[0].second), kKeepAliveType);
    EXPECT_EQ(sent[1].first, 5);
    EXPECT_EQ(codesOf(sent[1].second), (std::vector<int>{4}));

    ASSERT_EQ(QAPI_Client_digits(c, "5"), 0);
    c->snapshot.regState = QAPI_REG_FAILED;
    runAndWatch(10);
    EXPECT_EQ(c->dialTimer, 4);
    EXPECT_EQ(c->pendingDial[0], 5);
}

// Dialing posts the text dialed so far: when the payloads posted since the
// last tick leave no room for it, both operations are refused and change
// nothing; the next tick makes room again.
TEST_F(DialTimer, DialingIsRefusedWhileThePayloadsSinceTheLastTickLeaveNoRoom) {
    ASSERT_EQ(QAPI_Client_newcall(c, "1"), 0);
    budgetCountBytes(kTickPayloadBytes);
    const StationClient before = *c;
    EXPECT_EQ(QAPI_Client_digits(c, "2"), 1);
    EXPECT_EQ(std::memcmp(&before, c, sizeof before), 0);
    test::drainMessages();
    test::runTicks(1);
    EXPECT_EQ(QAPI_Client_digits(c, "2"), 0);
    EXPECT_STREQ(c->dialedText, "12");
}

TEST_F(DialTimer, CodesPendingWhenTheStationStopsTakingDigitsAreDropped) {
    ASSERT_EQ(QAPI_Client_digits(c, "12"), 0);
    c->snapshot.canDigits = 0;
    EXPECT_TRUE(runAndWatch(5).empty());
    EXPECT_TRUE(pendingEmpty());
    EXPECT_STREQ(c->dialedText, "12");
}

TEST_F(DialTimer, ANewCallBeforeTheTimerFiresSendsNoEmptyDigitsRequest) {
    ASSERT_EQ(QAPI_Client_digits(c, "12"), 0);
    c->snapshot.canNewcall = 1;
    ASSERT_EQ(QAPI_Client_newcall(c, nullptr), 0);  // empties the pending codes
    const auto newcall = tap->take();
    ASSERT_EQ(newcall.size(), 1u);
    EXPECT_EQ(test::typeOf(newcall[0]), kNewCallType);
    EXPECT_TRUE(runAndWatch(5).empty());  // the timer runs out with nothing to send
    EXPECT_EQ(c->dialTimer, 0);
}

TEST_F(DialTimer, TextsAreTakenUpToTheFirstNonDialCharacterAndAtMostThirtyTwo) {
    // Lower-case letters stay as typed in the text and travel as their codes.
    EXPECT_EQ(QAPI_Client_digits(c, "5a"), 0);
    EXPECT_STREQ(c->dialedText, "5a");
    EXPECT_EQ(dialedTexts(), Texts{"5a"});
    runAndWatch(2);
    // No dial character: refused, the timer as it was, but the text still shown.
    EXPECT_EQ(QAPI_Client_digits(c, ""), 1);
    EXPECT_EQ(QAPI_Client_digits(c, "x5"), 1);
    EXPECT_EQ(c->dialTimer, 2);
    EXPECT_EQ(dialedTexts(), (Texts{"5a", "5a"}));
    auto sent = runAndWatch(2);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(codesOf(sent[0].second), (std::vector<int>{5, 10}));
    ack(0x81);

    // Refused without a text or without the permission: nothing posted.
    EXPECT_EQ(QAPI_Client_digits(c, nullptr), 1);
    c->snapshot.canDigits = 0;
    EXPECT_EQ(QAPI_Client_digits(c, "1"), 1);
    EXPECT_TRUE(dialedTexts().empty());
    c->snapshot.canDigits = 1;

    // 40 digits: the first 32 count; a full buffer drops more but accepts.
    std::memset(c->dialedText, 0, sizeof c->dialedText);
    const std::string forty = "0123456789*#ABCDabcd0123456789*#99999999";
    EXPECT_EQ(QAPI_Client_digits(c, forty.c_str()), 0);
    EXPECT_EQ(std::string(c->dialedText), forty.substr(0, 32));
    EXPECT_EQ(QAPI_Client_digits(c, "7"), 0);
    EXPECT_EQ(std::string(c->dialedText), forty.substr(0, 32));
    sent = runAndWatch(4);
    ASSERT_EQ(sent.size(), 1u);
    const auto codes = codesOf(sent[0].second);
    ASSERT_EQ(codes.size(), 32u);
    EXPECT_EQ(codes[10], 14);  // *
    EXPECT_EQ(codes[11], 15);  // #
    EXPECT_EQ(codes[16], 10);  // a
    EXPECT_EQ(codes[31], 15);
}

TEST_F(DialTimer, DigitsTheFullQueueCannotTakeStayPendingAndGoWhenItHasRoom) {
    fillQueue();
    ASSERT_EQ(QAPI_Client_digits(c, "1"), 0);
    EXPECT_TRUE(runAndWatch(4).empty());
    EXPECT_EQ(c->pendingDial[0], 1);
    EXPECT_EQ(c->dialTimer, 1);  // tried again on every qualifying tick
    EXPECT_TRUE(runAndWatch(1).empty());
    EXPECT_EQ(c->dialTimer, 1);
    // A later digit joins the waiting ones and restarts the delay.
    ASSERT_EQ(QAPI_Client_digits(c, "2"), 0);
    EXPECT_EQ(c->dialTimer, 4);
    runAndWatch(4);
    EXPECT_EQ(c->dialTimer, 1);

    ack(0x81);  // room for one
    tap->take();
    runAndWatch(1);
    EXPECT_TRUE(pendingEmpty());
    EXPECT_EQ(c->dialTimer, 0);
    const auto sent = drainQueue();
    ASSERT_EQ(sent.size(), 62u);
    EXPECT_EQ(codesOf(sent.back()), (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace qapi
