#include "heap_count.h"

#include <cstdlib>

namespace qapi::bench {

void reportAllocations(benchmark::State &state, uint64_t before, double per) {
    const uint64_t allocations = heapAllocations() - before;
    state.counters["heap_allocs"] = static_cast<double>(allocations) / per;
    if (allocations != 0) state.SkipWithError("the loop allocated from the heap");
    void *volatile probe = std::malloc(16);
    std::free(probe);
    if (heapAllocations() == before + allocations) state.SkipWithError("the allocation count is not in effect");
}

}  // namespace qapi::bench
