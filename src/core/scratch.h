// The scratch arena: one process-wide 512 KiB buffer from which every
// notification payload is cut, front to back, and then reused from the start.
// Nothing is ever freed; a block stays intact until about 512 KiB of later
// payloads have been cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace qapi {

inline constexpr uint32_t kScratchWords = 0x20000;  // blocks are cut in 4-byte words
inline constexpr size_t kScratchWordSize = 4;
inline constexpr size_t kScratchBytes = kScratchWords * kScratchWordSize;  // 524288
inline constexpr size_t kTextBlockSize = 128;

// Byte storage, aligned for every payload record: each payload is created in
// it as an object of its own type.
struct ScratchArena {
    alignas(std::max_align_t) unsigned char bytes[kScratchBytes];
    uint32_t cursor;  // word index after the last block handed out
};

ScratchArena &scratchArena();

// Zero-filled storage of at least `sizeInBytes` bytes on a 4-byte boundary.
// A block that would not fit before the end starts again at word 0.
void *cutScratch(size_t sizeInBytes);
// Storage as cutScratch, aligned to `alignment`: arena blocks start on 4-byte
// boundaries, which is enough on a 32-bit build (exactly cutScratch there); a
// stricter alignment cuts the slack and aligns inside the block.
void *cutScratchAligned(size_t sizeInBytes, size_t alignment);

// A payload record of type T, zero-initialised, created in the arena.
template <class T>
T *cutScratchFor(size_t sizeInBytes = sizeof(T)) {
    return ::new (cutScratchAligned(sizeInBytes, alignof(T))) T();
}

// The 128-byte text block of every text payload and text line, all NUL.
char *cutTextBlock();

}  // namespace qapi
