// The library's memory: the bytes of one station client record, and the
// process's resident memory once 512 station clients, 32 call-record feeds
// and 8 adjunct links are started (in a process of its own, so that memory
// other benchmarks freed does not hide any), with the growth that starting
// them caused.
#include <benchmark/benchmark.h>

#include <vector>

#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "e2e_support.h"
#include "qapi.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

void BM_Footprint(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const uint64_t before = residentKiB();
    for (auto _ : state) {
        const Library library(kMaxClients);
        const test::TestSocket feedServer(SOCK_STREAM);
        const test::TestSocket linkServer(SOCK_DGRAM);
        size_t feeds = 0, links = 0;
        std::vector<plat::SocketHandle> accepted;
        for (size_t i = 0; i < kMaxFeeds; ++i) {
            // Each connection is taken at once: the listener's backlog is short.
            feeds += QAPI_Cmdr_start(library.window, "127.0.0.1", feedServer.port) ? 1 : 0;
            accepted.push_back(accept(feedServer.fd, nullptr, nullptr));
        }
        for (size_t i = 0; i < kMaxLinks; ++i)
            links += QAPI_Adjunct_start(library.window, "127.0.0.1", linkServer.port) ? 1 : 0;
        if (library.clients.size() != kMaxClients || feeds != kMaxFeeds || links != kMaxLinks)
            return state.SkipWithError("not every handle started");
        const uint64_t after = residentKiB();
        state.counters["station_client_bytes"] = static_cast<double>(sizeof(StationClient));
        state.counters["rss_KiB"] = static_cast<double>(after);
        state.counters["rss_growth_KiB"] = static_cast<double>(after - before);
        for (plat::SocketHandle s : accepted) plat::closeSocket(s);
    }
}
BENCHMARK(BM_Footprint)->Iterations(1);

}  // namespace
