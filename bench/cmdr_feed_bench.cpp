// Call records through a real feed: a peer writes N sealed records of every
// kind over loopback TCP and the feed's ticks read, check, decode and post
// them (at most 32 records a tick, the poll after each); the same records are
// checked and decoded in memory; and a bare recv loop reads the same bytes,
// in reads of the feed buffer's size, from a second connection.  Reported per
// record: library_us, check_decode_us, recv_us, the ratio of the first two
// and the library's records per second.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstring>
#include <thread>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "core/scratch.h"
#include "e2e_support.h"
#include "heap_count.h"
#include "qapi.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr size_t kTicks = 16;
constexpr size_t kRecords = kTicks * kFeedBufferRecords;  // N
constexpr size_t kBytes = kRecords * kCmdrRecordSize;

// Waits (bounded) until `bytes` wait on the stream `s`.
bool waitForBytes(plat::SocketHandle s, int bytes) {
    for (int tries = 0; tries < 2000; ++tries) {
        if (test::bytesWaiting(s) >= bytes) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

bool sendAll(plat::SocketHandle s, const std::vector<uint8_t> &bytes) {
    return send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void BM_CallRecordFeed(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const FeedAndBare c;
    if (!c.connected()) return state.SkipWithError("no connections");
    CmdrFeed *feed = c.feed;
    const plat::SocketHandle bare = c.bare;
    const std::vector<uint8_t> records = sealedSampleRecords(kRecords);
    uint8_t server[16] = {};
    const uint32_t serverAddress = INADDR_LOOPBACK;
    std::memcpy(server, &serverAddress, sizeof serverAddress);

    double libraryTime = 0, checkTime = 0, bareTime = 0;
    uint64_t allocations = 0;
    Stopwatch watch;
    for (auto _ : state) {
        if (!sendAll(c.feedPeer, records) || !sendAll(c.barePeer, records) ||
            !waitForBytes(feed->endpoint.socket, kBytes) || !waitForBytes(bare, kBytes))
            return state.SkipWithError("the records did not arrive");

        const uint64_t before = heapAllocations();
        watch.start();
        for (size_t t = 0; t < kTicks; ++t) cmdrTick(*feed, kFeedBufferRecords);
        const double tick = watch.stop();
        allocations += heapAllocations() - before;
        if (drainMessages(QAPI_NOTIFY_CMDR_RECORD) != kRecords || feed->state != kFeedRunning)
            return state.SkipWithError("the feed did not post every record");

        watch.start();
        for (size_t t = 0; t < kTicks; ++t) {  // as the feed checks and decodes them
            const uint8_t *batch = records.data() + t * kFeedBufferSize;
            const size_t valid = cmdrCountValidRecords(batch, kFeedBufferRecords);
            for (size_t k = 0; k < valid; ++k) {
                auto *payload = cutScratchFor<CmdrRecordPayload>();
                cmdrDecodeRecord(batch + k * kCmdrRecordSize, server, RemoteFamily::Ipv4, *payload);
                benchmark::DoNotOptimize(payload);
            }
        }
        benchmark::ClobberMemory();
        checkTime += watch.stop();

        uint8_t buffer[kFeedBufferSize];
        size_t read = 0;
        watch.start();
        while (read < kBytes) {
            const ssize_t n = recv(bare, buffer, sizeof buffer, 0);
            if (n <= 0) return state.SkipWithError("the bare read failed");
            read += static_cast<size_t>(n);
        }
        bareTime += watch.stop();

        state.SetIterationTime(tick);
        libraryTime += tick;
        c.dropPolls();
    }
    const double count = static_cast<double>(state.iterations()) * kRecords;
    state.counters["library_us"] = libraryTime / count * 1e6;
    state.counters["check_decode_us"] = checkTime / count * 1e6;
    state.counters["recv_us"] = bareTime / count * 1e6;
    state.counters["ratio"] = libraryTime / checkTime;
    state.counters["library_Mrec_s"] = count / libraryTime / 1e6;
    state.counters["heap_allocs_per_tick"] =
        static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * kTicks);
}
BENCHMARK(BM_CallRecordFeed)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
