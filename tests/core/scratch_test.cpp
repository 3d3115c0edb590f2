// The scratch arena: zero-filled word-aligned blocks, handed out front to
// back, wrapping to word 0 when a block would not fit.
#include <gtest/gtest.h>

#include <cstring>

#include "core/scratch.h"

namespace qapi {
namespace {

uint32_t wordIndex(const void *p) {
    return static_cast<uint32_t>(static_cast<const uint32_t *>(p) - scratchArena().words);
}

TEST(ScratchArena, RoundsUpToWholeWordsAndZeroFillsReusedSpace) {
    ScratchArena &arena = scratchArena();
    arena.cursor = 100;
    std::memset(&arena.words[100], 0xAB, 64);
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
    arena.words[0] = 0xDEADBEEF;
    arena.words[1] = 0xDEADBEEF;
    auto *p = static_cast<uint32_t *>(cutScratch(8));
    EXPECT_EQ(wordIndex(p), 0u);
    EXPECT_EQ(p[0], 0u);
    EXPECT_EQ(p[1], 0u);
    EXPECT_EQ(arena.cursor, 2u);
}

}  // namespace
}  // namespace qapi
