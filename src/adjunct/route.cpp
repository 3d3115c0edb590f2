// Route requests and responses.  Each request the server sends is taken into
// one of the link's 32 slots and posted to the application with a handle: the
// slot index in the upper 16 bits, the low 16 bits of the request id in the
// lower.  A slot stays live for 50 ticks after its arrival, whatever its
// state: while it is, the server's repetitions of the request are ignored and
// the application may answer it once.
#include <cstring>

#include "adjunct/link.h"
#include "core/date_word.h"
#include "core/notify.h"
#include "core/scratch.h"
#include "core/stack.h"
#include "core/wire.h"
#include "dial/dial_codes.h"

namespace qapi {
namespace {

// Offsets in a route request, counted from after its header.
constexpr size_t kDateTimeAt = 0;
constexpr size_t kNumberAAt = 4;
constexpr size_t kNumberBAt = 8;
constexpr size_t kRequestIdAt = 12;
constexpr size_t kDigitsBAt = 16;
constexpr size_t kDigitsAAt = 48;

// Offsets in a response body.
constexpr size_t kResponseIdAt = 0;
constexpr size_t kResponseValueAt = 4;
constexpr size_t kResponseDigitsAt = 8;

constexpr size_t kTextACodes = sizeof(QapiRouteRequestPayload::textA) - 1;  // 31
constexpr uint32_t kHandleIdMask = 0xFFFF;
constexpr unsigned kHandleSlotShift = 16;

bool slotIsLive(const RouteSlot &slot) {
    // A slot never used holds no request; the difference keeps the 50-tick
    // window right when the tick count wraps.
    return slot.state != SlotState::Free && stackTick() - slot.arrivalTick < kRouteWindowTicks;
}

uint32_t handleOf(size_t index, uint32_t requestId) {
    return (static_cast<uint32_t>(index) << kHandleSlotShift) | (requestId & kHandleIdMask);
}

// The packed date and time, field by field, each reduced to its range
// without further normalisation.
void writeDateTime(uint32_t packed, QapiRouteRequestPayload &p) {
    const DateFields d = unpackDateWord(packed);
    p.second = static_cast<uint16_t>(d.second % 60);
    p.minute = static_cast<uint16_t>(d.minute % 60);
    p.hour = static_cast<uint16_t>(d.hour % 24);
    p.day = d.day;
    p.month = static_cast<uint16_t>(d.month % 13);
    p.year = d.year;
}

}  // namespace

SlotLookup adjunctFindSlot(const AdjunctLink &link, uint32_t requestId) {
    size_t candidate = kRouteSlots;
    for (size_t i = 0; i < kRouteSlots; ++i) {
        const RouteSlot &slot = link.slots[i];
        if (slotIsLive(slot)) {
            if (slot.requestId == requestId) return {slot.state, i};
        } else if (candidate == kRouteSlots) {
            candidate = i;
        }
    }
    return {SlotState::Free, candidate};
}

void adjunctOnRouteRequest(AdjunctLink &link, const uint8_t *body, size_t bodySize) {
    // A request shorter than its fixed size is not read at all.
    if (bodySize < kRouteRequestSize - kAdjunctHeaderSize) return;
    const uint32_t requestId = readU32le(body + kRequestIdAt);
    const SlotLookup found = adjunctFindSlot(link, requestId);
    if (found.state != SlotState::Free) return;  // a repetition of a request still held
    if (found.index == kRouteSlots) return;      // every slot is live

    RouteSlot &slot = link.slots[found.index];
    std::memset(slot.responseBody, 0, sizeof slot.responseBody);
    slot.state = SlotState::Pending;
    slot.arrivalTick = stackTick();
    slot.requestId = requestId;

    auto *p = cutScratchFor<QapiRouteRequestPayload>();
    p->handle = handleOf(found.index, requestId);
    writeDateTime(readU32le(body + kDateTimeAt), *p);
    p->numberB = readI32le(body + kNumberBAt);
    p->numberA = readI32le(body + kNumberAAt);
    dialCodesToBlankEnded(body + kDigitsAAt, kTextACodes, p->textA);
    dialCodesToBlankEnded(body + kDigitsBAt, kNumberCodes, p->textB);
    postToWindow(link.window, QAPI_NOTIFY_ROUTE_REQUEST, reinterpret_cast<intptr_t>(p));
}

bool adjunctSendResponse(AdjunctLink &link, size_t slotIndex) {
    uint8_t datagram[kRouteResponseSize] = {0, kRouteResponseType};
    writeU16le(datagram + 2, static_cast<uint16_t>(kResponseBodySize));
    std::memcpy(datagram + kAdjunctHeaderSize, link.slots[slotIndex].responseBody, kResponseBodySize);
    return sendBytes(link.endpoint, datagram, sizeof datagram) == 0;
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Adjunct_response(QapiHandle handle, uint32_t routeHandle, const char *digits,
                                    int32_t value) {
    AdjunctLink *found = adjunctFindLink(handle);
    if (!found) return 1;
    AdjunctLink &link = *found;
    // A failed link has closed its endpoint: an answer could not reach the
    // server, and taking it would tell the application it had.
    if (link.state == LinkState::Failed) return 1;
    const uint32_t index = routeHandle >> kHandleSlotShift;
    if (index >= kRouteSlots) return 1;
    RouteSlot &slot = link.slots[index];
    if ((slot.requestId & kHandleIdMask) != (routeHandle & kHandleIdMask)) return 1;
    if (slot.state != SlotState::Pending) return 1;  // answered once already
    if (!slotIsLive(slot)) return 1;                 // 50 ticks have passed

    // The full id as the server sent it, even where the handle holds only
    // its low 16 bits.
    writeU32le(slot.responseBody + kResponseIdAt, slot.requestId);
    writeU32le(slot.responseBody + kResponseValueAt, static_cast<uint32_t>(value));
    packDialCodes(digits, slot.responseBody + kResponseDigitsAt);
    if (!adjunctSendResponse(link, index)) {
        // Not sent: the request stays unanswered, and the application may
        // answer again within the window.
        std::memset(slot.responseBody, 0, sizeof slot.responseBody);
        return 1;
    }
    slot.state = SlotState::Answered;
    return 0;
}

}  // extern "C"
