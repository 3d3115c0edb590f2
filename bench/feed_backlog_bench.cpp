// A backlog of call records on one feed: the server has 100,000 sealed
// records for it and writes them as a real server does, from a thread of its
// own, whenever the connection takes more; before each tick the connection
// is as full as it gets (the server waits for room).  The feed keeps the
// receive buffer the library gives its connection.  The library's own tick
// reads, checks, decodes and posts as many as its budget affords, and the
// application drains its queue after every tick.  Beside it, after each
// tick, a bare recv loop reads as many bytes as the feed took, in reads of
// the feed buffer's size, from a second connection written the same way.
// Reported: records_per_tick (median, mean and least of the ticks, the
// backlog's last apart), ticks (for the whole backlog), records_per_second of the
// time spent in ticks, recv_records_per_second of the bare loop's time,
// their ratio (library time over bare time), and the heap allocations per
// tick.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "cmdr/feed.h"
#include "e2e_support.h"
#include "library/library.h"
#include "qapi.h"
#include "support/backlog_writer.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr size_t kBacklog = 100000;
constexpr size_t kDistinct = 4096;  // the records repeat in this cycle

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

void BM_FeedBacklog(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const FeedAndBare c(FeedAndBare::FeedRoom::Library);
    if (!c.connected()) return state.SkipWithError("no connections");
    const CmdrFeed *feed = c.feed;
    const std::vector<uint8_t> cycle = sealedSampleRecords(kDistinct);

    std::vector<double> fullTicks;
    double libraryTime = 0, bareTime = 0, ticks = 0;
    TickAllocations allocations;
    Stopwatch watch;
    for (auto _ : state) {
        const test::BacklogWriter toFeed(c.feedPeer, cycle, kBacklog * kCmdrRecordSize);
        const test::BacklogWriter toBare(c.barePeer, cycle, kBacklog * kCmdrRecordSize);
        size_t delivered = 0;
        double iteration = 0;
        std::vector<double> counts;
        while (delivered < kBacklog) {
            toFeed.waitFull(feed->endpoint.socket);
            toBare.waitFull(c.bare);
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
                if (n > 0) {
                    read += static_cast<size_t>(n);
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    return state.SkipWithError("the bare read failed");
                }
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
    state.counters["records_per_tick_least"] =
        fullTicks.empty() ? 0 : *std::min_element(fullTicks.begin(), fullTicks.end());
    state.counters["ticks"] = ticks / static_cast<double>(state.iterations());
    state.counters["records_per_second"] = records / libraryTime;
    state.counters["recv_records_per_second"] = records / bareTime;
    state.counters["ratio"] = libraryTime / bareTime;
    allocations.report(state);
}
BENCHMARK(BM_FeedBacklog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
