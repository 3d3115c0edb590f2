// What one tick posts stays within its budget, whatever the server sends at
// once: the rest waits, in order, for the next ticks, and every payload is
// still intact when the application reads it a whole tick after its post.
// Real datagrams through the station endpoint, the library's own tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/budget.h"
#include "station/admission.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "station/station_fixture.h"
#include "support/invariants.h"
#include "support/test_support.h"

namespace qapi {
namespace {

constexpr uint16_t kPort = 4150;
constexpr int32_t kWatched = 201;

class TickBudget : public test::ManualClockTest {
protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        ASSERT_TRUE(test::isolatedNetwork());
        ASSERT_EQ(QAPI_Stack_initialize(kPort), 0);
        sender = std::make_unique<test::GroupSender>(kPort);
    }
    void TearDown() override {
        QAPI_Stack_release();
        for (QWindow w : windows) qmsgDestroyWindow(w);
        test::drainMessages();
        ManualClockTest::TearDown();
    }

    // Clients of `count` stations from `first` on, each with a window of its
    // own, registered.
    std::vector<QapiHandle> startRegistered(int32_t first, int count) {
        std::vector<QapiHandle> clients;
        for (int i = 0; i < count; ++i) {
            windows.push_back(qmsgCreateWindow());
            clients.push_back(QAPI_Client_start(windows.back(), first + i));
        }
        host = stationEndpoint().endpoint.localAddress;
        std::vector<test::Record> replies;
        for (int i = 0; i < count; ++i) replies.push_back(test::registrationReply({.station = first + i}).to(host));
        sendInDatagrams(replies);
        for (int t = 0; t < 10; ++t) tick();
        return clients;
    }
    // The records, as many to a datagram as 1024 bytes hold.
    void sendInDatagrams(const std::vector<test::Record> &records) {
        std::vector<uint8_t> datagram;
        for (const test::Record &r : records) {
            if (datagram.size() + r.bytes.size() > kStationBufferSize) {
                sender->send(datagram);
                datagram.clear();
            }
            datagram.insert(datagram.end(), r.bytes.begin(), r.bytes.end());
        }
        if (!datagram.empty()) sender->send(datagram);
    }
    // One tick: what it used stays within the budget; its messages.
    std::vector<QMessage> tick() {
        test::runTicks(1);
        EXPECT_LE(budgetUsed().bytes, kTickPayloadBytes);
        EXPECT_LE(budgetUsed().posts, kTickPosts);
        return test::drainMessages();
    }

    std::unique_ptr<test::GroupSender> sender;
    std::vector<QWindow> windows;
    uint32_t host = 0;
};

std::vector<QMessage> only(const std::vector<QMessage> &messages, QapiNotifyCode code) {
    std::vector<QMessage> out;
    for (const QMessage &m : messages) {
        if (m.message == QAPI_NOTIFY_MSG && m.wParam == static_cast<uintptr_t>(code)) out.push_back(m);
    }
    return out;
}

// Eight datagrams of call entries for one station in one tick would make 336
// call lists (1.4 MB): they come over several ticks, and each list, read a
// tick late, holds the lines its record made.
TEST_F(TickBudget, ABurstOfCallListsIsSpreadOverTicksAndEveryListOutlivesTheNextTick) {
    startRegistered(test::kStation, 1);
    std::vector<test::Record> entries;
    constexpr uint32_t kEntries = 336;
    for (uint32_t i = 0; i < kEntries; ++i) {
        entries.push_back(test::callEntry({.state = kCallSeized,
                                           .number = static_cast<uint16_t>(i % 32 + 1),
                                           .firstId = i,
                                           .secondId = 0})
                              .to(host));
    }
    sendInDatagrams(entries);
    ASSERT_TRUE(test::stationDatagramWaiting());
    std::vector<QMessage> previous;
    uint32_t next = 0, wrong = 0, ticks = 0;
    for (; next < kEntries && ticks < 40; ++ticks) {
        const std::vector<QMessage> lists = only(tick(), QAPI_NOTIFY_CALL_LIST);
        EXPECT_LT(lists.size(), kEntries) << "one tick took the whole burst";
        for (const QMessage &m : previous) {
            const auto &list = *reinterpret_cast<const QapiLineList *>(m.lParam);
            const std::vector<std::string> lines = test::linesOf(m.lParam);
            char id[9];
            std::snprintf(id, sizeof id, "%08X", next);
            std::replace(id, id + 8, 'F', ' ');  // the nibble 15 shows as a blank
            const size_t entry = next % 32;
            const bool right = test::lineListFits(list, 32, 37, 37) && lines.size() == std::min<size_t>(next + 1, 32) &&
                               lines[entry].substr(0, 4) == std::string(4 - std::to_string(entry + 1).size(), '0') +
                                                                std::to_string(entry + 1) &&
                               lines[entry].substr(5, 8) == id;
            wrong += right ? 0 : 1;
            ++next;
        }
        previous = lists;
    }
    EXPECT_EQ(next, kEntries);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GE(ticks, 5u);
}

// 512 clients watch one extension and the server broadcasts 170 statuses of
// it in one go: 87,040 notifications.  None is lost to a full queue, each
// client sees every status in order, and two ticks' posts fit the queue.
TEST_F(TickBudget, AWatchFanOutReachesEveryWatcherInOrderWithoutFillingTheQueue) {
    const std::vector<QapiHandle> clients = startRegistered(1000, 512);
    for (QapiHandle c : clients) ASSERT_EQ(QAPI_Client_bdp_register(c, kWatched, 1), 0);
    for (int t = 0; t < 12; ++t) tick();
    std::vector<test::Record> statuses;
    for (uint8_t s = 1; s <= 170; ++s) {
        statuses.push_back(test::Record({.type = kExtensionStatusType, .station = kWatched,
                                         .size = ExtensionStatusRecord::kSize})
                               .u8(RecordHeader::kExtra, s)
                               .to(kBroadcast));
    }
    sendInDatagrams(statuses);
    ASSERT_TRUE(test::stationDatagramWaiting());
    std::map<QWindow, int> seen;
    std::vector<QMessage> previous;
    size_t wrong = 0;
    for (int t = 0; t < 40; ++t) {
        const std::vector<QMessage> now = only(tick(), QAPI_NOTIFY_EXTENSION);
        for (const QMessage &m : previous) {
            const auto &status = *reinterpret_cast<const QapiExtensionStatus *>(m.lParam);
            wrong += status.extension == kWatched && status.status == ++seen[m.window] ? 0 : 1;
        }
        previous = now;
    }
    EXPECT_EQ(wrong, 0u);
    ASSERT_EQ(seen.size(), 512u);
    for (const auto &[window, count] : seen) EXPECT_EQ(count, 170) << "window " << window;
}

// A digit echo to a station that may still pick up posts three messages (the
// digit, the dialed text, the snapshot without pickup): after a run of
// records that post less, such echoes end a tick's reading.  Wherever the
// run ends, the reading leaves what the supervision and the exports need.
TEST_F(TickBudget, RecordsThatPostThreeMessagesStayWithinTheReadingsShare) {
    constexpr int kEchoing = 64;
    startRegistered(1000, kEchoing + 1);
    const int room = 4 << 20;
    setsockopt(stationEndpoint().endpoint.socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    const auto share = kTickPosts - kExportReserve.posts - stationSupervisionReserve().posts;
    size_t most = 0;
    for (uint32_t keys = share - 3 * kEchoing - 40; keys < share - 3 * kEchoing + 20; ++keys) {
        std::vector<test::Record> records;
        for (int i = 1; i <= kEchoing; ++i) {
            records.push_back(test::event({.sub = kCallEventPickup, .station = 1000 + i}).to(host));
        }
        for (uint32_t k = 0; k < keys; ++k) {
            records.push_back(test::event({.sub = kCallEventKey, .station = 1000, .word = 0x0105}).to(host));
        }
        for (int i = 1; i <= kEchoing; ++i) {
            records.push_back(test::event({.type = kStationEventType,
                                           .sub = kStationEventDigit,
                                           .station = 1000 + i,
                                           .word = 1,
                                           .serverState = kStatePickup})
                                  .to(host));
        }
        sendInDatagrams(records);
        ASSERT_TRUE(test::stationDatagramWaiting());
        const std::vector<QMessage> posted = tick();
        most = std::max(most, posted.size() - only(posted, QAPI_NOTIFY_HEARTBEAT).size());
    }
    EXPECT_LE(most, share);
}

// However many datagrams wait, one tick reads a bounded number of them; the
// rest are read, in order, by the next tick.
TEST_F(TickBudget, ATickReadsAtMostItsShareOfDatagramsAndTheRestNextTick) {
    startRegistered(test::kStation, 1);
    const int room = 4 << 20;
    setsockopt(stationEndpoint().endpoint.socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    constexpr int kDatagrams = kStationDatagramsPerTick + 44;
    for (int i = 0; i < kDatagrams; ++i) {
        sender->send(test::Record({.type = kInfoValueType, .sub = static_cast<uint8_t>(i)}).to(host).bytes);
    }
    ASSERT_TRUE(test::stationDatagramWaiting());
    const auto first = only(tick(), QAPI_NOTIFY_SNAPSHOT);
    const auto second = only(tick(), QAPI_NOTIFY_SNAPSHOT);
    ASSERT_EQ(first.size(), static_cast<size_t>(kStationDatagramsPerTick));
    ASSERT_EQ(second.size(), 44u);
    EXPECT_EQ(reinterpret_cast<const QapiStatusSnapshot *>(second.back().lParam)->infoValue,
              static_cast<uint8_t>(kDatagrams - 1));
}

// A snapshot whose post the full queue refused is posted again on the next
// tick, as it stands then.
TEST_F(TickBudget, ASnapshotTheQueueRefusedIsPostedAgainOnTheNextTick) {
    startRegistered(test::kStation, 1);
    if (!test::fillQueue(windows[0])) GTEST_SKIP() << "this platform's queue takes any number of messages";
    sender->send(test::Record({.type = kInfoValueType, .sub = 42}).to(host).bytes);
    ASSERT_TRUE(test::stationDatagramWaiting());
    EXPECT_TRUE(only(tick(), QAPI_NOTIFY_SNAPSHOT).empty());
    const auto again = only(tick(), QAPI_NOTIFY_SNAPSHOT);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const QapiStatusSnapshot *>(again[0].lParam)->infoValue, 42);
    EXPECT_TRUE(only(tick(), QAPI_NOTIFY_SNAPSHOT).empty());
}

}  // namespace
}  // namespace qapi
