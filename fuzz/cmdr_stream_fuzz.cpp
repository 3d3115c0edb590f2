// The call-record stream: any bytes, raw or sealed into records, cut into
// reads of any size, through the feed's own reader.  The server's end of the
// connection is a local socket pair: the script appends bytes to what the
// server has yet to send, sends any number of them, closes (which ends the
// feed once it has read everything before the close), and lets ticks pass.
// A model of the stream says what each tick must post: every whole record in
// stream order, as many a tick as the tick's budget affords, each decoded
// exactly as the decoder makes it from those 154 bytes; the first broken
// record ends the
// feed with one status and nothing after it.  At the end every record the
// server sent before a broken one has been posted.
#include <cstring>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "core/budget.h"
#include "qapi.h"
#include "script.h"
#include "support/invariants.h"

namespace qapi::fuzz {
namespace {

QWindow gWindow;

// What the feed has been sent and what it must have posted.
struct Model {
    Bytes sent;         // every byte written to the connection
    size_t read = 0;    // bytes the feed has taken from the connection
    size_t posted = 0;  // records posted
    bool failed = false;
};

CmdrFeed *startFeed(SocketPair &pair, Script &s) {
    return cmdrFeeds().start([&](CmdrFeed &feed) {
        // As QAPI_Cmdr_start opens it, with the socket pair for the connection.
        feed.endpoint.socket = pair.library;
        feed.endpoint.kind = EndpointKind::Stream;
        feed.endpoint.open = 1;
        const Bytes address = s.bytes(sizeof feed.endpoint.remoteAddress);
        std::copy(address.begin(), address.end(), feed.endpoint.remoteAddress);
        constexpr RemoteFamily kFamilies[] = {RemoteFamily::None, RemoteFamily::Ipv4, RemoteFamily::Ipv6};
        feed.endpoint.remoteFamily = kFamilies[s.byte() % 3];
        feed.magic = kFeedMagic;
        feed.window = gWindow;
        feed.pollCountdown = 1;
        feed.state = kFeedRunning;
        return true;
    });
}

// The record at `index` of the stream as it was sent.
const uint8_t *recordAt(const Model &m, size_t index) { return m.sent.data() + index * kCmdrRecordSize; }

// One tick: the feed may take everything sent and not yet read, up to the
// bytes that finish as many records as the tick's budget affords the one
// feed; what it posts must be exactly what the model says.
void tick(CmdrFeed &feed, Model &m, SocketPair &pair) {
    budgetStartTick();  // as the tick starts it: nothing else posts before the feed
    const size_t most = budgetAffords(cmdrRecordCost());
    const size_t room = most * kCmdrRecordSize - feed.buffered;
    const size_t waiting = m.sent.size() - m.read;
    const size_t takes = m.failed ? 0 : waiting < room ? waiting : room;
    qmsgAdvanceClock(100);
    size_t records = 0;
    for (const QMessage &msg : drain()) {
        require(msg.window == gWindow && msg.message == QAPI_NOTIFY_MSG, "a message to another window");
        if (msg.wParam == QAPI_NOTIFY_CMDR_STATUS) {
            const auto &status = *reinterpret_cast<const QapiStatusPayload *>(msg.lParam);
            require(!m.failed && status.state == QAPI_CMDR_FAILED, "a second or wrong status");
            m.failed = true;
            if (std::strcmp(status.statusText, kFeedClosedText) == 0) {
                require(pair.server < 0, "the feed ended while the server was there");
                require(m.read + takes == m.sent.size(), "the feed ended before it read what was sent");
                continue;
            }
            require(std::strcmp(status.statusText, kFeedIncompatibleText) == 0, "status text");
            require((m.posted + 1) * kCmdrRecordSize <= m.read + takes,
                    "the feed failed on bytes not yet read");
            require(!cmdrRecordIsValid(recordAt(m, m.posted)), "a valid record ended the feed");
            continue;
        }
        require(msg.wParam == QAPI_NOTIFY_CMDR_RECORD && !m.failed, "a record after the failure");
        require((m.posted + 1) * kCmdrRecordSize <= m.read + takes, "a record from bytes not yet read");
        const uint8_t *sent = recordAt(m, m.posted);
        require(cmdrRecordIsValid(sent), "a broken record was posted");
        const auto &payload = *reinterpret_cast<const CmdrRecordPayload *>(msg.lParam);
        require(test::cmdrPayloadProblem(payload, sent[rec::kKind] & 0x3F), "record");
        CmdrRecordPayload expected{};
        cmdrDecodeRecord(sent, feed.endpoint.remoteAddress, feed.endpoint.remoteFamily, expected);
        require(std::memcmp(&expected, &payload, sizeof payload) == 0, "a record posted other than sent");
        ++m.posted;
        ++records;
    }
    if (!m.failed) {
        m.read += takes;
        const size_t whole = m.read / kCmdrRecordSize;
        require(m.posted == whole, "a whole record read was not posted");
        require(feed.buffered == m.read % kCmdrRecordSize, "the unfinished record's bytes");
    }
    require(records <= most, "more records in one tick than its budget affords");
    // The server's close ends the feed in the first tick that finds nothing
    // before it.
    require(m.failed || pair.server >= 0 || waiting > 0, "the server's close went unnoticed");
    // The polls: one after every tick that delivered records, unless the
    // feed failed in it (and closed its end).
    if (pair.server < 0) return;
    uint8_t polls[64];
    const ssize_t n = ::recv(pair.server, polls, sizeof polls, 0);
    for (ssize_t i = 0; i < n; ++i) require(polls[i] == kPollByte, "a poll that is not the poll byte");
    require(n <= 1 && (records == 0 || n == 1 || m.failed), "not one poll right after records arrived");
}

}  // namespace
}  // namespace qapi::fuzz

using namespace qapi;
using namespace qapi::fuzz;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    gWindow = manualClockAndWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QAPI_Stack_initialize(0);
    Script s(data, size);
    SocketPair pair(SOCK_STREAM);
    CmdrFeed *feed = startFeed(pair, s);
    require(feed != nullptr, "the feed did not start");
    Model m;
    Bytes unsent;  // appended by the script, not yet written to the connection
    while (!s.done()) {
        switch (s.byte() % 5) {
        case 0: {  // raw bytes
            const Bytes b = s.bytes(s.u16() % 1024);
            unsent.insert(unsent.end(), b.begin(), b.end());
            break;
        }
        case 1: {  // records sealed as the server seals them, their fields from the script
            for (int n = 1 + s.byte() % 40; n > 0; --n) {
                test::WireRecord r(0);
                const Bytes fields = s.bytes(rec::kMarker);
                std::copy(fields.begin(), fields.end(), r.bytes.begin());
                std::fill(r.bytes.begin() + static_cast<ptrdiff_t>(fields.size()), r.bytes.end(), 0);
                const auto &sealed = r.sealed();
                unsent.insert(unsent.end(), sealed.begin(), sealed.end());
            }
            break;
        }
        case 2: {  // the server sends the next bytes, in one piece, as far as the connection takes them
            size_t n = s.u16() % (2 * kFeedBufferSize);
            if (n > unsent.size()) n = unsent.size();
            if (n == 0 || pair.server < 0 || m.failed) break;
            const ssize_t sent = ::send(pair.server, unsent.data(), n, MSG_NOSIGNAL);
            const auto taken = static_cast<ptrdiff_t>(sent > 0 ? sent : 0);
            m.sent.insert(m.sent.end(), unsent.begin(), unsent.begin() + taken);
            unsent.erase(unsent.begin(), unsent.begin() + taken);
            break;
        }
        case 3:
            for (int n = 1 + s.byte() % 4; n > 0; --n) tick(*feed, m, pair);
            break;
        default:  // an orderly close: the end of the stream once the feed has read up to it
            pair.closeServer();
            break;
        }
    }
    // Whatever was sent is read and posted within a few ticks.
    const size_t perTick = kFeedBufferSize - kCmdrRecordSize;
    for (size_t n = (m.sent.size() - m.read) / perTick + 2; n > 0; --n) tick(*feed, m, pair);
    require(m.failed || m.read == m.sent.size(), "bytes sent were never read");
    QAPI_Stack_release();
    drain();
    return 0;
}
