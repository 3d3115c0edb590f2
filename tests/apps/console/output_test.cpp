// The console's JSON lines, call-record CSV and command line: every string
// valid JSON whatever bytes arrive, CSV rows that match their header, and
// both spellings of every option.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "call_records/csv.h"
#include "console/json_format.h"
#include "console/options.h"
#include "console/output.h"
#include "sample_record.h"

namespace qconsole {

using namespace qrecords;
namespace {

std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ConsoleJson, StringsStayAsciiAndEscapeQuotesControlsAndEveryHighByte) {
    EXPECT_EQ(jsonString("a\"b\\c\n\t\r\x01\x1f\x7f\xe9\xff"),
              "\"a\\\"b\\\\c\\n\\t\\r\\u0001\\u001F\\u007F\\u00E9\\u00FF\"");
    EXPECT_EQ(jsonString(std::string("x\0y", 3)), "\"x\\u0000y\"");
    char unterminated[4] = {'a', 'b', 'c', 'd'};  // the text stops at the array's end
    JsonObject o;
    o.number("n", -1).flag("f", true).text("none", nullptr).field("t", unterminated, sizeof unterminated);
    o.numbers("ns", {1, 2})
        .texts("ts", {"\"", ""})
        .members(JsonObject().number("m", 0))
        .members(JsonObject());
    EXPECT_EQ(o.str(), R"({"n":-1,"f":true,"none":null,"t":"abcd","ns":[1,2],"ts":["\"",""],"m":0})");
    EXPECT_EQ(JsonObject().str(), "{}");
}

TEST(ConsoleJson, PayloadsNameEveryField) {
    QapiStatusSnapshot s{};
    s.regState = QAPI_REG_REGISTERED;
    s.callState = 6;
    s.isAlerting = 1;
    s.canAnswer = 1;
    s.stationId = 17;
    s.regValues[3] = 4;
    const std::string snapshot = snapshotJson(s).str();
    for (const char *member : {R"("regState":1,"regStateName":"registered","statusText":null,"callState":6)",
                               R"("isAlerting":true,"canAnswer":true,"canClear":false)",
                               R"("stationId":17,"regValues":[0,0,0,4],"regShort":0})"}) {
        EXPECT_NE(snapshot.find(member), std::string::npos) << member << " in " << snapshot;
    }
    EXPECT_EQ(
        recordJson(dialRecord()).str(),
        R"({"kindLetter":"F","second":7,"minute":30,"hour":10,"day":17,"month":5,"year":2024,"duration":60,)"
        R"("numberA":17,"numberB":4711,"numberC":-1,"textA":"4711","textB":"","textC":"0815","text":"",)"
        R"("wordA":0,"wordB":0,"valueA":0,"valueB":0,"addressText":"192.0.2.10","numberD":1000,)"
        R"("serverAddressText":"::1"})");
    QapiRouteRequestPayload request{};
    request.handle = 7;
    request.numberA = 4711;
    std::memset(request.textB, '9', sizeof request.textB);  // no NUL
    EXPECT_EQ(
        routeRequestJson(request).str(),
        R"({"handle":7,"second":0,"minute":0,"hour":0,"day":0,"month":0,"year":0,"numberB":0,"numberA":4711,)"
        R"("textA":"","textB":")" +
            std::string(32, '9') + "\"}");
    const char *const names[] = {"connecting", "up", "failed"};
    EXPECT_EQ(statusJson(QapiStatusPayload{7, "down\n"}, names, 3).str(),
              R"({"state":7,"stateName":"7","statusText":"down\n"})");
    EXPECT_EQ(characterJson('#').str(), R"({"value":35,"character":"#"})");
    EXPECT_EQ(characterJson(255).str(), R"({"value":255,"character":null})");
    QapiLineList list{};
    list.lines[0] = "701 4712";
    EXPECT_EQ(lineListJson(&list).str(), R"({"lines":["701 4712"]})");
    EXPECT_EQ(lineListJson(nullptr).str(), R"({"lines":[]})");
}

TEST(ConsoleJson, LinesPutTimeSourceStationAndEventFirst) {
    std::FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Output(out, Format::json, true)
        .note(Source::station(17), "number", "number \"4711\"", JsonObject().text("number", "4711"));
    Output(out, Format::text, true).note("feed", "message", "hello", JsonObject());
    Output(out, Format::json, false).note("feed", "heartbeat", "heartbeat", JsonObject());
    std::rewind(out);
    char text[512] = {};
    const size_t got = std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    const std::string time = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";
    EXPECT_TRUE(
        std::regex_match(std::string(text, got),
                         std::regex(R"(\{"time":")" + time +
                                    R"(","source":"station","station":17,"event":"number","number":"4711"\}
)" + time + R"( feed: hello
\{"source":"feed","event":"heartbeat"\}
)"))) << text;
}

TEST(ConsoleCsv, RowsMatchTheHeaderAndQuoteWhatNeedsIt) {
    EXPECT_EQ(csvField("plain text"), "plain text");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(csvField("\xe9\x7f"), "\xc3\xa9\x7f");  // a byte from 0x80 up: its character's UTF-8
    EXPECT_EQ(
        cdrCsvHeader(),
        "kindLetter,second,minute,hour,day,month,year,duration,numberA,numberB,numberC,textA,textB,textC,"
        "text,wordA,wordB,valueA,valueB,addressText,numberD,serverAddressText\r\n");
    EXPECT_EQ(cdrCsvRow(dialRecord()),
              "F,7,30,10,17,5,2024,60,17,4711,-1,4711,,0815,,0,0,0,0,192.0.2.10,1000,::1\r\n");
    QapiCmdrRecordPayload note = dialRecord();
    note.kindLetter = 'B';  // one long text instead of the three dial-code texts
    std::strcpy(note.texts.text, "Smith, \"J\"");
    EXPECT_EQ(cdrCsvRow(note),
              "B,7,30,10,17,5,2024,60,17,4711,-1,,,,\"Smith, \"\"J\"\"\",0,0,0,0,192.0.2.10,1000,::1\r\n");
}

TEST(ConsoleCsv, FileGetsTheHeaderOnceAndRefusesOneWithOtherColumns) {
    char path[] = "/tmp/qapi-console-csv-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    { EXPECT_TRUE(CdrCsvFile(path).append(dialRecord())); }
    {
        CdrCsvFile again(path);  // appends to what is there, without a second header
        EXPECT_TRUE(again.append(dialRecord()));
        EXPECT_EQ(fileText(path), cdrCsvHeader() + cdrCsvRow(dialRecord()) + cdrCsvRow(dialRecord()));
    }
    std::ofstream(path, std::ios::trunc) << "a,b\r\n1,2\r\n";
    EXPECT_THROW(CdrCsvFile{path}, std::runtime_error);
    EXPECT_EQ(fileText(path), "a,b\r\n1,2\r\n");
    std::remove(path);
    EXPECT_THROW(CdrCsvFile{"/nonexistent-folder/cdr.csv"}, std::runtime_error);
}

TEST(ConsoleOptions, EveryOptionTakesItsValueEitherWayAndBadOnesAreNamed) {
    for (int round = 0; round < 2; ++round) {  // the option scanner starts afresh each time
        const Options o =
            parseOptions({"--format=json", "--seconds", "5", "--station=17", "--station", "-1",
                          "--cdr-csv=cdr.csv", "--route-value", "-3", "--timestamps", "--no-stdin"});
        EXPECT_EQ(o.format, Format::json);
        EXPECT_EQ(o.seconds, 5u);
        EXPECT_EQ(o.stations, (std::vector<int32_t>{17, -1}));
        EXPECT_EQ(o.cdrCsv, "cdr.csv");
        EXPECT_EQ(o.routeValue, -3);
        EXPECT_TRUE(o.timestamps);
        EXPECT_FALSE(o.readStdin);
    }
    EXPECT_EQ(parseOptions({"--feed=[::1]:7001"}).feed->host, "::1");
    EXPECT_TRUE(parseOptions({"-h"}).help);
    EXPECT_TRUE(parseOptions({"--version"}).version);
    const auto error = [](std::vector<std::string> args) {
        try {
            parseOptions(args);
        } catch (const std::invalid_argument &e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(error({"--format", "xml"}), "--format wants text or json, not \"xml\"");
    EXPECT_EQ(error({"--seconds"}), "--seconds wants a value");
    EXPECT_EQ(error({"--heartbeats=1"}), "--heartbeats takes no value");
    EXPECT_EQ(error({"--bogus"}), "unknown or ambiguous option --bogus (see --help)");
    EXPECT_EQ(error({"--station", "17", "18"}), "unexpected argument \"18\" (see --help)");
    EXPECT_EQ(error({"--port=0"}), "--port wants a number from 1 to 65535, not \"0\"");
}

}  // namespace
}  // namespace qconsole
