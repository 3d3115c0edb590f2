// This host's address as the station endpoint looks it up on a datagram
// once every 100 ticks (the hosts file, the interfaces and the group's
// route: platform thisHostAddress) against the system resolver's lookup of
// the host name, which is what that took before; each iteration makes both,
// in turns.  Reported per lookup: library_us, resolver_us, their ratio, and
// the library's heap allocations (the resolver's are not counted).
//
// Then the same look-up on a host whose hosts file has 400,000 lines (one
// that blocks advertising names through it) with the host's name on
// 127.0.1.1, bound over /etc/hosts in a mount namespace of the benchmark
// thread's own: the look-up a tick makes while the file is unchanged, the
// one it makes after the file changed (a slice of it), and the whole file
// read at once (what each look-up read before, every 100 ticks).  Reported:
// unchanged_us, slice_us, whole_ms, ticks_to_read (slices to the end).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "e2e_support.h"
#include "heap_count.h"
#include "support/netns.h"

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
                benchmark::DoNotOptimize(plat::thisHostAddress(group, &address, plat::HostLookup::Slice));
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

std::string bigHostsFile() {
    std::string text = "127.0.0.1 localhost\n127.0.1.1 qapi-desktop\n";
    char line[64];
    for (int i = 0; i < 400000; ++i) {
        std::snprintf(line, sizeof line, "0.0.0.0 ads-%d.tracker.example.net\n", i);
        text += line;
    }
    return text;
}

// A new modification time: the file counts as changed.
void touchHosts() {
    timespec now[2];
    clock_gettime(CLOCK_REALTIME, &now[0]);
    now[1] = now[0];
    utimensat(AT_FDCWD, "/etc/hosts", now, 0);
}

void BM_HostsFileOf400000Lines(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    const test::HostFiles files("qapi-desktop", bigHostsFile());
    if (!files.ready()) return state.SkipWithError("no mount namespace for the hosts file");
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kStationPort);
    inet_pton(AF_INET, "224.3.3.3", &group.sin_addr);
    uint32_t address = 0;
    double unchanged = 0, slice = 0, whole = 0, slices = 0;
    Stopwatch watch;
    for (auto _ : state) {
        touchHosts();
        watch.start();
        plat::thisHostAddress(group, &address, plat::HostLookup::Whole);
        whole += watch.stop();
        watch.start();
        plat::thisHostAddress(group, &address, plat::HostLookup::Slice);
        unchanged += watch.stop();
        touchHosts();
        double longest = 0;
        int calls = 0;
        for (plat::HostAddress found = plat::HostAddress::Pending; found == plat::HostAddress::Pending;
             ++calls) {
            watch.start();
            found = plat::thisHostAddress(group, &address, plat::HostLookup::Slice);
            longest = std::max(longest, watch.stop());
        }
        slice += longest;
        slices += calls;
        state.SetIterationTime(longest);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["unchanged_us"] = unchanged / n * 1e6;
    state.counters["slice_us"] = slice / n * 1e6;
    state.counters["whole_ms"] = whole / n * 1e3;
    state.counters["ticks_to_read"] = slices / n;
}
BENCHMARK(BM_HostsFileOf400000Lines)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5);

}  // namespace
