// A flood of broadcasts on the station port: 512 registered clients watch 16
// extensions each (every extension by 16 clients), and the station endpoint's
// receive buffer (8 MiB) is filled with 1 KB datagrams before the first tick
// and topped up with 320 more before every tick, more than a tick may read.
// The datagrams take turns: statuses of watched extensions, statuses of
// extensions no one watches, records of random types and lengths for every
// host and for this one (for no station of it), and random bytes.  The
// application drains its queue after every tick.  Reported: longest_tick_ms
// (the longest of the run's ticks in the CPU time of the thread, the
// kernel's work for it included; goal: under 5 ms), longest_wall_ms (the
// same in wall-clock time, which a busy machine stretches), mean_tick_ms
// (CPU), posts_per_tick, and the heap allocations per tick.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/wire.h"
#include "e2e_support.h"
#include "library/library.h"
#include "station/endpoint.h"
#include "station/protocol.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr int kTicks = 64;
constexpr int kBeforeFirstTick = 4000;  // more than the receive buffer holds
constexpr int kPerTick = 320;
constexpr int32_t kFirstWatched = 3000;
constexpr int32_t kUnwatched = 9000;
constexpr size_t kWatches = 16;
constexpr size_t kRecordsPerDatagram = kStationBufferSize / ExtensionStatusRecord::kSize;

class Flood {
public:
    Flood(size_t clients, uint32_t host) : clients_(clients), host_(host) {}

    std::vector<uint8_t> next() {
        std::vector<uint8_t> d(kRecordsPerDatagram * ExtensionStatusRecord::kSize, 0);
        switch (turn_++ % 4) {
        case 0:  // statuses of watched extensions
            statuses(d, kFirstWatched, static_cast<uint32_t>(clients_));
            break;
        case 1:  // statuses no one watches
            statuses(d, kUnwatched, 100000);
            break;
        case 2:
            junkRecords(d);
            break;
        default:
            for (uint8_t &b : d) b = static_cast<uint8_t>(random());
        }
        return d;
    }

private:
    uint32_t random() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state_ >> 33);
    }
    void statuses(std::vector<uint8_t> &d, int32_t first, uint32_t spread) {
        for (size_t r = 0; r < kRecordsPerDatagram; ++r) {
            uint8_t *record = d.data() + r * ExtensionStatusRecord::kSize;
            writeU32le(record + RecordHeader::kDestination, kBroadcast);
            record[RecordHeader::kType] = kExtensionStatusType;
            record[RecordHeader::kExtra] = static_cast<uint8_t>(random());
            record[RecordHeader::kLength] = (ExtensionStatusRecord::kSize - 4) / 4;
            writeU32le(record + ExtensionStatusRecord::kExtension,
                       static_cast<uint32_t>(first) + random() % spread);
        }
    }
    // Records of random types and lengths, to every host or to this one for
    // stations it does not have; park lists among them.
    void junkRecords(std::vector<uint8_t> &d) {
        for (size_t at = 0; at + RecordHeader::kSize <= d.size();) {
            uint8_t *record = d.data() + at;
            const uint32_t words = 2 + random() % 24;
            for (size_t i = 0; i < 4 * words && at + i < d.size(); ++i)
                record[i] = static_cast<uint8_t>(random());
            writeU32le(record + RecordHeader::kDestination, random() % 2 ? kBroadcast : host_);
            record[RecordHeader::kLength] = static_cast<uint8_t>(words - 1);
            if (at + 12 <= d.size()) writeU32le(record + RecordHeader::kStation, 50000 + random() % 1000);
            at += 4 * words;
        }
    }

    size_t clients_;
    uint32_t host_;
    uint64_t state_ = 0x5EED;
    uint64_t turn_ = 0;
};

void BM_StationFlood(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    Library library(512);
    if (library.clients.size() != 512) return state.SkipWithError("the clients did not start");
    for (size_t i = 0; i < library.clients.size(); ++i) {
        for (size_t k = 0; k < kWatches; ++k) {
            const auto extension = static_cast<int32_t>(kFirstWatched + (i + 32 * k) % 512);
            if (QAPI_Client_bdp_register(library.clients[i], extension, 1) != 0)
                return state.SkipWithError("a watch was refused");
        }
    }
    for (int t = 0; t < 20; ++t) libraryTick();  // the watch lists go out
    drainMessages();
    library.keepResponding();
    const int room = 8 << 20;
    setIntOption(stationEndpoint().endpoint.socket, SOL_SOCKET, SO_RCVBUFFORCE, room);
    const plat::SocketHandle sender = openGroupSender();
    Flood flood(library.clients.size(), stationEndpoint().endpoint.localAddress);
    auto send = [&](int datagrams) {
        for (int k = 0; k < datagrams; ++k) sendToGroup(sender, kStationPort, flood.next());
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // all of them queued
    };

    double longest = 0, longestWall = 0, total = 0, posts = 0, ticks = 0;
    TickAllocations allocations;
    Stopwatch wall;
    ThreadStopwatch watch;
    send(kBeforeFirstTick);
    for (auto _ : state) {
        double iteration = 0;
        for (int t = 0; t < kTicks; ++t) {
            send(kPerTick);
            allocations.begin();
            wall.start();
            watch.start();
            libraryTick();
            const double tick = watch.stop();
            longestWall = std::max(longestWall, wall.stop());
            allocations.end();
            longest = std::max(longest, tick);
            iteration += tick;
            for (QMessage m; qmsgPeekMessage(&m);) ++posts;
            library.keepResponding();
        }
        total += iteration;
        ticks += kTicks;
        state.SetIterationTime(iteration);
    }
    state.counters["longest_tick_ms"] = longest * 1e3;
    state.counters["longest_wall_ms"] = longestWall * 1e3;
    state.counters["mean_tick_ms"] = total / ticks * 1e3;
    state.counters["posts_per_tick"] = posts / ticks;
    allocations.report(state);
    close(sender);
}
BENCHMARK(BM_StationFlood)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
