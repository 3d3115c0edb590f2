// The registry of live handles: three fixed arrays of handle pointers.  A
// handle is live exactly while its pointer stands in a slot; new handles take
// the lowest free slot and every walk goes from slot 0 upward.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

struct StationClient;
struct CmdrFeed;
struct AdjunctLink;

inline constexpr size_t kMaxClients = 512;
inline constexpr size_t kMaxFeeds = 32;
inline constexpr size_t kMaxLinks = 8;

// Kind words carried by every handle record.
inline constexpr uint32_t kClientMagic = 0x12ABCD34;
inline constexpr uint32_t kFeedMagic = 0x12ABCD35;
inline constexpr uint32_t kLinkMagic = 0x12ABCD36;

struct HandleRegistry {
    StationClient *clients[kMaxClients];
    CmdrFeed *feeds[kMaxFeeds];
    AdjunctLink *links[kMaxLinks];
};

inline constexpr int kNoSlot = -1;

// The lowest free slot, or kNoSlot.
template <class T, size_t N>
int lowestFreeSlot(T *const (&slots)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (!slots[i]) return static_cast<int>(i);
    }
    return kNoSlot;
}

// The slot that holds `handle`, or kNoSlot.  Compares addresses only, so a
// stopped or foreign handle is found absent without being read.
template <class T, size_t N>
int slotOf(T *const (&slots)[N], const void *handle) {
    if (!handle) return kNoSlot;
    for (size_t i = 0; i < N; ++i) {
        if (slots[i] == handle) return static_cast<int>(i);
    }
    return kNoSlot;
}

// Empties every slot, in slot order, handing each handle that stood there to
// `release` once its slot is already empty.
template <class T, size_t N, class Release>
void releaseEverySlot(T *(&slots)[N], Release release) {
    for (T *&slot : slots) {
        T *handle = slot;
        if (!handle) continue;
        slot = nullptr;
        release(handle);
    }
}

}  // namespace qapi
