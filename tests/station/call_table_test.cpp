// The call table: entries updated in place, kept states rendered as
// 37-character lines, the rest cleared, and the list posted after each report.
#include <string>

#include "station/call_table.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

class CallTable : public test::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        c = start(test::kStation);
        ASSERT_NE(c, nullptr);
        registerClient(*c);
    }
    void report(const test::CallReport &call) { feed(*c, test::callEntry(call)); }
    // The lists posted since the last look, each as its lines.
    std::vector<std::vector<std::string>> lists() {
        std::vector<std::vector<std::string>> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_CALL_LIST)) out.push_back(test::linesOf(m.lParam));
        return out;
    }
    StationClient *c = nullptr;
};

using Lines = std::vector<std::vector<std::string>>;

// Number column, blank, first identifier, blank, second identifier, label.
std::string line(const char *number, const char *first, const char *second, const char *label) {
    return std::string(number) + " " + first + " " + second + label;
}
constexpr const char *kNone = "        ";

TEST_F(CallTable, AReportedCallIsShownThenUpdatedInPlaceThenRemoved) {
    report({.state = kCallSeized, .number = 1234, .firstId = 0x42});
    EXPECT_EQ(lists(), (Lines{{line("1234", "00000042", kNone, "Seized         ")}}));
    report({.state = kCallRouted, .number = 77, .firstId = 0xFFFF1234, .secondId = 0xABCDE0F9});
    report({.state = kCallActive, .number = 1234, .firstId = 1, .secondId = 2});
    const std::string routed = line("    ", "    1234", "ABCDE0 9", "Routed         ");
    EXPECT_EQ(lists(), (Lines{{line("1234", "00000042", kNone, "Seized         "), routed},
                              {line("    ", "00000001", "00000002", "Active         "), routed}}));
    report({.state = kCallActive, .number = 1234, .withIds = false});
    EXPECT_EQ(lists()[0][0], line("    ", kNone, kNone, "Active         "));
    report({.state = 9, .number = 1234, .firstId = 5, .secondId = 5});  // not a listed state
    EXPECT_EQ(lists(), (Lines{{routed}}));
    EXPECT_EQ(c->callTable[0].state, 0);
    EXPECT_EQ(c->callTable[0].number, 0);
}

TEST_F(CallTable, ReportsThatAddNothingPostNothingButAStateNotKeptStillPostsTheList) {
    report({.state = kCallSeized, .number = 10, .withIds = false});  // unknown number without identifiers
    EXPECT_TRUE(lists().empty());
    report(
        {.state = 9, .number = 10, .firstId = 3, .secondId = 4});  // takes a slot, cleared by the rendering
    EXPECT_EQ(lists(), (Lines{{}}));
    EXPECT_EQ(stationFindCall(*c, 10), nullptr);
}

TEST_F(CallTable, NumbersShowAsFourDigitsInSeizedAndCampedOnly) {
    report({.state = kCallSeized, .number = 12345, .firstId = 1});
    report({.state = kCallCamped, .number = 7, .firstId = 2});
    report({.state = kCallRouting1, .number = 8, .firstId = 3});
    const auto posted = lists();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2], (std::vector<std::string>{line("2345", "00000001", kNone, "Seized         "),
                                                   line("0007", "00000002", kNone, "Camped         "),
                                                   line("    ", "00000003", kNone, "Routing        ")}));
    EXPECT_EQ(posted[2][0].size(), kCallLineLength);
}

TEST_F(CallTable, ThirtyTwoCallsFillTheListAndAThirtyThirdIsDropped) {
    for (uint16_t n = 1; n <= 33; ++n) report({.state = kCallActive, .number = n, .firstId = n});
    const auto posted = lists();
    ASSERT_EQ(posted.size(), 32u);
    EXPECT_EQ(posted.back().size(), 32u);
    const auto *list = reinterpret_cast<const QapiLineList *>(stationRenderCallList(*c));
    EXPECT_NE(list->lines[31], nullptr);
    EXPECT_EQ(list->lines[32], nullptr);
    ASSERT_NE(stationFindCall(*c, 32), nullptr);
    EXPECT_EQ(stationFindCall(*c, 32)->firstId, 32u);
}

TEST_F(CallTable, ShortRecordsAreIgnored) {
    feed(*c, test::callEntry({.state = kCallSeized, .number = 1})
                 .cut(20));  // identifiers announced, second one missing
    feed(*c, test::callEntry({.state = kCallSeized, .number = 1, .withIds = false}).cut(12));
    EXPECT_TRUE(lists().empty());
}

}  // namespace
}  // namespace qapi
