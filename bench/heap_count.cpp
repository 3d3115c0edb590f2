#include "heap_count.h"

#include <atomic>
#include <cstdlib>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}
namespace {
std::atomic<uint64_t> gAllocations{0};
}
extern "C" {
void *malloc(size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *block, size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
void free(void *block) noexcept { __libc_free(block); }
}

namespace qapi::bench {

uint64_t heapAllocations() { return gAllocations.load(); }

void reportAllocations(benchmark::State &state, uint64_t before, double per) {
    const uint64_t allocations = gAllocations.load() - before;
    state.counters["heap_allocs"] = static_cast<double>(allocations) / per;
    if (allocations != 0) state.SkipWithError("the loop allocated from the heap");
    void *volatile probe = std::malloc(16);
    std::free(probe);
    if (gAllocations.load() == before + allocations)
        state.SkipWithError("the allocation count is not in effect");
}

}  // namespace qapi::bench
