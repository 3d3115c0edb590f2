// The scratch arena: one process-wide 512 KiB buffer from which every
// notification payload is cut, front to back, and then reused from the start.
// Nothing is ever freed; a block stays intact until about 512 KiB of later
// payloads have been cut.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

inline constexpr uint32_t kScratchWords = 0x20000;  // 524288 bytes
inline constexpr size_t kTextBlockSize = 128;

struct ScratchArena {
    uint32_t words[kScratchWords];
    uint32_t cursor;  // word index after the last block handed out
};

ScratchArena &scratchArena();

// A zero-filled block of at least `sizeInBytes` bytes on a 4-byte boundary.
// A block that would not fit before the end starts again at word 0.
void *cutScratch(size_t sizeInBytes);
// The 128-byte block of every text payload and text line.
char *cutTextBlock();
// A block for a payload record that holds pointers: arena blocks start on
// 4-byte boundaries, which is enough on a 32-bit build (exactly cutScratch
// there); a 64-bit build cuts the slack and aligns inside the block.
void *cutScratchAligned(size_t sizeInBytes, size_t alignment);

template <class T>
T *cutScratchFor(size_t sizeInBytes = sizeof(T)) {
    return static_cast<T *>(cutScratchAligned(sizeInBytes, alignof(T)));
}

}  // namespace qapi
