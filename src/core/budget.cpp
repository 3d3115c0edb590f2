#include "core/budget.h"

namespace qapi {
namespace {

struct Budget {
    PostCost used;
    PostCost held;
};

Budget &budget() {
    static Budget b;
    return b;
}

// Whether `cost` fits beside what is used, what is kept aside and a tail skip.
bool fits(PostCost cost, PostCost aside) {
    const Budget &b = budget();
    const uint64_t bytes = uint64_t{b.used.bytes} + cost.bytes + aside.bytes + kLargestSkip;
    const uint64_t posts = uint64_t{b.used.posts} + cost.posts + aside.posts;
    return bytes <= kTickPayloadBytes && posts <= kTickPosts;
}

uint32_t saturatingAdd(uint32_t a, uint32_t b) { return a > UINT32_MAX - b ? UINT32_MAX : a + b; }

}  // namespace

void budgetStartTick() { budget() = Budget{}; }

void budgetHoldBack(PostCost reserve) { budget().held = reserve; }

bool budgetAllows(PostCost cost) { return fits(cost, kExportReserve + budget().held); }

bool budgetAllowsExport(PostCost cost) { return fits(cost, PostCost{0, 0}); }

uint32_t budgetAffords(PostCost each) {
    const Budget &b = budget();
    const PostCost aside = kExportReserve + b.held;
    const uint64_t bytesUsed = uint64_t{b.used.bytes} + aside.bytes + kLargestSkip;
    const uint64_t postsUsed = uint64_t{b.used.posts} + aside.posts;
    if (bytesUsed >= kTickPayloadBytes || postsUsed >= kTickPosts) return 0;
    const uint64_t byBytes = each.bytes ? (kTickPayloadBytes - bytesUsed) / each.bytes : UINT32_MAX;
    const uint64_t byPosts = each.posts ? (kTickPosts - postsUsed) / each.posts : UINT32_MAX;
    const uint64_t n = byBytes < byPosts ? byBytes : byPosts;
    return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

void budgetCountBytes(uint32_t bytes) { budget().used.bytes = saturatingAdd(budget().used.bytes, bytes); }

void budgetCountPosts(uint32_t posts) { budget().used.posts = saturatingAdd(budget().used.posts, posts); }

PostCost budgetUsed() { return budget().used; }

}  // namespace qapi
