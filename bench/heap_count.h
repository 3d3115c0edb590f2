// Counts every heap allocation of the benchmark process: malloc, calloc and
// realloc are replaced by glibc's own behind a counter (operator new goes
// through malloc).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace qapi::bench {

// Allocations so far in the whole process.
uint64_t heapAllocations();

// Reports the allocations since `before` as the counter heap_allocs, divided
// by `per` (1: the loop's total); any at all is an error, and so is a count
// that does not see a malloc.
void reportAllocations(benchmark::State &state, uint64_t before, double per = 1);

}  // namespace qapi::bench
