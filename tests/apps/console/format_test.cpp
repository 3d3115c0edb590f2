// The console's text of notifications: fixed field order, flags by name,
// texts quoted, nothing read past a payload's arrays.
#include <gtest/gtest.h>

#include <cstring>

#include "console/format.h"
#include "sample_record.h"

namespace qconsole {
namespace {

TEST(ConsoleFormat, SnapshotNamesTheAllowedOperationsInAFixedOrder) {
    QapiStatusSnapshot s{};
    s.regState = QAPI_REG_REGISTERED;
    s.callState = 10;
    s.canTransfer = 1;
    s.canHold = 1;
    s.canRecordStart = 1;
    s.indicator1 = 1;
    s.indicator3 = 1;
    s.stationId = 17;
    s.regValues[3] = 4;
    EXPECT_EQ(snapshotText(s),
              "snapshot reg=registered call=10 alerting=0 allows=hold,transfer,record-start indicators=1,3 "
              "event=0 info=0 id=17 reg-values=0,0,0,4 reg-short=0 status=-");
    QapiStatusSnapshot failed{};
    failed.regState = QAPI_REG_FAILED;
    failed.statusText = "Quentara is not responding";
    const std::string text = snapshotText(failed);
    EXPECT_NE(text.find("reg=failed"), std::string::npos);
    EXPECT_NE(text.find("allows=- indicators=-"), std::string::npos);
    EXPECT_NE(text.find("status=\"Quentara is not responding\""), std::string::npos);
}

TEST(ConsoleFormat, ListsGiveACountThenOneQuotedLineEach) {
    QapiLineList list{};
    list.lines[0] = "4711 one";
    list.lines[1] = "4712 two";
    EXPECT_EQ(lineListText("calls", &list),
              (std::vector<std::string>{"calls 2", "  \"4711 one\"", "  \"4712 two\""}));
    EXPECT_EQ(lineListText("parked", nullptr), std::vector<std::string>{"parked 0"});
}

TEST(ConsoleFormat, RecordsShowOneTextForKindsOneAndTwoAndThreeOtherwise) {
    QapiCmdrRecordPayload r = dialRecord();
    EXPECT_EQ(recordText(r),
              "record F 2024-05-17 10:30:07 duration=60 numbers=17,4711,-1 numberD=1000 "
              "texts=\"4711\",\"\",\"0815\" "
              "words=0,0 values=0,0 address=\"192.0.2.10\" server=\"::1\"");
    r.kindLetter = 'B';
    std::memset(r.texts.text, 'x', sizeof r.texts.text);  // no NUL: the text stops at the array's end
    const std::string text = recordText(r);
    EXPECT_NE(text.find("text=\"" + std::string(96, 'x') + "\" words"), std::string::npos);
}

TEST(ConsoleFormat, RouteRequestsStatusAndCharacters) {
    QapiRouteRequestPayload r{};
    r.handle = 0x00030007;
    r.year = 2024;
    r.month = 5;
    r.day = 17;
    r.hour = 11;
    r.numberA = 4711;
    r.numberB = 17;
    std::strcpy(r.textA, "4711");
    EXPECT_EQ(routeRequestText(r),
              "route request handle=0x00030007 2024-05-17 11:00:00 numberA=4711 numberB=17 "
              "digitsA=\"4711\" digitsB=\"\"");
    const char *const names[] = {"connecting", "up", "failed"};
    EXPECT_EQ(statusText(QapiStatusPayload{1, nullptr}, names, 3), "status up");
    EXPECT_EQ(statusText(QapiStatusPayload{2, "Connection to Quentara failed!"}, names, 3),
              "status failed \"Connection to Quentara failed!\"");
    EXPECT_EQ(statusText(QapiStatusPayload{7, nullptr}, names, 3), "status 7");
    EXPECT_EQ(characterText('5'), "'5'");
    EXPECT_EQ(characterText(255), "none");
    const int32_t extension[2] = {201, 2};
    EXPECT_EQ(extensionText(extension), "extension 201 status 2");
}

TEST(ConsoleFormat, QuotingEscapesWhatIsNotPrintable) {
    EXPECT_EQ(quoted("a\"b\\c\x01\xE9"), "\"a\\\"b\\\\c\\x01\\xE9\"");
    EXPECT_EQ(quoted(nullptr), "-");
}

}  // namespace
}  // namespace qconsole
