// The tick of an adjunct link: the keep-alive supervision and the reading of
// every datagram the server has sent.
#include "adjunct/link.h"

#include "core/budget.h"
#include "core/notify.h"
#include "core/wire.h"

namespace qapi {
namespace {

// One buffer for every link: each datagram is handled in full before the
// next read, and only the library's thread reads.
uint8_t receiveBuffer[kAdjunctBufferSize];

void failLink(AdjunctLink &link) {
    closeEndpoint(link.endpoint);
    link.state = LinkState::Failed;
    link.statusText = kAdjunctFailedText;
    adjunctPostStatus(link);
}

void onKeepAliveReply(AdjunctLink &link) {
    link.unansweredKeepAlives = 0;
    link.keepAliveCountdown = kKeepAliveAfterReply;
    if (link.state == LinkState::Connecting) {
        link.state = LinkState::Up;
        link.statusText = nullptr;
        adjunctPostStatus(link);
    }
}

}  // namespace

void adjunctHandleDatagram(AdjunctLink &link, const uint8_t *data, size_t size) {
    if (size < kAdjunctHeaderSize || data[0] != 0) return;
    if (size > kAdjunctHeaderSize + readU16le(data + 2)) return;
    switch (data[1]) {
    case kRouteRequestType:
        adjunctOnRouteRequest(link, data + kAdjunctHeaderSize, size - kAdjunctHeaderSize);
        break;
    case kAdjunctKeepAliveReplyType:
        onKeepAliveReply(link);
        break;
    default:
        break;
    }
}

void adjunctSendKeepAlive(AdjunctLink &link) {
    static constexpr uint8_t kKeepAlive[kAdjunctHeaderSize] = {0, kAdjunctKeepAliveType, 0, 0};
    (void)sendBytes(link.endpoint, kKeepAlive, sizeof kKeepAlive);
    ++link.unansweredKeepAlives;
    // 10 ticks after the first unanswered keep-alive, 20 after the second...
    link.keepAliveCountdown = kKeepAliveStep * link.unansweredKeepAlives;
}

void adjunctPostStatus(const AdjunctLink &link) {
    postStatus(link.window, QAPI_NOTIFY_ADJUNCT_STATUS, static_cast<int32_t>(link.state), link.statusText);
}

void adjunctTick(AdjunctLink &link) {
    if (link.state == LinkState::Failed) return;
    if (--link.keepAliveCountdown == 0) {
        if (link.unansweredKeepAlives > kMaxUnansweredKeepAlives) {
            failLink(link);
            return;
        }
        adjunctSendKeepAlive(link);
    }
    // A bounded number of datagrams a tick, each only while the tick's budget
    // can take what it may post: the rest waits in the socket, so that a
    // flood holds neither the tick nor the payloads the application reads.
    for (int read = 0; read < kAdjunctDatagramsPerTick && budgetAllows(adjunctDatagramCost()); ++read) {
        const int n = receiveBytes(link.endpoint, receiveBuffer, kAdjunctBufferSize);
        // A datagram longer than any the server sends is dropped, and the
        // link reads on.
        if (n == kReceivedTooLong) continue;
        if (n < 0) {
            failLink(link);
            return;
        }
        if (n == 0) return;
        adjunctHandleDatagram(link, receiveBuffer, static_cast<size_t>(n));
    }
}

PostCost adjunctDatagramCost() {
    // A route request, or the status of a link that comes up.
    const uint32_t request = scratchCostOf<QapiRouteRequestPayload>();
    const uint32_t status = scratchCostOf<StatusPayload>();
    return PostCost{request > status ? request : status, 1};
}

PostCost adjunctStatusCost() { return PostCost{scratchCostOf<StatusPayload>(), 1}; }

}  // namespace qapi
