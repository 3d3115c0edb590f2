// What one tick may post.  Every payload is cut from the scratch arena, which
// is reused from the start once its end is reached; a payload stays intact
// only until the cursor has come round to it again.  So that every payload
// stays intact through the tick that posted it and the whole tick after it,
// for a reader on any thread, the library cuts at most half the arena from
// the start of one tick to the start of the next, and posts at most 5,000
// messages there (two such periods fit the 10,000-message queue of a thread).
//
// The arena and the posting functions count what is used; the tick's work
// asks before each step that may post (a station record, a call record, an
// adjunct datagram) whether its most costly outcome still fits, and leaves
// the step for the next tick when it does not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/scratch.h"

namespace qapi {

// Bytes of the arena (the cursor's advance, a tail skipped at the end of the
// arena included) and messages posted.
struct PostCost {
    uint32_t bytes;
    uint32_t posts;
};
inline constexpr PostCost operator+(PostCost a, PostCost b) { return {a.bytes + b.bytes, a.posts + b.posts}; }
inline constexpr PostCost operator*(uint32_t n, PostCost c) { return {n * c.bytes, n * c.posts}; }

inline constexpr uint32_t kTickPayloadBytes = static_cast<uint32_t>(kScratchBytes / 2);  // 256 KiB
inline constexpr uint32_t kTickPosts = 5000;
// Kept for the two exports that post between ticks (QAPI_Client_newcall and
// QAPI_Client_digits, a dialed text each): the tick's work never takes it.
inline constexpr PostCost kExportReserve{8 * 1024, 64};
// A cut that does not fit before the end of the arena skips the tail: at
// most the largest single block (a line list, a call record) less a word.
inline constexpr uint32_t kLargestSkip = 512;

// The arena's advance for one block of `size` bytes aligned to `alignment`,
// as cutScratchAligned cuts it (the tail skip aside).
inline constexpr uint32_t scratchCost(size_t size, size_t alignment = kScratchWordSize) {
    const size_t slack = alignment > kScratchWordSize ? alignment - kScratchWordSize : 0;
    return static_cast<uint32_t>((size + slack + kScratchWordSize - 1) / kScratchWordSize * kScratchWordSize);
}
template <class T>
inline constexpr uint32_t scratchCostOf(size_t size = sizeof(T)) {
    return scratchCost(size, alignof(T));
}

// A new period: the tick has begun.  Nothing is held back.
void budgetStartTick();
// Keeps `reserve` for what runs later in this tick: budgetAllows answers as
// though it were used already.  A later call replaces it.
void budgetHoldBack(PostCost reserve);
// True when the tick's work may still post `cost` (beside the export reserve
// and what is held back).
bool budgetAllows(PostCost cost);
// True when an export may post `cost` in this period.
bool budgetAllowsExport(PostCost cost);
// How many steps of `each` the tick's work may still take.
uint32_t budgetAffords(PostCost each);

// Counted by the arena and the posting functions.
void budgetCountBytes(uint32_t bytes);
void budgetCountPosts(uint32_t posts);

// What this period has used, for the tests.
PostCost budgetUsed();

}  // namespace qapi
