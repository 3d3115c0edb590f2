// The routing adjunct: a connected datagram link over which the call server
// asks where a call is to be routed and the application answers.  The link
// proves itself with keep-alives, reports once when the server first answers
// and once when it gives up, and keeps the route requests it has posted in 32
// slots, each live for 50 ticks after its arrival.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/budget.h"
#include "core/handle_table.h"
#include "net/endpoint.h"
#include "qapi.h"

namespace qapi {

// Every datagram on the link starts with 00, type, u16 length of what follows.
inline constexpr size_t kAdjunctHeaderSize = 4;
inline constexpr uint8_t kAdjunctKeepAliveType = 0x01;
inline constexpr uint8_t kAdjunctKeepAliveReplyType = 0x81;
inline constexpr uint8_t kRouteRequestType = 0x41;
inline constexpr uint8_t kRouteResponseType = 0xC1;

inline constexpr size_t kMaxLinks = 8;
inline constexpr uint32_t kLinkMagic = 0x12ABCD36;  // kind word of a link
inline constexpr int kAdjunctBufferSize = 1024;     // a longer datagram is dropped
inline constexpr int kAdjunctDatagramsPerTick = 32;
inline constexpr int32_t kFirstKeepAliveCountdown = 1;
inline constexpr int32_t kKeepAliveAfterReply = 200;    // ticks
inline constexpr int32_t kKeepAliveStep = 10;           // ticks per unanswered keep-alive
inline constexpr int32_t kMaxUnansweredKeepAlives = 2;  // one more and the link fails
inline constexpr const char *kAdjunctFailedText = "Connection to Quentara failed!";

inline constexpr size_t kRouteSlots = 32;
inline constexpr uint32_t kRouteWindowTicks = 50;
inline constexpr size_t kRouteRequestSize = 84;   // header included
inline constexpr size_t kRouteResponseSize = 44;  // header included
inline constexpr size_t kResponseBodySize = kRouteResponseSize - kAdjunctHeaderSize;

enum class LinkState : int32_t { Connecting = 0, Up = 1, Failed = 2 };
enum class SlotState : int32_t { Free = 0, Pending = 1, Answered = 2 };

struct RouteSlot {
    uint32_t arrivalTick;  // StackTick when the request was taken
    SlotState state;
    uint32_t requestId;  // the server's id, all 32 bits
    // The response after its header: u32 id, i32 value, 32 dial codes.
    uint8_t responseBody[kResponseBodySize];
};

struct AdjunctLink {
    LinkState state;
    const char *statusText;  // null, or the failure text once Failed
    Endpoint endpoint;       // Datagram, connected to the server
    int32_t keepAliveCountdown;
    int32_t unansweredKeepAlives;
    RouteSlot slots[kRouteSlots];
    QapiWindow window;
    uint32_t magic;

    // A link may be used while it carries its kind word and has a window.
    bool live() const { return magic == kLinkMagic && window != 0; }
};

// The live links, one slot each.
using LinkTable = HandleTable<AdjunctLink, kMaxLinks>;
LinkTable &adjunctLinks();

// The live link that `handle` names, or null (the link table's find).
AdjunctLink *adjunctFindLink(const void *handle);

// One tick of a live link: keep-alive check, then the waiting datagrams, at
// most kAdjunctDatagramsPerTick of them and while the tick's budget lasts.
void adjunctTick(AdjunctLink &link);
// The most one datagram may post, and the failure's status notification.
PostCost adjunctDatagramCost();
PostCost adjunctStatusCost();
void adjunctSendKeepAlive(AdjunctLink &link);
// Hands one received datagram of `size` bytes to its handler.  A datagram
// that is shorter than a header, does not start with 0 or holds more than
// its header declares is ignored, as is any type the link does not take.
void adjunctHandleDatagram(AdjunctLink &link, const uint8_t *data, size_t size);
// NotifyCode 200 with the link's state and status text (window only).
void adjunctPostStatus(const AdjunctLink &link);

// Takes a route request; `body` is the datagram after its header and
// `bodySize` the bytes received after the header.
void adjunctOnRouteRequest(AdjunctLink &link, const uint8_t *body, size_t bodySize);

struct SlotLookup {
    SlotState state;  // of the live slot holding the id, else Free
    size_t index;     // that slot, else the first slot not live (kRouteSlots if none)
};
SlotLookup adjunctFindSlot(const AdjunctLink &link, uint32_t requestId);
// Sends the slot's response; false when the platform did not take it.
bool adjunctSendResponse(AdjunctLink &link, size_t slotIndex);

// Closes the link's endpoint; done before the table deletes it.  Nothing is
// sent or posted, and pending route requests go unanswered.
void adjunctCloseLink(AdjunctLink &link);

}  // namespace qapi
