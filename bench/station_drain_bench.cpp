// The station endpoint through real sockets: a sender multicasts K datagrams
// of three status replies, addressed to this host for stations spread over
// the registered clients; the library's tick drains them from its endpoint,
// and a bare recv loop drains the same datagrams from a second socket of the
// same group on another port, in the same iteration (the two take turns at
// going first).  Reported per datagram: the tick's cost (library_us), the bare
// loop's (recv_us) and their ratio; and the heap allocations per tick.
// Then the tick of 512 idle registered clients with nothing to read.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "core/wire.h"
#include "e2e_support.h"
#include "heap_count.h"
#include "library/library.h"
#include "station/endpoint.h"
#include "station/protocol.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr int kDatagrams = 160;  // K: what the receive room of both sockets holds
constexpr uint16_t kBarePort = kStationPort + 1;
constexpr size_t kRecordsPerDatagram = 3;

// Status replies (idle, calls allowed: what the clients already show, so
// nothing is posted) for three stations that differ from datagram to datagram.
std::vector<uint8_t> statusDatagram(uint32_t host, size_t clients, size_t first) {
    std::vector<uint8_t> d(kRecordsPerDatagram * FlagsRecord::kSize, 0);
    for (size_t r = 0; r < kRecordsPerDatagram; ++r) {
        uint8_t *record = d.data() + r * FlagsRecord::kSize;
        writeU32le(record + RecordHeader::kDestination, host);
        record[RecordHeader::kType] = kStatusReplyType;
        record[RecordHeader::kLength] = (FlagsRecord::kSize - 4) / 4;
        const size_t station = kFirstStation + (first + r) % clients;
        writeU32le(record + RecordHeader::kStation, static_cast<uint32_t>(station));
        writeU32le(record + FlagsRecord::kFlags, kFlagCallAllowed);
    }
    return d;
}

int drainBare(plat::SocketHandle s) {
    uint8_t buffer[kStationBufferSize];
    int count = 0;
    while (recv(s, buffer, sizeof buffer, 0) >= 0) ++count;
    return errno == EAGAIN || errno == EWOULDBLOCK ? count : -1;
}

void BM_StationDrain(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const auto clients = static_cast<size_t>(state.range(0));
    Library library(clients);
    if (library.clients.size() != clients) return state.SkipWithError("the clients did not start");
    setIntOption(stationEndpoint().endpoint.socket, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
    const plat::SocketHandle bare = openGroupReceiver(kBarePort);
    const plat::SocketHandle sender = openGroupSender();
    const uint32_t host = stationEndpoint().endpoint.localAddress;

    double libraryTime = 0, bareTime = 0;
    uint64_t round = 0;
    TickAllocations allocations;
    for (auto _ : state) {
        for (int k = 0; k < kDatagrams; ++k) {
            const auto datagram =
                statusDatagram(host, clients, (round * kDatagrams + k) * kRecordsPerDatagram);
            sendToGroup(sender, kStationPort, datagram);
            sendToGroup(sender, kBarePort, datagram);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // all of them queued
        double tick = 0, loop = 0;
        int drained = 0;
        Stopwatch watch;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                allocations.begin();
                watch.start();
                libraryTick();
                tick = watch.stop();
                allocations.end();
            } else {
                watch.start();
                drained = drainBare(bare);
                loop = watch.stop();
            }
        }
        if (drained != kDatagrams) return state.SkipWithError("the bare socket did not get every datagram");
        state.SetIterationTime(tick);
        libraryTime += tick;
        bareTime += loop;
        ++round;
        drainMessages();
        library.keepResponding();
    }
    const double datagrams = static_cast<double>(state.iterations()) * kDatagrams;
    state.counters["library_us"] = libraryTime / datagrams * 1e6;
    state.counters["recv_us"] = bareTime / datagrams * 1e6;
    state.counters["ratio"] = libraryTime / bareTime;
    allocations.report(state);
    close(bare);
    close(sender);
}
BENCHMARK(BM_StationDrain)
    ->ArgName("clients")
    ->Arg(1)
    ->Arg(64)
    ->Arg(512)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// One tick of 512 registered clients with nothing waiting on the endpoint:
// their supervision (heartbeats every 10 ticks, a keep-alive every 60).
void BM_IdleTick512(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    Library library(512);
    uint64_t ticks = 0;
    TickAllocations allocations;
    Stopwatch watch;
    for (auto _ : state) {
        allocations.begin();
        watch.start();
        libraryTick();
        state.SetIterationTime(watch.stop());
        allocations.end();
        if (++ticks % 50 == 0) {
            drainMessages();
            library.keepResponding();
        }
    }
    allocations.report(state);
}
BENCHMARK(BM_IdleTick512)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
