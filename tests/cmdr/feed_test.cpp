// Call-record feeds against a server of the test's own: a TCP listener on
// 127.0.0.1 or ::1 whose connections the test accepts on its own thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "core/budget.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using namespace std::chrono_literals;

using test::runTicks;
using test::WireRecord;

constexpr int kWaitMs = 10000;  // bounded, and generous for a loaded machine

bool waitReadable(plat::SocketHandle s, int waitMs = kWaitMs) { return test::waitReadable(s, waitMs); }

std::vector<uint8_t> validRecord(int32_t numberA) {
    WireRecord r(0);
    r.u32(rec::kNumberA, static_cast<uint32_t>(numberA));
    const auto &b = r.sealed();
    return {b.begin(), b.end()};
}

// The server side of one feed.
struct FeedPeer {
    test::TestSocket listener;
    plat::SocketHandle conn = plat::kNoSocket;

    explicit FeedPeer(bool ipv6 = false) : listener(SOCK_STREAM, ipv6) {}
    ~FeedPeer() {
        if (conn != plat::kNoSocket) test::closeSocket(conn);
    }
    CmdrFeed *start(QWindow window, const char *host) {
        auto *feed = static_cast<CmdrFeed *>(QAPI_Cmdr_start(window, host, listener.port));
        if (feed) {
            if (conn != plat::kNoSocket) test::closeSocket(conn);
            conn = accept(listener.fd, nullptr, nullptr);
        }
        return feed;
    }
    // Sends in one piece and waits until the feed can read it.
    void send(const std::vector<uint8_t> &bytes, const CmdrFeed &feed) const {
        ASSERT_EQ(::send(conn, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        ASSERT_TRUE(waitReadable(feed.endpoint.socket));
    }
    // Reads exactly `count` poll bytes and checks that no more are waiting.
    void expectPolls(int count) const {
        for (int i = 0; i < count; ++i) {
            uint8_t b = 0;
            ASSERT_TRUE(waitReadable(conn)) << "poll " << i + 1 << " of " << count;
            ASSERT_EQ(recv(conn, &b, 1, 0), 1);
            EXPECT_EQ(b, kPollByte);
        }
        EXPECT_FALSE(waitReadable(conn, 0)) << "an unexpected poll";
    }
    // Reads until the feed closes its end: the number of poll bytes that came
    // first, or -1 when the connection stays open.
    int pollsUntilClose() const {
        int polls = 0;
        for (;;) {
            uint8_t b;
            if (!waitReadable(conn)) return -1;
            const ssize_t n = recv(conn, &b, 1, 0);
            if (n <= 0) return n == 0 || test::lastErrorWasReset() ? polls : -1;
            EXPECT_EQ(b, kPollByte);
            ++polls;
        }
    }
};

class CmdrFeedTest : public test::WindowTest {
protected:
    static void expectFailure(const QMessage &m, QWindow w, const char *text) {
        EXPECT_EQ(m.window, w);
        EXPECT_EQ(m.message, QAPI_NOTIFY_MSG);
        ASSERT_EQ(m.wParam, static_cast<uintptr_t>(QAPI_NOTIFY_CMDR_STATUS));
        const auto *p = reinterpret_cast<const QapiStatusPayload *>(m.lParam);
        EXPECT_EQ(p->state, QAPI_CMDR_FAILED);
        EXPECT_STREQ(p->statusText, text);
    }
    static const QapiCmdrRecordPayload &recordOf(const QMessage &m) {
        EXPECT_EQ(m.wParam, static_cast<uintptr_t>(QAPI_NOTIFY_CMDR_RECORD));
        return *reinterpret_cast<const QapiCmdrRecordPayload *>(m.lParam);
    }
};

struct Server {
    bool ipv6;
    const char *host;
};

class CmdrFeedOverFamilies : public CmdrFeedTest, public testing::WithParamInterface<Server> {};

TEST_P(CmdrFeedOverFamilies, DrainsWaitingRecordsInStreamOrderThenPollsOnce) {
    FeedPeer peer(GetParam().ipv6);
    CmdrFeed *feed = peer.start(window, GetParam().host);
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(feed->state, kFeedRunning);
    peer.expectPolls(0);  // nothing is sent at start
    runTicks(1);
    peer.expectPolls(1);
    runTicks(10);
    peer.expectPolls(0);

    std::vector<uint8_t> three;
    for (int32_t n : {1, 2, 3}) {
        const auto r = validRecord(n);
        three.insert(three.end(), r.begin(), r.end());
    }
    peer.send(three, *feed);
    runTicks(1);
    const auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].window, window);
        const auto &p = recordOf(got[i]);
        EXPECT_EQ(p.numberA, i + 1);
        EXPECT_EQ(p.kindLetter, 'A');
        EXPECT_STREQ(p.serverAddressText, GetParam().host);
    }
    peer.expectPolls(1);
    EXPECT_EQ(feed->pollCount, 1);

    // The schedule starts again: the next poll is 50 silent ticks later.
    runTicks(49);
    peer.expectPolls(0);
    runTicks(1);
    peer.expectPolls(1);
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 0);
    EXPECT_EQ(peer.pollsUntilClose(), 0);
    EXPECT_TRUE(test::drainMessages().empty());
}

INSTANTIATE_TEST_SUITE_P(Loopback, CmdrFeedOverFamilies,
                         testing::Values(Server{false, "127.0.0.1"}, Server{true, "::1"}),
                         [](const testing::TestParamInfo<Server> &i) {
                             return std::string(i.param.ipv6 ? "Ipv6" : "Ipv4");
                         });

TEST_F(CmdrFeedTest, ASilentFeedPollsOnTheBackOffSchedule) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    std::vector<uint32_t> pollTicks;
    for (uint32_t tick = 1; tick <= 9701; ++tick) {
        const int32_t before = feed->pollCount;
        runTicks(1);
        if (feed->pollCount != before) pollTicks.push_back(tick);
    }
    EXPECT_EQ(pollTicks, (std::vector<uint32_t>{1, 51, 101, 201, 301, 501, 701, 3701, 6701, 9701}));
    peer.expectPolls(10);
    EXPECT_TRUE(test::drainMessages().empty());
}

TEST_F(CmdrFeedTest, AnInvalidRecordPostsTheOnesBeforeItThenFailsWithoutPolling) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    runTicks(1);
    peer.expectPolls(1);
    std::vector<uint8_t> bytes = validRecord(7);
    std::vector<uint8_t> broken = validRecord(8);
    broken[rec::kMarker] = 0;
    bytes.insert(bytes.end(), broken.begin(), broken.end());
    peer.send(bytes, *feed);
    runTicks(1);
    auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(recordOf(got[0]).numberA, 7);
    expectFailure(got[1], window, "Received record format incompatible!");
    EXPECT_EQ(feed->state, kFeedFailed);
    EXPECT_EQ(feed->endpoint.open, 0);
    EXPECT_EQ(peer.pollsUntilClose(), 0);  // closed, and no poll came first

    runTicks(100);  // a failed feed does nothing
    EXPECT_TRUE(test::drainMessages().empty());
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 0);
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 1);
}

std::vector<uint8_t> recordsNumbered(int32_t first, int32_t last) {
    std::vector<uint8_t> bytes;
    for (int32_t n = first; n <= last; ++n) {
        const auto r = validRecord(n);
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    return bytes;
}

// The stream has no record boundaries: a record that arrives in pieces
// waits in the feed's buffer until it is whole, wherever it was cut.
TEST_F(CmdrFeedTest, ARecordSplitByTheStreamIsDeliveredOnceWhole) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    const std::vector<uint8_t> stream = recordsNumbered(1, 4);
    // The first byte alone; into the middle of the second record; all but
    // the last byte of the third; the rest.
    const size_t cuts[] = {1, kCmdrRecordSize + 77, 3 * kCmdrRecordSize - 1, 4 * kCmdrRecordSize};
    const size_t wholeAfter[] = {0, 1, 2, 4};
    size_t from = 0;
    int32_t next = 1;
    for (size_t i = 0; i < 4; ++i) {
        peer.send(std::vector<uint8_t>(stream.begin() + static_cast<long>(from),
                                       stream.begin() + static_cast<long>(cuts[i])),
                  *feed);
        runTicks(1);
        for (const QMessage &m : test::drainMessages()) EXPECT_EQ(recordOf(m).numberA, next++);
        EXPECT_EQ(next - 1, static_cast<int32_t>(wholeAfter[i])) << "after the cut at " << cuts[i];
        from = cuts[i];
    }
    EXPECT_EQ(feed->state, kFeedRunning);
    EXPECT_EQ(feed->buffered, 0u);
}

// A peer that writes in small pieces while the feed ticks: reads end
// anywhere in a record, yet every record arrives once, in order.
TEST_F(CmdrFeedTest, RecordsWrittenInSmallSegmentsAllArriveInOrder) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    const int noDelay = 1;
    setsockopt(peer.conn, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    constexpr int32_t kRecords = 60;
    const std::vector<uint8_t> stream = recordsNumbered(1, kRecords);
    std::thread writer([&] {
        for (size_t at = 0; at < stream.size(); at += 50) {
            const size_t n = std::min<size_t>(50, stream.size() - at);
            if (::send(peer.conn, stream.data() + at, n, 0) != static_cast<ssize_t>(n)) return;
            test::pause(100us);
        }
    });
    int32_t next = 1;
    for (int tries = 0; next <= kRecords && tries < 2000; ++tries) {
        waitReadable(feed->endpoint.socket, 10);
        runTicks(1);
        for (const QMessage &m : test::drainMessages()) ASSERT_EQ(recordOf(m).numberA, next++);
    }
    writer.join();
    EXPECT_EQ(next, kRecords + 1);
    EXPECT_EQ(feed->state, kFeedRunning);
}

// A burst of records, far more than the notification buffer holds, is read
// as fast as one tick's budget allows (900 records and more), the rest
// waiting in the connection, and every record is whole and in order when the
// application reads it a whole tick after it was posted.
TEST_F(CmdrFeedTest, ABurstIsPostedAtTheBudgetsPaceAndEveryRecordOutlivesTheNextTick) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    constexpr int32_t kRecords = 6000;  // 1.5 MB of payloads, three times the 512 KiB buffer
    const std::vector<uint8_t> burst = recordsNumbered(1, kRecords);
    // As much room as the system grants (all of the burst for root).
    const int room = 8 << 20;
    bool forced = false;
#if defined(SO_RCVBUFFORCE)
    forced = setsockopt(feed->endpoint.socket, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) == 0;
#endif
    if (!forced) setsockopt(feed->endpoint.socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    std::thread writer([&] { ::send(peer.conn, burst.data(), burst.size(), MSG_NOSIGNAL); });
    int waiting = 0;
    for (int before = -1, tries = 0; waiting != before && tries < 500; ++tries) {
        before = waiting;
        test::pause(20ms);
        waiting = test::bytesWaiting(feed->endpoint.socket);
    }
    ASSERT_GT(waiting, static_cast<int>(2000 * kCmdrRecordSize)) << "a burst waits before the tick";
    int32_t next = 1, wrong = 0;
    size_t fullTicks = 0;
    std::vector<QMessage> previous;
    for (int tick = 0; next <= kRecords && tick < 200; ++tick) {
        runTicks(1);
        const auto got = test::drainMessages();
        // Read only now, one tick late, as a reader on another thread may.
        for (const QMessage &m : previous) wrong += recordOf(m).numberA != next++;
        if (static_cast<int>(got.size() * kCmdrRecordSize) < waiting) {
            EXPECT_GE(got.size(), 900u) << "a busy feed on quiet stations";
            ++fullTicks;
        }
        EXPECT_LE(budgetUsed().bytes, kTickPayloadBytes);
        EXPECT_LE(budgetUsed().posts, kTickPosts);
        waiting -= static_cast<int>(got.size() * kCmdrRecordSize);
        previous = got;
    }
    runTicks(1);
    for (const QMessage &m : previous) wrong += recordOf(m).numberA != next++;
    shutdown(peer.conn, SHUT_RDWR);  // a writer still blocked gives up
    writer.join();
    EXPECT_EQ(wrong, 0) << "records overwritten before the application read them";
    EXPECT_EQ(next, kRecords + 1);
    EXPECT_GE(fullTicks, 2u);
    EXPECT_EQ(feed->state, kFeedRunning);
}

// Two busy feeds share a tick's budget: each gets its part, and a quiet
// feed before them leaves its part to them.
TEST_F(CmdrFeedTest, BusyFeedsShareATicksBudgetAndAQuietOneLeavesItsPart) {
    FeedPeer peers[3];  // quiet, busy, busy
    QWindow windows[3];
    CmdrFeed *feeds[3];
    const std::vector<uint8_t> burst = recordsNumbered(1, 1000);  // 150 KB each
    for (size_t i = 0; i < 3; ++i) {
        windows[i] = qmsgCreateWindow();
        feeds[i] = peers[i].start(windows[i], "127.0.0.1");
        ASSERT_NE(feeds[i], nullptr);
        const int room = 1 << 20;
        setsockopt(feeds[i]->endpoint.socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        if (i > 0) peers[i].send(burst, *feeds[i]);
    }
    for (int tries = 0; tries < 500; ++tries) {
        if (test::bytesWaiting(feeds[1]->endpoint.socket) >= static_cast<int>(burst.size()) &&
            test::bytesWaiting(feeds[2]->endpoint.socket) >= static_cast<int>(burst.size()))
            break;
        test::pause(10ms);
    }
    runTicks(1);
    size_t posted[3] = {};
    for (const QMessage &m : test::drainMessages()) {
        for (size_t i = 0; i < 3; ++i) posted[i] += m.window == windows[i] ? 1 : 0;
    }
    for (QWindow w : windows) qmsgDestroyWindow(w);
    EXPECT_EQ(posted[0], 0u);
    EXPECT_GE(posted[1], 450u);
    EXPECT_GE(posted[2], 450u);
    EXPECT_GE(posted[1] + posted[2], 900u);
}

// A receive error ends the feed; the bytes of an unfinished record go with it.
TEST_F(CmdrFeedTest, AnErrorEndsTheFeedAndDropsAnUnfinishedRecord) {
    FeedPeer peer;
    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    const std::vector<uint8_t> record = validRecord(1);
    peer.send(std::vector<uint8_t>(record.begin(), record.begin() + 100), *feed);
    runTicks(1);
    EXPECT_TRUE(test::drainMessages().empty());
    EXPECT_EQ(feed->buffered, 100u);
    linger hard{1, 0};
    setsockopt(peer.conn, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    test::closeSocket(peer.conn);
    peer.conn = -1;
    ASSERT_TRUE(waitReadable(feed->endpoint.socket));
    runTicks(1);
    const auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 1u);
    expectFailure(got[0], window, "Connection socket closed!");
    EXPECT_EQ(feed->buffered, 0u);
    EXPECT_EQ(feed->statusText, kFeedClosedText);  // kept until the feed is stopped
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 0);
}

// The server's orderly close ends the feed as soon as a read meets it: at
// once when everything before was read, else after the records that came
// first; the bytes of an unfinished record go with it.
TEST_F(CmdrFeedTest, AnOrderlyCloseEndsTheFeedInTheNextTickAfterTheRecordsBeforeIt) {
    FeedPeer idle, busy;
    CmdrFeed *quiet = idle.start(window, "127.0.0.1");
    CmdrFeed *feed = busy.start(window, "127.0.0.1");
    ASSERT_NE(quiet, nullptr);
    ASSERT_NE(feed, nullptr);
    runTicks(1);
    idle.expectPolls(1);
    busy.expectPolls(1);
    std::vector<uint8_t> bytes = validRecord(7);
    const std::vector<uint8_t> next = validRecord(8);
    bytes.insert(bytes.end(), next.begin(), next.begin() + 100);
    busy.send(bytes, *feed);
    for (FeedPeer *peer : {&idle, &busy}) {
        test::closeSocket(peer->conn);  // every poll read: an orderly close
        peer->conn = plat::kNoSocket;
    }
    ASSERT_TRUE(waitReadable(quiet->endpoint.socket));
    runTicks(1);
    auto got = test::drainMessages();
    ASSERT_GE(got.size(), 2u);
    expectFailure(got[0], window, "Connection socket closed!");
    EXPECT_EQ(quiet->state, kFeedFailed);
    EXPECT_EQ(recordOf(got[1]).numberA, 7);
    if (got.size() == 2) {
        runTicks(1);
        got = test::drainMessages();
    } else {
        got.erase(got.begin(), got.begin() + 2);
    }
    ASSERT_EQ(got.size(), 1u);
    expectFailure(got[0], window, "Connection socket closed!");
    EXPECT_EQ(feed->state, kFeedFailed);
    EXPECT_EQ(feed->buffered, 0u);
}

TEST_F(CmdrFeedTest, StartRefusesWhatCouldNotWorkAndStopRefusesWhatIsNotALiveFeed) {
    FeedPeer peer;
    EXPECT_EQ(QAPI_Cmdr_start(0, "127.0.0.1", peer.listener.port), nullptr);
    EXPECT_EQ(QAPI_Cmdr_start(window, nullptr, peer.listener.port), nullptr);
    EXPECT_EQ(QAPI_Cmdr_start(window, "no-such-host.invalid", 80), nullptr);
    int closedPort;
    {
        test::TestSocket probe(SOCK_STREAM);
        closedPort = probe.port;
    }
    EXPECT_EQ(QAPI_Cmdr_start(window, "127.0.0.1", static_cast<uint32_t>(closedPort) | 0x10000), nullptr);
    for (CmdrFeed *slot : cmdrFeeds()) EXPECT_EQ(slot, nullptr);

    CmdrFeed *feed = peer.start(window, "127.0.0.1");
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(QAPI_Cmdr_stop(nullptr), 1);
    CmdrFeed foreign = *feed;  // right kind word, but not in the table
    EXPECT_EQ(QAPI_Cmdr_stop(&foreign), 1);
    feed->magic = kLinkMagic;
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 1);
    feed->magic = kFeedMagic;
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 0);
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 1);
    // The stopped feed's handle does not reach the next feed.
    FeedPeer nextPeer;
    CmdrFeed *next = nextPeer.start(window, "127.0.0.1");
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, feed);
    EXPECT_EQ(QAPI_Cmdr_stop(feed), 1);
    EXPECT_EQ(cmdrFindFeed(next), next);

    QAPI_Stack_release();  // a released library starts no feed
    EXPECT_EQ(QAPI_Cmdr_start(window, "127.0.0.1", peer.listener.port), nullptr);
}

TEST_F(CmdrFeedTest, ThirtyTwoFeedsAtMostTickedInSlotOrderAndAllFreedByRelease) {
    std::vector<std::unique_ptr<FeedPeer>> peers;
    std::vector<CmdrFeed *> feeds;
    for (size_t i = 0; i < kMaxFeeds; ++i) {
        peers.push_back(std::make_unique<FeedPeer>());
        feeds.push_back(peers.back()->start(window, "localhost"));
        ASSERT_NE(feeds.back(), nullptr) << i;
        EXPECT_EQ(cmdrFeeds()[i], feeds.back());
    }
    FeedPeer extra;
    EXPECT_EQ(extra.start(window, "127.0.0.1"), nullptr);

    // A freed slot is taken again first; slot 0 is ticked before slot 1.
    ASSERT_EQ(QAPI_Cmdr_stop(feeds[0]), 0);
    feeds[0] = peers[0]->start(window, "127.0.0.1");
    ASSERT_EQ(cmdrFeeds()[0], feeds[0]);
    peers[1]->send(validRecord(1), *feeds[1]);
    peers[0]->send(validRecord(0), *feeds[0]);
    runTicks(1);
    const auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(recordOf(got[0]).numberA, 0);
    EXPECT_EQ(recordOf(got[1]).numberA, 1);

    QAPI_Stack_release();
    for (auto &peer : peers) EXPECT_EQ(peer->pollsUntilClose(), 1);
    for (CmdrFeed *slot : cmdrFeeds()) EXPECT_EQ(slot, nullptr);
    ASSERT_EQ(QAPI_Stack_initialize(4100), 0);
    EXPECT_EQ(QAPI_Cmdr_stop(feeds[1]), 1);
}

}  // namespace
}  // namespace qapi
