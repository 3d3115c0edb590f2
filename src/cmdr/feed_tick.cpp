// The tick of a call-record feed: what waits on the connection is read into
// the feed's buffer, a buffer at a time, as many records as the tick's budget
// leaves the feed, and every whole record there is checked and decoded in
// place; then the server is polled, at once after records arrived, else on a
// back-off schedule.
#include <cstring>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "core/budget.h"
#include "core/notify.h"

namespace qapi {
namespace {

// Ticks to the next poll, by the number of polls sent since records last
// arrived: 5 s twice, 10 s twice, 20 s twice, then every 300 s.
int32_t pollGapAfter(int32_t pollCount) {
    if (pollCount <= 2) return 50;
    if (pollCount <= 4) return 100;
    if (pollCount <= 6) return 200;
    return 3000;
}

void fail(CmdrFeed &feed, const char *text) {
    closeEndpoint(feed.endpoint);
    feed.buffered = 0;  // an unfinished record will never be finished
    feed.state = kFeedFailed;
    feed.statusText = text;
    cmdrPostStatus(feed);
}

}  // namespace

void cmdrSendPoll(CmdrFeed &feed) {
    (void)sendBytes(feed.endpoint, &kPollByte, 1);  // a lost poll is as good as sent
    if (feed.pollCount < INT32_MAX) ++feed.pollCount;
    feed.pollCountdown = pollGapAfter(feed.pollCount);
}

void cmdrPostStatus(const CmdrFeed &feed) {
    postStatus(feed.window, QAPI_NOTIFY_CMDR_STATUS, feed.state, feed.statusText);
}

PostCost cmdrRecordCost() { return PostCost{scratchCostOf<CmdrRecordPayload>(), 1}; }

PostCost cmdrStatusCost() { return PostCost{scratchCostOf<StatusPayload>(), 1}; }

void cmdrTick(CmdrFeed &feed, size_t mostRecords) {
    if (feed.state != kFeedRunning) return;
    // Reads until the connection has nothing more or `mostRecords` are
    // delivered: each read asks for no more bytes than finish that many
    // records, so that what else waits stays in the connection for the next
    // tick, and a burst never posts more payloads at once than the
    // application can read intact.
    size_t delivered = 0;
    while (delivered < mostRecords) {
        const size_t room = kFeedBufferSize - feed.buffered;
        const size_t records = mostRecords - delivered;
        const size_t ask = records > kFeedBufferRecords ? room : records * kCmdrRecordSize - feed.buffered;
        const int n = receiveBytes(feed.endpoint, feed.buffer + feed.buffered, static_cast<int>(ask));
        // A receive error or the end of the stream (the server closed it)
        // ends the connection; 0 is silence.
        if (n < 0) return fail(feed, kFeedClosedText);
        if (n == 0) break;
        // Every whole record is checked, several at once; those before the
        // first broken one are posted in order, and a broken one ends the feed.
        const size_t end = feed.buffered + static_cast<size_t>(n);
        const size_t whole = end / kCmdrRecordSize;
        const size_t valid = cmdrCountValidRecords(feed.buffer, whole);
        cmdrPostRecords(feed, feed.buffer, valid);
        delivered += valid;
        if (valid < whole) return fail(feed, kFeedIncompatibleText);
        const size_t at = whole * kCmdrRecordSize;
        std::memmove(feed.buffer, feed.buffer + at, end - at);
        feed.buffered = static_cast<uint32_t>(end - at);
        if (static_cast<size_t>(n) < ask) break;  // nothing more was waiting
    }
    if (delivered > 0) {
        feed.pollCount = 0;
        cmdrSendPoll(feed);
    } else if (--feed.pollCountdown == 0) {
        cmdrSendPoll(feed);
    }
}

void cmdrTickFeeds() {
    FeedTable &feeds = cmdrFeeds();
    uint32_t running = 0;
    feeds.forEach([&](const CmdrFeed &feed) { running += feed.state == kFeedRunning ? 1 : 0; });
    // The records the budget affords are shared between the running feeds:
    // each takes at most an equal part of what is left when its turn comes,
    // so that what a quiet feed leaves goes to the busy ones after it.
    feeds.forEach([&](CmdrFeed &feed) {
        if (feed.state != kFeedRunning) return;
        const uint32_t share = budgetAffords(cmdrRecordCost()) / running;
        --running;
        cmdrTick(feed, share);
    });
}

}  // namespace qapi
