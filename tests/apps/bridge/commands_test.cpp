// Commands: whatever a consumer sends is answered, refusals say why, and a
// routing answer reaches the bridge as given.
#include <gtest/gtest.h>

#include "bridge/commands.h"
#include "bridge/json_in.h"

namespace qbridge {
namespace {

class Target : public CommandTarget {
public:
    StationView view{17, {}, {}, {}, {}};
    std::string routeAnswer;
    QapiHandle stationHandle(int32_t id) override {
        // A handle the library does not know: every operation is refused.
        return id == 17 ? reinterpret_cast<QapiHandle>(&view) : nullptr;
    }
    const StationView *stationView(int32_t id) override { return id == 17 ? &view : nullptr; }
    std::string answerRoute(uint32_t handle, const char *digits, int32_t value,
                            const std::string &appId) override {
        routeAnswer = std::to_string(handle) + " " + (digits ? digits : "-") + " " + std::to_string(value) +
                      " " + appId;
        return handle == 1 ? "" : "no routing question " + std::to_string(handle) + " is open";
    }
    std::string state() override { return "{\"seq\":5}"; }
};

std::string errorOf(const std::string &reply) {
    std::string e;
    const auto v = parseJson(reply, e);
    EXPECT_TRUE(v) << reply;
    EXPECT_FALSE(v->find("ok")->flag) << reply;
    return v->find("error")->text;
}

TEST(Commands, EveryMalformedCommandIsAnsweredWithItsFault) {
    Target t;
    const std::pair<const char *, const char *> cases[] = {
        {"", "not JSON"},
        {"[1]", "a command is a JSON object"},
        {"{\"station\":17}", "needs \"op\""},
        {"{\"op\":\"dance\"}", "unknown op \"dance\""},
        {"{\"op\":\"answer\"}", "answer needs \"station\""},
        {"{\"op\":\"answer\",\"station\":18}", "drives no station 18"},
        {"{\"op\":\"answer\",\"station\":1e3}", "needs \"station\""},
        {"{\"op\":\"digits\",\"station\":17}", "digits needs \"digits\""},
        {"{\"op\":\"digits\",\"station\":17,\"args\":{\"digits\":"
         "\"1234567890123456789012345678901234567890123456789012345678901234567890\"}}",
         "at most 64 bytes"},
        {"{\"op\":\"bdp_register\",\"station\":17,\"args\":{\"extension\":201,\"on\":1}}", "\"on\" must be"},
        {"{\"op\":\"resume\",\"station\":17,\"args\":[]}", "\"args\" must be an object"},
        {"{\"op\":\"route_response\",\"args\":{\"handle\":-1}}", "needs \"handle\""},
    };
    for (const auto &[body, why] : cases)
        EXPECT_NE(errorOf(runCommand(body, "", t)).find(why), std::string::npos) << body;
}

TEST(Commands, ARefusalSaysWhatTheStationAllowsNow) {
    Target t;
    EXPECT_EQ(errorOf(runCommand("{\"op\":\"answer\",\"station\":17}", "", t)),
              "station 17 has not reported yet: the library refused answer");
    QapiStatusSnapshot s{};
    s.regState = QAPI_REG_REGISTERED;
    t.view.snapshot = s;
    EXPECT_EQ(errorOf(runCommand("{\"op\":\"answer\",\"station\":17}", "", t)),
              "station 17 does not allow answer now (can_answer is false)");
    t.view.snapshot->regState = QAPI_REG_FAILED;
    EXPECT_EQ(errorOf(runCommand("{\"op\":\"hold\",\"station\":17}", "", t)),
              "station 17 is not registered: the library refused hold");
}

TEST(Commands, RouteResponsesAndSnapshotsReachTheBridge) {
    Target t;
    EXPECT_EQ(runCommand("{\"op\":\"route_response\",\"args\":{\"handle\":1,\"digits\":\"200\",\"value\":3}}",
                         "crm", t),
              "{\"ok\":true}");
    EXPECT_EQ(t.routeAnswer, "1 200 3 crm");
    EXPECT_EQ(errorOf(runCommand("{\"op\":\"route_response\",\"args\":{\"handle\":2}}", "", t)),
              "no routing question 2 is open");
    EXPECT_EQ(t.routeAnswer, "2 - 0 ");
    EXPECT_EQ(runCommand("{\"op\":\"snapshot\"}", "", t), "{\"ok\":true,\"state\":{\"seq\":5}}");
}

}  // namespace
}  // namespace qbridge
