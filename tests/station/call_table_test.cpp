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
        c = start(17);
        ASSERT_NE(c, nullptr);
        registerClient(*c);
    }
    // Reports a call through a CallEntryRecord (length 3 without identifiers).
    void report(uint8_t state, uint16_t number, uint32_t first = 0xFFFFFFFF,
                uint32_t second = 0xFFFFFFFF, bool withIds = true) {
        test::Record r(kCallEntryType, state, 17, withIds ? 24 : 16);
        r.u16(12, number);
        if (withIds) r.u32(16, first).u32(20, second);
        feed(*c, r);
    }
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
    report(5, 1234, 0x42);
    EXPECT_EQ(lists(), (Lines{{line("1234", "00000042", kNone, "Seized         ")}}));
    report(6, 77, 0xFFFF1234, 0xABCDE0F9);
    report(7, 1234, 1, 2);
    const std::string routed = line("    ", "    1234", "ABCDE0 9", "Routed         ");
    EXPECT_EQ(lists(), (Lines{{line("1234", "00000042", kNone, "Seized         "), routed},
                              {line("    ", "00000001", "00000002", "Active         "), routed}}));
    report(7, 1234, 0, 0, false);  // length 3: no identifiers
    EXPECT_EQ(lists()[0][0], line("    ", kNone, kNone, "Active         "));
    report(9, 1234, 5, 5);
    EXPECT_EQ(lists(), (Lines{{routed}}));
    EXPECT_EQ(c->callTable[0].state, 0);
    EXPECT_EQ(c->callTable[0].number, 0);
}

TEST_F(CallTable, ReportsThatAddNothingPostNothingButAStateNotKeptStillPostsTheList) {
    report(5, 10, 0, 0, false);  // unknown number without identifiers
    EXPECT_TRUE(lists().empty());
    report(9, 10, 3, 4);  // takes a slot, cleared by the rendering
    EXPECT_EQ(lists(), (Lines{{}}));
    EXPECT_EQ(stationFindCall(*c, 10), nullptr);
}

TEST_F(CallTable, NumbersShowAsFourDigitsInSeizedAndCampedOnly) {
    report(5, 12345, 1);
    report(25, 7, 2);
    report(1, 8, 3);
    const auto posted = lists();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[2], (std::vector<std::string>{line("2345", "00000001", kNone, "Seized         "),
                                                   line("0007", "00000002", kNone, "Camped         "),
                                                   line("    ", "00000003", kNone, "Routing        ")}));
    EXPECT_EQ(posted[2][0].size(), kCallLineLength);
}

TEST_F(CallTable, ThirtyTwoCallsFillTheListAndAThirtyThirdIsDropped) {
    for (uint16_t n = 1; n <= 32; ++n) report(7, n, n);
    report(7, 33, 33);
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
    test::Record r(kCallEntryType, 5, 17, 20);  // identifiers announced, second one missing
    r.u16(12, 1);
    feed(*c, r);
    test::Record shortOne(kCallEntryType, 5, 17, 16);
    shortOne.u16(12, 1).u8(7, 3);
    shortOne.bytes.resize(12);
    feed(*c, shortOne);
    EXPECT_TRUE(lists().empty());
}

}  // namespace
}  // namespace qapi
