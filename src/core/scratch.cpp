#include "core/scratch.h"

#include <cstring>

#include "core/budget.h"

namespace qapi {

ScratchArena &scratchArena() {
    static ScratchArena arena;
    return arena;
}

void *cutScratch(size_t sizeInBytes) {
    ScratchArena &arena = scratchArena();
    const uint32_t n = static_cast<uint32_t>((sizeInBytes + kScratchWordSize - 1) / kScratchWordSize);
    uint32_t start = arena.cursor;
    uint32_t advance = n;
    if (start > kScratchWords || n > kScratchWords - start) {
        // The tail that the block does not fit into is skipped: it counts.
        advance += start > kScratchWords ? 0 : kScratchWords - start;
        start = 0;
    }
    arena.cursor = start + n;
    budgetCountBytes(advance * static_cast<uint32_t>(kScratchWordSize));
    unsigned char *block = arena.bytes + static_cast<size_t>(start) * kScratchWordSize;
    std::memset(block, 0, static_cast<size_t>(n) * kScratchWordSize);
    return block;
}

void *cutScratchAligned(size_t sizeInBytes, size_t alignment) {
    if (alignment <= kScratchWordSize) return cutScratch(sizeInBytes);
    auto *block = static_cast<unsigned char *>(cutScratch(sizeInBytes + alignment - kScratchWordSize));
    const auto at = reinterpret_cast<uintptr_t>(block);
    return block + ((alignment - at % alignment) % alignment);
}

char *cutTextBlock() { return ::new (cutScratch(kTextBlockSize)) char[kTextBlockSize](); }

}  // namespace qapi
