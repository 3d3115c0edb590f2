// The park table: the broadcast list replaces it, every client sees it once
// and again on every change, its lines show the decimal nibbles, and resume
// takes a listed key.  Also the tick's delivery of broadcasts.
#include <cstring>
#include <string>

#include "core/wire.h"
#include "station/framing.h"
#include "station/monitor_panel.h"
#include "core/scratch.h"
#include "station/park_table.h"
#include "station/station_fixture.h"

namespace qapi {
namespace {

using test::Datagram;
using test::drainMessages;
using test::wordAt;

struct Parked {
    uint32_t key, second, third;
};

// A park list record of the entries (length byte 3c + 1).
std::vector<uint8_t> parkList(const std::vector<Parked> &entries) {
    std::vector<uint8_t> body;
    for (const Parked &p : entries) {
        for (uint32_t word : {p.key, p.second, p.third}) {
            for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
    }
    return test::stationRecord({.destination = kBroadcast, .type = kParkListType, .body = body});
}

class ParkTable : public test::RegisteredStationTest {
protected:
    void broadcast(const std::vector<uint8_t> &record) { stationOnParkList(record.data(), record.size()); }
    // The park lists posted since the last look: {window, lines}.
    std::vector<std::pair<QWindow, std::vector<std::string>>> lists() {
        std::vector<std::pair<QWindow, std::vector<std::string>>> out;
        for (const QMessage &m : notes(QAPI_NOTIFY_PARK_LIST)) {
            out.emplace_back(m.window, test::linesOf(m.lParam));
        }
        return out;
    }
    static bool allBytesFF(const void *p, size_t n) {
        const auto *b = static_cast<const uint8_t *>(p);
        for (size_t i = 0; i < n; ++i) {
            if (b[i] != 0xFF) return false;
        }
        return true;
    }
    using Posted = std::vector<std::pair<QWindow, std::vector<std::string>>>;
};

TEST_F(ParkTable, EveryClientGetsTheListOnceAndAgainOnlyWhenItChanges) {
    // A second client, on a window of its own and not registered: it counts too.
    const QWindow otherWindow = qmsgCreateWindow();
    ASSERT_NE(QAPI_Client_start(otherWindow, 18), nullptr);
    broadcast(parkList({}));  // empty, as after initialisation: no change
    const Posted first = lists();
    EXPECT_EQ(first, (Posted{{window, {}}, {otherWindow, {}}}));
    broadcast(parkList({}));
    EXPECT_TRUE(lists().empty());

    // A client started after the change gets the next list, changed or not.
    const QWindow lateWindow = qmsgCreateWindow();
    ASSERT_NE(QAPI_Client_start(lateWindow, 19), nullptr);
    broadcast(parkList({}));
    EXPECT_EQ(lists(), (Posted{{lateWindow, {}}}));

    // A change in the third word alone is a change: every client, one list.
    broadcast(parkList({{0xFFFF0123, 0x00004567, 1}, {0x12AB34CD, 0xFFFFFFFF, 2}}));
    const std::vector<std::string> lines{"0123 00004567", "1234 "};
    EXPECT_EQ(lists(), (Posted{{window, lines}, {otherWindow, lines}, {lateWindow, lines}}));
    broadcast(parkList({{0xFFFF0123, 0x00004567, 1}, {0x12AB34CD, 0xFFFFFFFF, 3}}));
    std::vector<intptr_t> addresses;
    for (const QMessage &m : notes(QAPI_NOTIFY_PARK_LIST)) addresses.push_back(m.lParam);
    ASSERT_EQ(addresses.size(), 3u);
    EXPECT_EQ(addresses[0], addresses[1]);
    EXPECT_EQ(addresses[1], addresses[2]);
    qmsgDestroyWindow(otherWindow);
    qmsgDestroyWindow(lateWindow);
}

// A list is cut only to be posted: an unchanged list that every client has
// costs no payload.  A list the full queue refused goes to that client with
// the next list, changed or not.
TEST_F(ParkTable, AnUnchangedListCutsNothingAndARefusedOneIsSentAgain) {
    broadcast(parkList({{0x42, 1, 1}}));
    ASSERT_EQ(lists().size(), 1u);
    const uint32_t cursor = scratchArena().cursor;
    broadcast(parkList({{0x42, 1, 1}}));
    EXPECT_EQ(scratchArena().cursor, cursor);
    EXPECT_TRUE(lists().empty());

    broadcast(parkList({{0x43, 1, 1}}));
    drainMessages();
    if (!test::fillQueue(window)) GTEST_SKIP() << "this platform's queue takes any number of messages";
    broadcast(parkList({{0x44, 1, 1}}));  // refused
    drainMessages();
    broadcast(parkList({{0x44, 1, 1}}));
    EXPECT_EQ(lists(), (Posted{{window, {"00000044 00000001"}}}));
}

TEST_F(ParkTable, ARecordAnnouncingFortyEntriesFillsThirtyTwoAndAShortOneEmptiesTheTable) {
    std::vector<Parked> forty;
    for (uint32_t i = 0; i < 40; ++i) forty.push_back({i + 1, 0x99, i});
    broadcast(parkList(forty));
    const auto posted = notes(QAPI_NOTIFY_PARK_LIST);
    ASSERT_EQ(posted.size(), 1u);
    const auto *list = reinterpret_cast<const QapiLineList *>(posted[0].lParam);
    EXPECT_STREQ(list->lines[0], "00000001 00000099");
    EXPECT_STREQ(list->lines[31], "00000020 00000099");  // key 32
    EXPECT_EQ(list->lines[32], nullptr);
    EXPECT_EQ(stationParkTables().current[31].key, 32);
    EXPECT_EQ(stationParkTables().current[31].thirdWord, 31u);

    // Length 3: fewer words than one entry needs.
    std::vector<uint8_t> cut = parkList({{7, 7, 7}});
    cut[RecordHeader::kLength] = 3;
    cut.resize(16);
    broadcast(cut);
    EXPECT_TRUE(allBytesFF(stationParkTables().current, sizeof stationParkTables().current));
    EXPECT_EQ(QAPI_Client_resume(c, 1), 1);
    ASSERT_EQ(notes(QAPI_NOTIFY_PARK_LIST).size(), 1u);  // emptied: a change
}

TEST_F(ParkTable, ResumeQueuesTheKeyOfAListedCallOnly) {
    broadcast(parkList({{0x00001234, 5, 6}}));
    EXPECT_EQ(QAPI_Client_resume(c, -1), 1);  // though every free entry holds -1
    EXPECT_EQ(QAPI_Client_resume(c, 0x1235), 1);
    EXPECT_TRUE(tap->take().empty());
    EXPECT_EQ(QAPI_Client_resume(c, 0x1234), 0);
    const auto sent = tap->take();
    ASSERT_EQ(sent.size(), 1u);
    const Datagram &d = sent[0];
    ASSERT_EQ(d.size(), 44u);
    EXPECT_EQ(test::typeOf(d), kResumeType);
    EXPECT_EQ(test::sequenceOf(d), 0x81);
    EXPECT_EQ(test::codeOf(d), 0);
    EXPECT_EQ(test::wordOf(d), test::kToken);
    EXPECT_EQ(test::payloadWord(d, 0), 0x1234);
    for (size_t i = 16; i < 44; ++i) EXPECT_EQ(d[i], 0) << i;
}

TEST_F(ParkTable, InitialisingTheLibraryEmptiesBothTables) {
    broadcast(parkList({{42, 1, 1}}));
    ASSERT_EQ(stationParkTables().previous[0].key, 42);
    ASSERT_EQ(QAPI_Stack_initialize(test::kStationPort), 0);
    EXPECT_TRUE(allBytesFF(&stationParkTables(), sizeof(ParkTables)));
    drainMessages();
}

// Through the tick: a datagram of two broadcasts, an extension status and a
// park list, reaches the panel of every client and the park table once.
TEST_F(ParkTable, TheTickHandsBroadcastsToEveryPanelAndTheParkListToTheTableOnce) {
    ASSERT_EQ(QAPI_Client_bdp_register(c, 321, 1), 0);
    std::vector<uint8_t> datagram = test::stationRecord({.destination = kBroadcast,
                                                         .type = kExtensionStatusType,
                                                         .extra = 2,
                                                         .body = {0x41, 0x01, 0, 0}});  // 321
    const auto list = parkList({{0x77, 0x88, 0}});
    datagram.insert(datagram.end(), list.begin(), list.end());
    test::GroupSender(test::kStationPort).send(datagram);
    ASSERT_TRUE(test::stationDatagramWaiting());
    test::runTicks(1);
    std::vector<QMessage> extension, park;
    for (const QMessage &m : drainMessages()) {
        if (m.wParam == static_cast<uintptr_t>(QAPI_NOTIFY_EXTENSION)) extension.push_back(m);
        if (m.wParam == static_cast<uintptr_t>(QAPI_NOTIFY_PARK_LIST)) park.push_back(m);
    }
    ASSERT_EQ(extension.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const QapiExtensionStatus *>(extension[0].lParam)->extension, 321);
    EXPECT_EQ(reinterpret_cast<const QapiExtensionStatus *>(extension[0].lParam)->status, 2);
    ASSERT_EQ(park.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const QapiLineList *>(park[0].lParam)->lines[0], "00000077 00000088");
    EXPECT_EQ(c->monitorStatus[0], 2);
}

}  // namespace
}  // namespace qapi
