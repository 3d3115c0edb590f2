// A backlog on one feed, written as a real server writes it: from a thread of
// its own, without blocking, whenever the connection takes more.  What one
// tick can take depends then on what the connection holds between ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBacklog = 20000;
// What the tick's budget affords one busy feed is about 960 records.
constexpr size_t kFullShare = 900;

// The server's side: writes the backlog, record n carrying number n, as
// fast as the connection takes it.
class BacklogServer {
public:
    explicit BacklogServer(plat::SocketHandle conn) : conn_(conn) {
        for (uint32_t n = 0; n < kBacklog; ++n) {
            test::WireRecord r(0);
            const auto &sealed = r.u32(rec::kNumberA, n).sealed();
            bytes_.insert(bytes_.end(), sealed.begin(), sealed.end());
        }
        writer_ = std::thread([this] { write(); });
    }
    ~BacklogServer() {
        stop_ = true;
        writer_.join();
    }

    // Waits until the connection takes nothing more: the writer waits for
    // room and the feed's socket holds what it will hold.  False when the
    // whole backlog is written.
    bool waitFull(plat::SocketHandle reader) const {
        int last = -1, same = 0;
        for (int i = 0; i < 10000 && written_ < bytes_.size(); ++i) {
            pollfd p{conn_, POLLOUT, 0};
            int waiting = 0;
            ioctl(reader, FIONREAD, &waiting);
            const bool full = blocked_ && poll(&p, 1, 0) == 0;
            same = full && waiting == last ? same + 1 : 0;
            if (same >= 3) return true;
            last = waiting;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

private:
    void write() {
        size_t at = 0;
        while (at < bytes_.size() && !stop_) {
            const ssize_t n =
                send(conn_, bytes_.data() + at, bytes_.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                written_ = at += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
            blocked_ = true;
            pollfd p{conn_, POLLOUT, 0};
            poll(&p, 1, 20);
            blocked_ = false;
        }
    }

    plat::SocketHandle conn_;
    std::vector<uint8_t> bytes_;
    std::atomic<size_t> written_{0};
    std::atomic<bool> blocked_{false}, stop_{false};
    std::thread writer_;
};

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
        const BacklogServer server(conn);
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
    for (size_t n : perTick) std::printf("%zu ", n);
    std::printf("records a tick: least %zu, median %zu, most %zu over %zu ticks\n", full.front(),
                full[full.size() / 2], full.back(), perTick.size());
    EXPECT_GE(full.front(), kFullShare);
}

}  // namespace
}  // namespace qapi
