// Start and stop of call-record feeds, and their handle check.
#include "cmdr/feed.h"

#include "core/stack.h"

namespace qapi {

FeedTable &cmdrFeeds() {
    static FeedTable feeds;
    return feeds;
}

CmdrFeed *cmdrFindFeed(const void *handle) { return cmdrFeeds().find(handle); }

// A failed feed has closed its connection already.
void cmdrCloseFeed(CmdrFeed &feed) { closeEndpoint(feed.endpoint); }

}  // namespace qapi

using namespace qapi;

extern "C" {

QapiHandle QAPI_CALL QAPI_Cmdr_start(QapiWindow window, const char *host, uint32_t port) {
    // A feed without a window could never be stopped and would post its
    // records to no one; one started before initialisation would outlive
    // the next release.
    if (window == 0 || host == nullptr || !stack().initialised) return nullptr;
    return cmdrFeeds().start([&](CmdrFeed &feed) {
        if (openStream(feed.endpoint, host, static_cast<uint16_t>(port & 0xFFFF), kFeedReceiveBuffer) !=
            kOpened)
            return false;
        feed.magic = kFeedMagic;
        feed.window = window;
        feed.pollCountdown = 1;
        feed.pollCount = 0;
        feed.state = kFeedRunning;
        return true;
    });
}

int QAPI_CALL QAPI_Cmdr_stop(QapiHandle handle) { return cmdrFeeds().stop(handle, cmdrCloseFeed) ? 0 : 1; }

}  // extern "C"
