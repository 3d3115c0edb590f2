// The tick of a call-record feed: what waits on the connection is read into
// the feed's buffer, as much as it has room for, and every whole record
// there is checked and decoded in place; then the server is polled, at once
// after records arrived, else on a back-off schedule.
#include <cstring>

#include "cmdr/feed.h"
#include "cmdr/record.h"
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

void cmdrTick(CmdrFeed &feed) {
    if (feed.state != kFeedRunning) return;
    // One read a tick, of what the buffer has room for: what else waits stays
    // in the connection for the next tick, so that a burst never posts more
    // payloads at once than the application can read intact.
    const int n = receiveBytes(feed.endpoint, feed.buffer + feed.buffered,
                               static_cast<int>(kFeedBufferSize - feed.buffered));
    // A receive error or the end of the stream (the server closed it)
    // ends the connection; 0 is silence.
    if (n < 0) return fail(feed, kFeedClosedText);
    // Every whole record is checked, several at once; those before the
    // first broken one are posted in order, and a broken one ends the feed.
    const size_t end = feed.buffered + static_cast<size_t>(n);
    const size_t whole = end / kCmdrRecordSize;
    const size_t delivered = cmdrCountValidRecords(feed.buffer, whole);
    cmdrPostRecords(feed, feed.buffer, delivered);
    if (delivered < whole) return fail(feed, kFeedIncompatibleText);
    const size_t at = whole * kCmdrRecordSize;
    std::memmove(feed.buffer, feed.buffer + at, end - at);
    feed.buffered = static_cast<uint32_t>(end - at);
    if (delivered > 0) {
        feed.pollCount = 0;
        cmdrSendPoll(feed);
    } else if (--feed.pollCountdown == 0) {
        cmdrSendPoll(feed);
    }
}

}  // namespace qapi
