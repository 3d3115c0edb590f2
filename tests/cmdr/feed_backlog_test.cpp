// A backlog on one feed, written as a real server writes it: whenever the
// connection takes more.  What one tick can take depends then on what the
// connection holds between ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "support/backlog_writer.h"
#include "support/test_support.h"

namespace qapi {
namespace {

constexpr uint32_t kBacklog = 20000;
// What the tick's budget affords one busy feed is about 960 records.
constexpr size_t kFullShare = 900;

// Record n carries number n.
std::vector<uint8_t> numberedRecords() {
    std::vector<uint8_t> bytes;
    for (uint32_t n = 0; n < kBacklog; ++n) {
        test::WireRecord r(0);
        const auto &sealed = r.u32(rec::kNumberA, n).sealed();
        bytes.insert(bytes.end(), sealed.begin(), sealed.end());
    }
    return bytes;
}

using FeedBacklog = test::WindowTest;

TEST_F(FeedBacklog, ABacklogDrainsAtTheBudgetsRateWhenTheServerWritesWheneverTheConnectionTakesMore) {
    const test::TestSocket listener(SOCK_STREAM);
    auto *feed = static_cast<CmdrFeed *>(QAPI_Cmdr_start(window, "127.0.0.1", listener.port));
    ASSERT_NE(feed, nullptr);
    const plat::SocketHandle conn = accept(listener.fd, nullptr, nullptr);
    ASSERT_NE(conn, plat::kNoSocket);
    int room = 0;
    socklen_t length = sizeof room;
    ASSERT_EQ(getsockopt(feed->endpoint.socket, SOL_SOCKET, SO_RCVBUF, &room, &length), 0);
    EXPECT_GE(static_cast<size_t>(room), 2 * kFeedRecordsPerTickAtMost * kCmdrRecordSize);
    std::vector<size_t> perTick;
    uint32_t next = 0, wrong = 0;
    {
        const std::vector<uint8_t> backlog = numberedRecords();
        const test::BacklogWriter server(conn, backlog, backlog.size());
        while (next < kBacklog && perTick.size() < kBacklog) {
            server.waitFull(feed->endpoint.socket);
            test::runTicks(1);
            size_t posted = 0;
            for (const QMessage &m : test::drainMessages()) {
                if (m.wParam != QAPI_NOTIFY_CMDR_RECORD) continue;
                const auto *r = reinterpret_cast<const QapiCmdrRecordPayload *>(m.lParam);
                wrong += r->numberA == static_cast<int32_t>(next++) ? 0 : 1;
                ++posted;
            }
            ASSERT_EQ(feed->state, kFeedRunning);
            perTick.push_back(posted);
        }
    }
    test::closeSocket(conn);
    EXPECT_EQ(next, kBacklog);
    EXPECT_EQ(wrong, 0u);
    // Every tick but the backlog's last takes a full share.
    std::vector<size_t> full(perTick.begin(), perTick.end() - 1);
    ASSERT_FALSE(full.empty());
    std::sort(full.begin(), full.end());
    std::printf("records a tick: least %zu, median %zu, most %zu over %zu ticks\n", full.front(),
                full[full.size() / 2], full.back(), perTick.size());
    EXPECT_GE(full.front(), kFullShare);
}

}  // namespace
}  // namespace qapi
