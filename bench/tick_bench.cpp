// The CPU cost of the tick's station work, without sockets: one datagram of
// typical records dispatched through the tick's own framing and sink to 1, 64
// and 512 registered clients; stationUpdateFeatures alone; and the supervision of
// 512 idle registered clients for one tick.  The station endpoint is never
// opened (the library is only told that it is, so that clients start, and
// every send finds the endpoint closed): nothing leaves the process.  Every
// malloc of the process is counted, and a loop that allocates from the heap
// reports an error.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/wire.h"
#include "heap_count.h"
#include "library/library.h"
#include "qapi.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/endpoint.h"
#include "station/framing.h"
#include "station/monitor_panel.h"
#include "station/permissions.h"
#include "station/supervise.h"

namespace {

using namespace qapi;
using bench::heapAllocations;
using bench::reportAllocations;

constexpr uint32_t kHost = 0x0A4E0001;
constexpr int32_t kFirstStation = 100;
constexpr int32_t kWatched = 201;
constexpr int kDrainEvery = 1000;  // iterations between emptying the message queue

void drainMessages() {
    QMessage m;
    while (qmsgPeekMessage(&m)) {}
}

// The library with `count` registered, idle clients (stations 100 and up)
// notifying one window; the first watches extension 201.
struct Library {
    QWindow window = 0;
    std::vector<StationClient *> clients;

    Library(size_t count, bool watch) {
        qmsgUseManualClock(1);  // the tick timer never fires by itself
        QAPI_Stack_initialize(5001);
        stationEndpoint().open = true;  // never opened: sends find it closed
        window = qmsgCreateWindow();
        for (size_t i = 0; i < count; ++i) {
            const auto station = static_cast<int32_t>(kFirstStation + i);
            auto *client = static_cast<StationClient *>(QAPI_Client_start(window, station));
            uint8_t reply[40] = {};
            reply[4] = kRegistrationReplyType;
            reply[7] = 9;
            writeU32le(reply + 8, static_cast<uint32_t>(station));
            writeU32le(reply + 16, 0x100);  // calls allowed
            stationHandleRecord(*client, reply, sizeof reply);
            clients.push_back(client);
        }
        if (watch) QAPI_Client_bdp_register(clients[0], kWatched, 1);
        drainMessages();
    }
    ~Library() {
        stationEndpoint().open = false;
        QAPI_Stack_release();
        qmsgDestroyWindow(window);
        drainMessages();
    }
};

// A call event for one station (it rings, or goes idle), an acknowledgement
// that no client waits for, and the status broadcast of a watched extension.
std::vector<uint8_t> typicalDatagram(int32_t ringing, int32_t other, bool rings) {
    std::vector<uint8_t> d(48, 0);
    writeU32le(&d[0], kHost);
    d[4] = kCallEventType;
    d[5] = rings ? 6 : 1;
    d[7] = 5;
    writeU32le(&d[8], static_cast<uint32_t>(ringing));
    writeU16le(&d[18], 1);
    writeU32le(&d[20], 0x100);
    writeU32le(&d[24], kHost);
    d[28] = kAcknowledgeType;
    d[29] = 0x85;
    d[31] = 2;
    writeU32le(&d[32], static_cast<uint32_t>(other));
    writeU32le(&d[36], kBroadcast);
    d[40] = kExtensionStatusType;
    d[42] = rings ? 2 : 0;
    d[43] = 2;
    writeU32le(&d[44], kWatched);
    return d;
}

// Every iteration is one datagram; every second one makes a station ring and
// the next one makes it idle again, so each posts a snapshot and a status.
void BM_DispatchTypicalDatagram(benchmark::State &state) {
    Library library(static_cast<size_t>(state.range(0)), true);
    const int32_t middle = kFirstStation + static_cast<int32_t>(library.clients.size() / 2);
    const std::vector<uint8_t> datagrams[2] = {typicalDatagram(middle, kFirstStation, true),
                                               typicalDatagram(middle, kFirstStation, false)};
    const StationRecordSink &sink = libraryStationSink();
    int n = 0;
    const uint64_t before = heapAllocations();
    for (auto _ : state) {
        const std::vector<uint8_t> &d = datagrams[n & 1];
        stationDispatchDatagram(d.data(), d.size(), kHost, sink);
        if (++n % kDrainEvery == 0) {
            state.PauseTiming();
            drainMessages();
            state.ResumeTiming();
        }
    }
    reportAllocations(state, before);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchTypicalDatagram)->Arg(1)->Arg(64)->Arg(512);

// Argument 0: the state stays (nothing to post); 1: it changes every time
// (a snapshot is posted).
void BM_UpdateFeatures(benchmark::State &state) {
    Library library(1, false);
    StationClient &client = *library.clients[0];
    const bool change = state.range(0) != 0;
    int n = 0;
    const uint64_t before = heapAllocations();
    for (auto _ : state) {
        stationUpdateFeatures(client, change && (n & 1) ? kStateAlerting : kStateIdle);
        if (++n % kDrainEvery == 0) {
            state.PauseTiming();
            drainMessages();
            state.ResumeTiming();
        }
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_UpdateFeatures)->Arg(0)->Arg(1);

// One tick's supervision of 512 idle registered clients: heartbeats every 10
// ticks, a keep-alive every 60.  The server's answer to the keep-alives is
// stood in for, outside the timing, by clearing the unanswered count.
void BM_IdleSupervision512(benchmark::State &state) {
    Library library(512, false);
    int n = 0;
    const uint64_t before = heapAllocations();
    for (auto _ : state) {
        for (StationClient *client : stationClients()) {
            if (client) stationTick(*client);
        }
        if (++n % 50 == 0) {
            state.PauseTiming();
            drainMessages();
            for (StationClient *client : library.clients) client->retryCount = 0;
            state.ResumeTiming();
        }
    }
    reportAllocations(state, before);
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BM_IdleSupervision512);

}  // namespace

BENCHMARK_MAIN();
