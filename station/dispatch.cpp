#include "station/dispatch.h"

#include <cstring>

#include "core/scratch.h"
#include "core/wire.h"
#include "station/call_table.h"
#include "station/client.h"
#include "station/features.h"
#include "station/monitor_panel.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

constexpr size_t kRegistrationReplySize = 40;
constexpr size_t kNumberInfoSize = 40;
constexpr size_t kEventSize = 24;
constexpr size_t kCallEntrySize = 24;
constexpr size_t kShortCallEntrySize = 16;
constexpr size_t kFlagsRecordSize = 16;  // StatusReply and FlagsUpdate
constexpr uint8_t kShortCallEntryLength = 3;
constexpr uint8_t kDisplayTextLength = 10;
constexpr size_t kDisplayTextChars = 32;

int32_t stationOf(const uint8_t *record) { return readI32le(record + 8); }

void onRegistrationReply(StationClient &client, const uint8_t *record, size_t length) {
    if (length < kRegistrationReplySize) return;
    StatusSnapshot &s = client.snapshot;
    const int32_t station = stationOf(record);
    if (s.regState != QAPI_REG_REGISTERING) return;
    if (station != s.stationId && s.stationId != kAnyStation) return;
    s.stationId = station;
    client.regToken = readU32le(record + 12);
    client.callFlags = readU32le(record + 16);
    // The request queue starts afresh: the next request takes slot 1.
    client.superviseTicks = client.retryCount = client.retransmitTimer = 0;
    client.queueHead = client.queueTail = 0;
    // Whatever was watched is registered again: a server that lost the
    // station (or refused it) lost its watches too.
    resendWatches(client);
    for (int i = 0; i < 4; ++i) s.regValues[i] = readI32le(record + 24 + 4 * i);
    s.regShort = static_cast<int16_t>(readU16le(record + 20));
    // Clears regState to indicator3 (status text, values, permissions,
    // indicators), whatever the width of the text pointer.
    std::memset(&s, 0, offsetof(StatusSnapshot, stationId));
    s.regState = QAPI_REG_REGISTERED;
    s.callState = record[5];
    updateFeatures(client, record[5]);
}

const char *refusalText(uint8_t reason) {
    switch (reason) {
    case 1:
        return "Quentara: User or IP address invalid!";
    case 2:
        return "Quentara: Multiple users with same IP!";
    default:
        return "Quentara: refused registration!";
    }
}

void onRegistrationRefused(StationClient &client, const uint8_t *record) {
    // A client still waiting for its identifier never takes a refusal.
    if (client.snapshot.regState != QAPI_REG_REGISTERING) return;
    if (stationOf(record) != client.snapshot.stationId || client.snapshot.stationId == kAnyStation) return;
    client.snapshot.regState = QAPI_REG_FAILED;
    client.superviseTicks = 0;
    client.snapshot.statusText = refusalText(record[5]);
    clearPermissions(client);
    postSnapshot(client);
}

void onNumberInfo(StationClient &client, const uint8_t *record) {
    if (record[6] != 0) return;
    uint8_t codes[kDialBufferSize];
    unpackNumberCodes(record + 12, codes);
    char *text = cutTextBlock();
    dialCodesToText(codes, text);
    postNotify(client.target, QAPI_NOTIFY_NUMBER, reinterpret_cast<intptr_t>(text));
}

void onCallEntry(StationClient &client, const uint8_t *record, size_t length) {
    const bool withIds = record[7] != kShortCallEntryLength;
    if (length < (withIds ? kCallEntrySize : kShortCallEntrySize)) return;
    CallEntry entry{};
    entry.state = record[5];
    entry.number = readU16le(record + 12);
    entry.firstId = withIds ? readU32le(record + 16) : kNoCallId;
    entry.secondId = withIds ? readU32le(record + 20) : kNoCallId;
    updateCallTable(client, entry);
}

void onDisplayText(StationClient &client, const uint8_t *record, size_t length) {
    if (record[7] != kDisplayTextLength || length < 12 + kDisplayTextChars) return;
    char *text = cutTextBlock();
    std::memcpy(text, record + 12, kDisplayTextChars);
    text[kDisplayTextChars] = '\0';
    postNotify(client.target, QAPI_NOTIFY_TEXT, reinterpret_cast<intptr_t>(text));
}

// The records that only a registered client takes for its own station.
void onRegisteredRecord(StationClient &client, const uint8_t *record, size_t length) {
    if (client.snapshot.regState != QAPI_REG_REGISTERED) return;
    if (stationOf(record) != client.snapshot.stationId) return;
    switch (record[4]) {
    case kStatusReplyType:
        if (length < kFlagsRecordSize) return;
        client.superviseTicks = client.retryCount = 0;
        client.callFlags = readU32le(record + 12);
        updateFeatures(client, record[5]);
        break;
    case kCallEventType:
        if (length >= kEventSize) onCallEvent(client, record);
        break;
    case kStationEventType:
        if (length >= kEventSize) onStationEvent(client, record);
        break;
    case kNumberInfoType:
        if (length >= kNumberInfoSize) onNumberInfo(client, record);
        break;
    case kInfoValueType:
        client.snapshot.infoValue = record[5];
        postSnapshot(client);
        break;
    case kCallEntryType:
        onCallEntry(client, record, length);
        break;
    case kFlagsUpdateType:
        if (length < kFlagsRecordSize) return;
        client.callFlags = readU32le(record + 12);
        updateFeatures(client, kStateIdle);
        break;
    case kDisplayTextType:
        onDisplayText(client, record, length);
        break;
    default:
        break;
    }
}

}  // namespace

void handleStationRecord(StationClient &client, const uint8_t *record, size_t length) {
    if (length < kStationRecordMinimum) return;
    switch (record[4]) {
    case kReevaluateType:
    case kReevaluateType2:
        client.callFlags &= ~kFlagConnected;
        updateFeatures(client, client.snapshot.callState);
        break;
    case kRegistrationReplyType:
        onRegistrationReply(client, record, length);
        break;
    case kRegistrationRefusedType:
        onRegistrationRefused(client, record);
        break;
    case kAcknowledgeType:
        onAcknowledge(client, record, length);
        break;
    default:
        onRegisteredRecord(client, record, length);
        break;
    }
}

}  // namespace qapi
