// The heap allocations of a benchmark process, through the count the soak
// uses too (support/heap_count.h: malloc behind a counter, the host-name
// lookups' own allocations apart).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "support/heap_count.h"

namespace qapi::bench {

using test::heapAllocations;
using test::hostLookups;

// Reports the allocations since `before` as the counter heap_allocs, divided
// by `per` (1: the loop's total); any at all is an error, and so is a count
// that does not see a malloc.
void reportAllocations(benchmark::State &state, uint64_t before, double per = 1);

}  // namespace qapi::bench
