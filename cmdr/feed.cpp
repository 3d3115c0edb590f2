// Start and stop of call-record feeds, and their handle check.
#include "cmdr/feed.h"

#include <cstdlib>

#include "core/stack.h"

namespace qapi {

bool cmdrCheckHandle(const void *handle) {
    const int slot = slotOf(stack().registry.feeds, handle);
    if (slot == kNoSlot) return false;
    const CmdrFeed *feed = stack().registry.feeds[slot];
    return feed->magic == kFeedMagic && feed->window != 0;
}

namespace {

void freeFeed(CmdrFeed *feed) {
    closeEndpoint(feed->endpoint);  // a failed feed has closed it already
    std::free(feed);
}

}  // namespace

void releaseEveryFeed(HandleRegistry &registry) { releaseEverySlot(registry.feeds, freeFeed); }

}  // namespace qapi

using namespace qapi;

extern "C" {

QapiHandle QAPI_CALL QAPI_Cmdr_start(QapiWindow window, const char *host, uint32_t port) {
    // A feed without a window could never be stopped and would post its
    // records to no one; one started before initialisation would outlive
    // the next release.
    if (window == 0 || host == nullptr || !stack().initialised) return nullptr;
    CmdrFeed *(&slots)[kMaxFeeds] = stack().registry.feeds;
    for (size_t i = 0; i < kMaxFeeds; ++i) {
        if (slots[i]) continue;
        auto *feed = static_cast<CmdrFeed *>(std::calloc(1, sizeof(CmdrFeed)));
        if (!feed) continue;  // try again for the next free slot
        if (openStream(feed->endpoint, host, static_cast<uint16_t>(port & 0xFFFF)) != kOpened) {
            std::free(feed);
            return nullptr;
        }
        feed->magic = kFeedMagic;
        feed->window = window;
        feed->pollCountdown = 1;
        feed->pollCount = 0;
        feed->state = kFeedRunning;
        slots[i] = feed;
        return feed;
    }
    return nullptr;
}

int QAPI_CALL QAPI_Cmdr_stop(QapiHandle handle) {
    if (!cmdrCheckHandle(handle)) return 1;
    CmdrFeed *(&slots)[kMaxFeeds] = stack().registry.feeds;
    auto *feed = static_cast<CmdrFeed *>(handle);
    slots[slotOf(slots, feed)] = nullptr;
    freeFeed(feed);
    return 0;
}

}  // extern "C"
