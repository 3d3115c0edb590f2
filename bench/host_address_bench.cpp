// This host's address as the station endpoint looks it up on a datagram
// once every 100 ticks (the hosts file, the interfaces and the group's
// route: platform thisHostAddress) against the system resolver's lookup of
// the host name, which is what that took before; each iteration makes both,
// in turns.  Reported per lookup: library_us, resolver_us, their ratio, and
// the library's heap allocations (the resolver's are not counted).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include "e2e_support.h"
#include "heap_count.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

bool resolveHostName(const char *name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    const bool found = getaddrinfo(name, nullptr, &hints, &list) == 0;
    if (list) freeaddrinfo(list);
    return found;
}

void BM_HostAddressLookup(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kStationPort);
    inet_pton(AF_INET, "224.3.3.3", &group.sin_addr);
    char name[80] = {};
    gethostname(name, sizeof name - 1);

    double libraryTime = 0, resolverTime = 0;
    uint64_t round = 0, allocations = 0;
    bool resolved = true;
    Stopwatch watch;
    for (auto _ : state) {
        double own = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                uint32_t address = 0;
                const uint64_t before = heapAllocations();
                watch.start();
                benchmark::DoNotOptimize(plat::thisHostAddress(group, &address));
                own = watch.stop();
                allocations += heapAllocations() - before;
            } else {
                watch.start();
                resolved = resolveHostName(name) && resolved;
                resolverTime += watch.stop();
            }
        }
        state.SetIterationTime(own);
        libraryTime += own;
        ++round;
    }
    if (!resolved) return state.SkipWithError("the host name did not resolve");
    const auto lookups = static_cast<double>(state.iterations());
    state.counters["library_us"] = libraryTime / lookups * 1e6;
    state.counters["resolver_us"] = resolverTime / lookups * 1e6;
    state.counters["ratio"] = libraryTime / resolverTime;
    state.counters["heap_allocs"] = static_cast<double>(allocations) / lookups;
    if (allocations != 0) state.SkipWithError("the lookup allocated from the heap");
}
BENCHMARK(BM_HostAddressLookup)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
