// Call events and station events: the server's call state and sub-code
// become a station call state for stationUpdateFeatures, and key, digit and value
// events reach the application.
#include <cstdint>

#include "core/wire.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/permissions.h"
#include "station/protocol.h"

namespace qapi {
namespace {

constexpr uint8_t kNoDialChar = 0xFF;
constexpr int kKeepState = -1;

uint8_t serverStateOf(const uint8_t *record) { return record[EventRecord::kServerState]; }

// Takes the event's word, reference, server call state and flags.
void storeEvent(StationClient &client, const uint8_t *record) {
    client.eventWord = readU16le(record + EventRecord::kWord);
    client.eventRef = readU16le(record + EventRecord::kRef);
    client.snapshot.callState = serverStateOf(record);
    client.callFlags = readU32le(record + EventRecord::kFlags);
}

// Indicator codes: true when one was set or cleared.
bool applyIndicator(StatusSnapshot &s, uint8_t code) {
    switch (code) {
    case kIndicator1On:
        s.indicator1 = 1;
        return true;
    case kIndicator1Off:
        s.indicator1 = 0;
        return true;
    case kIndicator2On:
        s.indicator2 = 1;
        return true;
    case kIndicator2Off:
        s.indicator2 = 0;
        return true;
    case kIndicator3On:
        s.indicator3 = 1;
        return true;
    case kIndicator3Off:
    case kIndicator3OffToo:
        s.indicator3 = 0;
        return true;
    default:
        return false;
    }
}

// The station call state a call event leads to; kKeepState for the
// sub-codes that keep the previous state.
int callEventState(uint8_t sub) {
    switch (sub) {
    case kCallEventIdle:
    case kCallEventReleased:
        return kStateIdle;
    case kCallEventCleared:
        return kStateCleared;
    case kCallEventPickup:
        return kStatePickup;
    case kCallEventRouting:
        return kStateRouting;
    case kCallEventAlerting:
        return kStateAlerting;
    case kCallEventRingback:
        return kStateRingback;
    case kCallEventAnswered:
    case kCallEventConnected:
    case kCallEventTalking:
        return kStateTalking;
    default:
        return kKeepState;
    }
}

void echoDigit(StationClient &client) {
    if ((client.eventWord >> 8) != kDigitEchoSkipped) {
        client.eventWord &= 0x00FF;
        const auto c = static_cast<uint8_t>(dialCharOf(static_cast<DialCode>(client.eventWord)));
        if (c != kNoDialChar) {
            postNotify(client.target, QAPI_NOTIFY_DIGIT, c);
            stationAppendDigitText(client, static_cast<char>(c));
            stationPostDialedText(client);
        }
    }
    // Once something is dialed the station may no longer pick up.
    if (client.snapshot.canPickup) stationUpdateFeatures(client, client.snapshot.callState);
}

}  // namespace

void stationOnCallEvent(StationClient &client, const uint8_t *record) {
    const uint8_t previous = client.snapshot.callState;
    const uint8_t sub = record[RecordHeader::kSub];
    if (serverStateOf(record) == kServerStateSpecial) {
        if (sub == kCallEventCleared || sub == kCallEventReleased) {
            client.callFlags &= ~kFlagConnected;
            stationUpdateFeatures(client, previous);
        } else if (sub == kCallEventConnected) {
            storeEvent(client, record);
            stationUpdateFeatures(client, kStateTalking);
        }
        return;
    }
    storeEvent(client, record);
    switch (sub) {
    case kCallEventIndicator:
        if (applyIndicator(client.snapshot, static_cast<uint8_t>(client.eventWord)))
            stationPostSnapshot(client);
        return;
    case kCallEventKey:
        if (client.eventWord >> 8) {
            const auto c = static_cast<uint8_t>(dialCharOf(static_cast<DialCode>(client.eventWord)));
            postNotify(client.target, QAPI_NOTIFY_KEY, c);
        }
        return;
    case kCallEventValue:
        client.snapshot.eventValue = client.eventWord;
        stationPostSnapshot(client);
        return;
    default: {
        const int state = callEventState(sub);
        stationUpdateFeatures(client, state == kKeepState ? previous : static_cast<uint8_t>(state));
        return;
    }
    }
}

void stationOnStationEvent(StationClient &client, const uint8_t *record) {
    const uint8_t previous = client.snapshot.callState;
    if (serverStateOf(record) == kServerStateSpecial) {
        client.callFlags &= ~kFlagConnected;
        stationUpdateFeatures(client, previous);
        return;
    }
    storeEvent(client, record);
    switch (record[RecordHeader::kSub]) {
    case kStationEventDialling:
        stationUpdateFeatures(client, kStateDialling);
        break;
    case kStationEventDigit:
        echoDigit(client);
        break;
    case kStationEventHangUp:
    case kStationEventRelease:
    case kStationEventDisconnect:
        if (!(client.callFlags & kFlagConnected)) stationUpdateFeatures(client, kStateIdle);
        break;
    case kStationEventTalking:
        stationUpdateFeatures(client, kStateTalking);
        break;
    default:
        stationUpdateFeatures(client, previous);
        break;
    }
}

}  // namespace qapi
