#include "station/request_queue.h"

#include <cstring>

#include "core/wire.h"
#include "station/client.h"
#include "station/endpoint.h"
#include "station/framing.h"

namespace qapi {
namespace {

constexpr int32_t kSlotMask = static_cast<int32_t>(kRequestSlots) - 1;
static_assert((kRequestSlots & (kRequestSlots - 1)) == 0, "the ring wraps by masking");

int32_t nextSlot(int32_t slot) { return (slot + 1) & kSlotMask; }
bool queueEmpty(const StationClient &client) { return client.queueHead == client.queueTail; }

void sendAndArm(StationClient &client) {
    stationSendOutstanding(client);
    client.retransmitTimer = kRetransmitTicks;
}

}  // namespace

int stationRequestWireLength(const StationRequest &request) {
    if (request.code != 0) return kHeaderOnlyLength;
    return request.type == kMonitorListType ? kLongRequestLength : kShortRequestLength;
}

int stationRequestRoom(const StationClient &client) {
    // Waiting requests run from queueTail + 1 to queueHead; the slot at
    // queueTail is never reused before its successor is acknowledged.
    const int32_t waiting = (client.queueHead - client.queueTail) & kSlotMask;
    return kSlotMask - waiting;
}

bool stationEnqueueRequest(StationClient &client, StationRequest &request) {
    request.destination = 0;
    request.token = client.regToken;
    const int32_t slot = nextSlot(client.queueHead);
    // The slot at queueTail holds the last acknowledged request: 63 can wait.
    if (slot == client.queueTail) return false;
    client.requestSlots[slot] = request;
    const bool wasIdle = queueEmpty(client);
    client.queueHead = slot;
    if (wasIdle) sendAndArm(client);
    return true;
}

int stationSendOutstanding(StationClient &client) {
    const int32_t slot = nextSlot(client.queueTail);
    StationRequest &request = client.requestSlots[slot];
    request.sequence = static_cast<uint8_t>(slot | kSequenceBit);
    uint8_t wire[kRequestSize];
    writeU32le(wire + RequestHeader::kDestination, static_cast<uint32_t>(request.destination));
    wire[RequestHeader::kType] = request.type;
    wire[RequestHeader::kSequence] = request.sequence;
    writeU16le(wire + RequestHeader::kCode, request.code);
    writeU32le(wire + RequestHeader::kWord, request.token);
    std::memcpy(wire + RequestHeader::kPayload, request.payload, sizeof request.payload);
    return stationSend(wire, stationRequestWireLength(request));
}

bool stationSendFeatureKey(StationClient &client, uint16_t code) {
    StationRequest request{};
    request.type = kFeatureKeyType;
    request.code = code;
    return stationEnqueueRequest(client, request);
}

void stationTickRetransmit(StationClient &client) {
    if (queueEmpty(client) || client.retransmitTimer == 0) return;
    if (--client.retransmitTimer == 0) sendAndArm(client);
}

void stationOnAcknowledge(StationClient &client, const uint8_t *record, size_t length) {
    if (length < RecordHeader::kStationRecordSize) return;
    if (client.snapshot.regState != QAPI_REG_REGISTERED) return;
    if (readI32le(record + RecordHeader::kStation) != client.snapshot.stationId) return;
    if (queueEmpty(client)) return;
    const int32_t outstanding = nextSlot(client.queueTail);
    if (record[RecordHeader::kSub] != (outstanding | kSequenceBit)) return;
    client.queueTail = outstanding;
    client.retransmitTimer = 0;
    if (!queueEmpty(client)) sendAndArm(client);
}

}  // namespace qapi
