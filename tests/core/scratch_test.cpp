// The scratch arena: zero-filled word-aligned blocks, handed out front to
// back, wrapping to word 0 when a block would not fit.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/scratch.h"
#include "qapi.h"

namespace qapi {
namespace {

uint32_t wordIndex(const void *p) {
    return static_cast<uint32_t>((static_cast<const unsigned char *>(p) - scratchArena().bytes) / 4);
}

unsigned char *atWord(uint32_t word) { return scratchArena().bytes + 4 * static_cast<size_t>(word); }

TEST(ScratchArena, RoundsUpToWholeWordsAndZeroFillsReusedSpace) {
    ScratchArena &arena = scratchArena();
    arena.cursor = 100;
    std::memset(atWord(100), 0xAB, 64);
    auto *a = static_cast<uint8_t *>(cutScratch(5));
    EXPECT_EQ(wordIndex(a), 100u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(a[i], 0) << i;
    void *b = cutScratch(1);
    EXPECT_EQ(wordIndex(b), 102u);
    char *text = cutTextBlock();
    EXPECT_EQ(wordIndex(text), 103u);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(text[i], 0) << i;
    EXPECT_EQ(arena.cursor, 135u);
}

TEST(ScratchArena, ABlockEndingExactlyAtTheEndStaysThereAndTheNextWraps) {
    ScratchArena &arena = scratchArena();
    arena.cursor = 0x1FFFE;
    EXPECT_EQ(wordIndex(cutScratch(8)), 0x1FFFEu);
    EXPECT_EQ(arena.cursor, 0x20000u);
    EXPECT_EQ(wordIndex(cutScratch(4)), 0u);
    EXPECT_EQ(arena.cursor, 1u);
}

TEST(ScratchArena, ABlockThatWouldNotFitStartsAtWordZeroAndSkipsTheTail) {
    ScratchArena &arena = scratchArena();
    arena.cursor = 0x1FFFF;
    std::memset(atWord(0), 0xEE, 8);
    auto *p = static_cast<unsigned char *>(cutScratch(8));
    EXPECT_EQ(wordIndex(p), 0u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(arena.cursor, 2u);
}

// Payloads are objects created in byte storage, each aligned for its type on
// every 4-byte phase of the arena and zero-initialised.
template <class T>
void expectCutsAligned() {
    for (uint32_t phase = 0; phase < 2; ++phase) {
        scratchArena().cursor = 200 + phase;
        std::memset(atWord(200), 0xEE, 512);
        T *p = cutScratchFor<T>();
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(T), 0u) << phase;
        const auto *bytes = reinterpret_cast<const unsigned char *>(p);
        for (size_t i = 0; i < sizeof(T); ++i) ASSERT_EQ(bytes[i], 0) << i;
    }
}

TEST(ScratchArena, IsByteStorageInWhichEveryPayloadIsCreatedAligned) {
    static_assert(std::is_same_v<std::remove_extent_t<decltype(ScratchArena::bytes)>, unsigned char>);
    static_assert(alignof(ScratchArena) >= alignof(std::max_align_t));
    expectCutsAligned<QapiStatusSnapshot>();
    expectCutsAligned<QapiStatusPayload>();
    expectCutsAligned<QapiLineList>();
    expectCutsAligned<QapiExtensionStatus>();
    expectCutsAligned<QapiCmdrRecordPayload>();
    expectCutsAligned<QapiRouteRequestPayload>();
}

}  // namespace
}  // namespace qapi
