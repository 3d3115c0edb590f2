// Every heap allocation of the process, counted, so that the soak and the
// benchmarks can tell whether a tick allocated.  The plain build counts in a malloc of its own in
// front of glibc's; a build under AddressSanitizer counts through the
// sanitizer's allocation hook.  Host-name lookups (getaddrinfo, which
// allocates by its nature) are counted apart: what they allocate is not in
// the count.
#pragma once

#include <cstdint>

namespace qapi::test {

// Starts the count; false when allocations cannot be counted here.
bool startHeapCount();
uint64_t heapAllocations();  // outside host-name lookups
uint64_t hostLookups();
// True in a build under AddressSanitizer, whose own bookkeeping (freed blocks
// held back, the stacks of allocations) grows the resident memory.
bool underAddressSanitizer();

}  // namespace qapi::test
