#include "station/dispatch.h"

#include <cstring>

#include "core/scratch.h"
#include "core/wire.h"
#include "station/call_table.h"
#include "station/client.h"
#include "station/client_index.h"
#include "station/monitor_panel.h"
#include "station/permissions.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

int32_t stationOf(const uint8_t *record) { return readI32le(record + RecordHeader::kStation); }
uint8_t subOf(const uint8_t *record) { return record[RecordHeader::kSub]; }

void onRegistrationReply(StationClient &client, const uint8_t *record, size_t length) {
    if (length < RegistrationReply::kSize) return;
    StatusSnapshot &s = client.snapshot;
    const int32_t station = stationOf(record);
    if (s.regState != QAPI_REG_REGISTERING) return;
    if (station != s.stationId && s.stationId != kAnyStation) return;
    if (station != s.stationId) stationIndexChange(stationClients().slotOf(&client), station);
    s.stationId = station;
    client.regToken = readU32le(record + RegistrationReply::kToken);
    client.callFlags = readU32le(record + RegistrationReply::kFlags);
    // The request queue starts afresh: the next request takes slot 1.
    client.superviseTicks = client.retryCount = client.retransmitTimer = 0;
    client.queueHead = client.queueTail = 0;
    // Whatever was watched is registered again: a server that lost the
    // station (or refused it) lost its watches too.
    stationResendWatches(client);
    for (size_t i = 0; i < 4; ++i) s.regValues[i] = readI32le(record + RegistrationReply::kValues + 4 * i);
    s.regShort = static_cast<int16_t>(readU16le(record + RegistrationReply::kShort));
    // Clears regState to indicator3 (status text, values, permissions,
    // indicators), whatever the width of the text pointer.
    std::memset(&s, 0, offsetof(StatusSnapshot, stationId));
    s.regState = QAPI_REG_REGISTERED;
    s.callState = subOf(record);
    stationUpdateFeatures(client, subOf(record));
}

const char *refusalText(uint8_t reason) {
    switch (reason) {
    case kRefusedUnknownUser:
        return "Quentara: User or IP address invalid!";
    case kRefusedSharedAddress:
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
    client.snapshot.statusText = refusalText(subOf(record));
    stationClearPermissions(client);
    stationPostSnapshot(client);
}

void onNumberInfo(StationClient &client, const uint8_t *record) {
    if (record[RecordHeader::kExtra] != kPlainNumber) return;
    uint8_t codes[kDialBufferSize];
    unpackNumberCodes(record + NumberInfo::kCodes, codes);
    char *text = cutTextBlock();
    dialCodesToText(codes, text);
    postNotify(client.target, QAPI_NOTIFY_NUMBER, reinterpret_cast<intptr_t>(text));
}

void onCallEntry(StationClient &client, const uint8_t *record, size_t length) {
    const bool withIds = record[RecordHeader::kLength] != CallEntryRecord::kShortLength;
    if (length < (withIds ? CallEntryRecord::kSize : CallEntryRecord::kShortSize)) return;
    CallEntry entry{};
    entry.state = subOf(record);
    entry.number = readU16le(record + CallEntryRecord::kNumber);
    entry.firstId = withIds ? readU32le(record + CallEntryRecord::kFirstId) : kNoCallId;
    entry.secondId = withIds ? readU32le(record + CallEntryRecord::kSecondId) : kNoCallId;
    stationUpdateCallTable(client, entry);
}

void onDisplayText(StationClient &client, const uint8_t *record, size_t length) {
    if (record[RecordHeader::kLength] != DisplayText::kLength) return;
    if (length < DisplayText::kText + DisplayText::kChars) return;
    char *text = cutTextBlock();
    std::memcpy(text, record + DisplayText::kText, DisplayText::kChars);
    text[DisplayText::kChars] = '\0';
    postNotify(client.target, QAPI_NOTIFY_TEXT, reinterpret_cast<intptr_t>(text));
}

// The records that only a registered client takes for its own station.
void onRegisteredRecord(StationClient &client, const uint8_t *record, size_t length) {
    if (client.snapshot.regState != QAPI_REG_REGISTERED) return;
    if (stationOf(record) != client.snapshot.stationId) return;
    switch (record[RecordHeader::kType]) {
    case kStatusReplyType:
        if (length < FlagsRecord::kSize) return;
        client.superviseTicks = client.retryCount = 0;
        client.callFlags = readU32le(record + FlagsRecord::kFlags);
        stationUpdateFeatures(client, subOf(record));
        break;
    case kCallEventType:
        if (length >= EventRecord::kSize) stationOnCallEvent(client, record);
        break;
    case kStationEventType:
        if (length >= EventRecord::kSize) stationOnStationEvent(client, record);
        break;
    case kNumberInfoType:
        if (length >= NumberInfo::kSize) onNumberInfo(client, record);
        break;
    case kInfoValueType:
        client.snapshot.infoValue = subOf(record);
        stationPostSnapshot(client);
        break;
    case kCallEntryType:
        onCallEntry(client, record, length);
        break;
    case kFlagsUpdateType:
        if (length < FlagsRecord::kSize) return;
        client.callFlags = readU32le(record + FlagsRecord::kFlags);
        stationUpdateFeatures(client, kStateIdle);
        break;
    case kDisplayTextType:
        onDisplayText(client, record, length);
        break;
    default:
        break;
    }
}

}  // namespace

void stationHandleRecord(StationClient &client, const uint8_t *record, size_t length) {
    if (length < RecordHeader::kStationRecordSize) return;
    switch (record[RecordHeader::kType]) {
    case kReevaluateType:
    case kReevaluateType2:
        client.callFlags &= ~kFlagConnected;
        stationUpdateFeatures(client, client.snapshot.callState);
        break;
    case kRegistrationReplyType:
        onRegistrationReply(client, record, length);
        break;
    case kRegistrationRefusedType:
        onRegistrationRefused(client, record);
        break;
    case kAcknowledgeType:
        stationOnAcknowledge(client, record, length);
        break;
    default:
        onRegisteredRecord(client, record, length);
        break;
    }
}

}  // namespace qapi
