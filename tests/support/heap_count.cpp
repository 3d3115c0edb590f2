#include "support/heap_count.h"

#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define QAPI_HEAP_HOOKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QAPI_HEAP_HOOKED 1
#endif
#endif

namespace {
std::atomic<uint64_t> gAllocations{0};
std::atomic<uint64_t> gLookups{0};
thread_local int tLookupDepth = 0;

void count() {
    if (tLookupDepth == 0) gAllocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

// The library's host-name lookups come here first.
extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints,
                           addrinfo **result) noexcept {
    using Lookup = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    gLookups.fetch_add(1, std::memory_order_relaxed);
    ++tLookupDepth;
    const int found = next(node, service, hints, result);
    --tLookupDepth;
    return found;
}

#if defined(QAPI_HEAP_HOOKED)
// The sanitizer owns malloc: it calls a hook on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void *, size_t),
                                                         void (*onFree)(const volatile void *));
namespace {
void countMalloc(const volatile void *, size_t) { count(); }
void ignoreFree(const volatile void *) {}
bool installHooks() { return __sanitizer_install_malloc_and_free_hooks(countMalloc, ignoreFree) != 0; }
}  // namespace
#else
// glibc's allocator behind a count (operator new goes through malloc).
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);

void *malloc(size_t size) noexcept {
    count();
    return __libc_malloc(size);
}
void *calloc(size_t n, size_t size) noexcept {
    count();
    return __libc_calloc(n, size);
}
void *realloc(void *block, size_t size) noexcept {
    count();
    return __libc_realloc(block, size);
}
void free(void *block) noexcept { __libc_free(block); }
}
namespace {
bool installHooks() { return true; }
}  // namespace
#endif

namespace qapi::test {

bool startHeapCount() {
    if (!installHooks()) return false;
    // A count that does not see a malloc is no count.
    const uint64_t before = gAllocations.load();
    void *volatile probe = std::malloc(16);
    std::free(probe);
    return gAllocations.load() != before;
}

uint64_t heapAllocations() { return gAllocations.load(std::memory_order_relaxed); }
uint64_t hostLookups() { return gLookups.load(std::memory_order_relaxed); }

bool underAddressSanitizer() {
#if defined(QAPI_HEAP_HOOKED)
    return true;
#else
    return false;
#endif
}

}  // namespace qapi::test
