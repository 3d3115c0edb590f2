#include "core/scratch.h"

#include <cstring>

namespace qapi {

ScratchArena &scratchArena() {
    static ScratchArena arena;
    return arena;
}

void *cutScratch(size_t sizeInBytes) {
    ScratchArena &arena = scratchArena();
    const uint32_t n = static_cast<uint32_t>((sizeInBytes + 3) / 4);
    uint32_t start = arena.cursor;
    if (start > kScratchWords || n > kScratchWords - start) start = 0;
    arena.cursor = start + n;
    std::memset(&arena.words[start], 0, static_cast<size_t>(n) * 4);
    return &arena.words[start];
}

void *cutScratchAligned(size_t sizeInBytes, size_t alignment) {
    if (alignment <= 4) return cutScratch(sizeInBytes);
    uintptr_t at = reinterpret_cast<uintptr_t>(cutScratch(sizeInBytes + alignment - 4));
    at = (at + alignment - 1) & ~static_cast<uintptr_t>(alignment - 1);
    return reinterpret_cast<void *>(at);
}

char *cutTextBlock() { return static_cast<char *>(cutScratch(kTextBlockSize)); }

}  // namespace qapi
