// The tick of a call-record feed: every whole record waiting on the
// connection is read, checked and decoded; then the server is polled, at
// once after records arrived, else on a back-off schedule.
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
    uint8_t record[kCmdrRecordSize];
    int delivered = 0;
    for (;;) {
        const int n = receiveBytes(feed.endpoint, record, static_cast<int>(kCmdrRecordSize));
        if (n == 0) break;  // nothing waiting (or the server closed in order)
        // A receive error, or a part of a record: the connection is of no
        // further use; the part is dropped.
        if (n < static_cast<int>(kCmdrRecordSize)) return fail(feed, kFeedClosedText);
        if (!cmdrRecordIsValid(record)) return fail(feed, kFeedIncompatibleText);
        cmdrDecodeRecord(feed, record);
        ++delivered;
    }
    if (delivered > 0) {
        feed.pollCount = 0;
        cmdrSendPoll(feed);
    } else if (--feed.pollCountdown == 0) {
        cmdrSendPoll(feed);
    }
}

}  // namespace qapi
