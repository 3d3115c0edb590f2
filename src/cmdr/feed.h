// The call-record feed: one stream connection to the call server per feed.
// The feed polls with a single byte, reads what has arrived into its
// receive buffer, and hands each whole 154-byte record to the record decoder,
// which posts it to the feed's window.  The stream has no record boundaries:
// the bytes of a record not yet whole wait in the buffer for the rest.  A feed never reconnects: when its connection fails it says
// so once and then does nothing until the application stops it.
#pragma once

#include <cstdint>

#include "cmdr/record.h"
#include "core/budget.h"
#include "core/handle_table.h"
#include "net/endpoint.h"
#include "qapi.h"

namespace qapi {

enum FeedState : int32_t { kFeedRunning = QAPI_CMDR_RUNNING, kFeedFailed = QAPI_CMDR_FAILED };

inline constexpr size_t kMaxFeeds = 32;
inline constexpr uint32_t kFeedMagic = 0x12ABCD35;  // kind word of a feed
inline constexpr uint8_t kPollByte = 0x58;
// Records the feed's buffer holds: a tick reads and delivers them a buffer
// at a time, as many as the tick's budget leaves it.
inline constexpr size_t kFeedBufferRecords = 32;
inline constexpr size_t kFeedBufferSize = kFeedBufferRecords * kCmdrRecordSize;
// The most records one tick's budget affords a single feed.  The
// connection's receive buffer holds the bytes of twice that many, so that
// a server with a backlog has put a whole tick's share there by the time
// the tick reads, and a backlog drains at the budget's rate.
inline constexpr size_t kFeedRecordsPerTickAtMost =
    kTickPayloadBytes / scratchCostOf<CmdrRecordPayload>() < kTickPosts
        ? kTickPayloadBytes / scratchCostOf<CmdrRecordPayload>()
        : kTickPosts;
inline constexpr int kFeedReceiveBuffer = static_cast<int>(2 * kFeedRecordsPerTickAtMost * kCmdrRecordSize);

// The two failure texts; static, valid while the library is loaded.
inline constexpr char kFeedClosedText[] = "Connection socket closed!";
inline constexpr char kFeedIncompatibleText[] = "Received record format incompatible!";

struct CmdrFeed {
    int32_t state;           // FeedState
    const char *statusText;  // null while running; the failure text after
    Endpoint endpoint;       // Stream, connected to the server
    int32_t pollCountdown;   // ticks to the next poll; only silent ticks count
    int32_t pollCount;       // polls sent since records last arrived
    QapiWindow window;       // receives every notification of the feed
    uint32_t magic;          // kFeedMagic while live
    uint32_t buffered;       // bytes of an unfinished record at the buffer's start
    uint8_t buffer[kFeedBufferSize];

    // A feed may be used while it carries its kind word and has a window.
    bool live() const { return magic == kFeedMagic && window != 0; }
};

// The live feeds, one slot each.
using FeedTable = HandleTable<CmdrFeed, kMaxFeeds>;
FeedTable &cmdrFeeds();

// The live feed that `handle` names, or null (the feed table's find).
CmdrFeed *cmdrFindFeed(const void *handle);

// One tick of work: read and deliver at most `mostRecords` whole records,
// keep the bytes of an unfinished one, poll on schedule.
void cmdrTick(CmdrFeed &feed, size_t mostRecords);
// The feeds' part of the library's tick: every live feed in slot order, the
// records that the tick's budget affords shared between the running ones.
void cmdrTickFeeds();
// What a call record's notification costs, and a status notification.
PostCost cmdrRecordCost();
PostCost cmdrStatusCost();
// Sends the poll byte and sets the countdown to the next poll.
void cmdrSendPoll(CmdrFeed &feed);
// Posts the feed's state and status text (NotifyCode 100).
void cmdrPostStatus(const CmdrFeed &feed);

// Closes the feed's connection; done before the table deletes it.
void cmdrCloseFeed(CmdrFeed &feed);

}  // namespace qapi
