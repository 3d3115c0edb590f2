// A backlog of call records on one feed: the server has 100,000 sealed
// records for it and keeps its connection full (768 KiB waiting before every
// tick, far more than a tick takes) until all are written.  The library's own
// tick reads, checks, decodes and posts as many as its budget affords, and
// the application drains its queue after every tick.  Beside it, after each
// tick, a bare recv loop reads as many bytes as the feed took, in reads of
// the feed buffer's size, from a second connection kept full the same way.
// Reported: records_per_tick (median and mean of the ticks that took a full
// share, the backlog's last tick apart), ticks (for the whole backlog),
// records_per_second of the time spent in ticks, recv_records_per_second of
// the bare loop's time, their ratio (library time over bare time), and the
// heap allocations per tick.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "cmdr/feed.h"
#include "e2e_support.h"
#include "library/library.h"
#include "qapi.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr size_t kBacklog = 100000;
constexpr size_t kDistinct = 4096;  // the records repeat in this cycle
constexpr int kWaiting = 768 * 1024;

// One side of the server: writes the backlog's bytes into its connection,
// from the cycle of sealed records, as far as `waiting` bytes wait at the
// reader.
class Writer {
public:
    Writer(const std::vector<uint8_t> &cycle, plat::SocketHandle peer, plat::SocketHandle reader)
        : cycle_(cycle), peer_(peer), reader_(reader) {}

    void restart() { written_ = 0; }
    // False when the connection takes nothing while it has room.
    bool topUp() {
        const size_t total = kBacklog * kCmdrRecordSize;
        for (int tries = 0; tries < 2000 && written_ < total; ++tries) {
            const int waiting = test::bytesWaiting(reader_);
            if (waiting >= kWaiting) return true;
            const size_t at = written_ % cycle_.size();
            const size_t length =
                std::min({total - written_, cycle_.size() - at, static_cast<size_t>(kWaiting - waiting)});
            const ssize_t n = send(peer_, cycle_.data() + at, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                written_ += static_cast<size_t>(n);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(50));  // still on its way
            }
        }
        return written_ == total || test::bytesWaiting(reader_) >= kWaiting;
    }

private:
    const std::vector<uint8_t> &cycle_;
    plat::SocketHandle peer_, reader_;
    size_t written_ = 0;
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

void BM_FeedBacklog(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const FeedAndBare c;
    if (!c.connected()) return state.SkipWithError("no connections");
    const CmdrFeed *feed = c.feed;
    const std::vector<uint8_t> cycle = sealedSampleRecords(kDistinct);
    Writer toFeed(cycle, c.feedPeer, feed->endpoint.socket), toBare(cycle, c.barePeer, c.bare);

    std::vector<double> fullTicks;
    double libraryTime = 0, bareTime = 0, ticks = 0;
    TickAllocations allocations;
    Stopwatch watch;
    for (auto _ : state) {
        toFeed.restart();
        toBare.restart();
        size_t delivered = 0;
        double iteration = 0;
        std::vector<double> counts;
        while (delivered < kBacklog) {
            if (!toFeed.topUp() || !toBare.topUp())
                return state.SkipWithError("the connections took nothing");
            allocations.begin();
            watch.start();
            libraryTick();
            const double tick = watch.stop();
            allocations.end();
            const size_t posted = drainMessages(QAPI_NOTIFY_CMDR_RECORD);
            if (posted == 0 || feed->state != kFeedRunning)
                return state.SkipWithError("the feed stopped taking records");
            iteration += tick;
            delivered += posted;
            counts.push_back(static_cast<double>(posted));

            uint8_t buffer[kFeedBufferSize];
            size_t read = 0;
            const size_t same = posted * kCmdrRecordSize;
            watch.start();
            while (read < same) {
                const ssize_t n = recv(c.bare, buffer, std::min(sizeof buffer, same - read), 0);
                if (n <= 0) return state.SkipWithError("the bare read failed");
                read += static_cast<size_t>(n);
            }
            bareTime += watch.stop();
            c.dropPolls();
        }
        if (delivered != kBacklog) return state.SkipWithError("more records than the backlog");
        counts.pop_back();  // the backlog's last tick takes what is left
        fullTicks.insert(fullTicks.end(), counts.begin(), counts.end());
        ticks += static_cast<double>(counts.size() + 1);
        libraryTime += iteration;
        state.SetIterationTime(iteration);
    }
    const double records = static_cast<double>(state.iterations()) * kBacklog;
    double sum = 0;
    for (double n : fullTicks) sum += n;
    state.counters["records_per_tick"] = median(fullTicks);
    state.counters["records_per_tick_mean"] =
        fullTicks.empty() ? 0 : sum / static_cast<double>(fullTicks.size());
    state.counters["ticks"] = ticks / static_cast<double>(state.iterations());
    state.counters["records_per_second"] = records / libraryTime;
    state.counters["recv_records_per_second"] = records / bareTime;
    state.counters["ratio"] = libraryTime / bareTime;
    allocations.report(state);
}
BENCHMARK(BM_FeedBacklog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
