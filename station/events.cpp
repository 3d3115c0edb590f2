// Call events (0xC0) and station events (0xC1): the server's call state and
// sub-code become a station call state for updateFeatures, and key, digit and
// value events reach the application.
#include <cstdint>

#include "core/wire.h"
#include "station/client.h"
#include "station/dispatch.h"
#include "station/features.h"

namespace qapi {
namespace {

// Server call state 30 selects handling of its own.
constexpr uint8_t kServerState30 = 30;
constexpr uint8_t kNoDialChar = 0xFF;
constexpr uint8_t kDigitEchoSkipped = 0x0B;  // high byte of a digit echo that is not shown

uint8_t serverStateOf(const uint8_t *record) { return record[16]; }

// Takes the event's word, reference, server call state and flags.
void storeEvent(StationClient &client, const uint8_t *record) {
    client.eventWord = readU16le(record + 12);
    client.eventRef = readU16le(record + 18);
    client.snapshot.callState = serverStateOf(record);
    client.callFlags = readU32le(record + 20);
}

// Indicator codes (call event 12): true when one was set or cleared.
bool applyIndicator(StatusSnapshot &s, uint8_t code) {
    switch (code) {
    case 0:
        s.indicator1 = 1;
        return true;
    case 1:
        s.indicator1 = 0;
        return true;
    case 121:
        s.indicator2 = 1;
        return true;
    case 122:
        s.indicator2 = 0;
        return true;
    case 66:
        s.indicator3 = 1;
        return true;
    case 67:
    case 128:
        s.indicator3 = 0;
        return true;
    default:
        return false;
    }
}

// The station call state a call event leads to; -1 for the sub-codes that
// keep the previous state.
int callEventState(uint8_t sub) {
    switch (sub) {
    case 1:
    case 5:
        return 0;
    case 2:
        return kStateCleared;
    case 3:
        return 2;
    case 4:
        return 3;
    case 6:
        return kStateAlerting;
    case 7:
        return 4;
    case 8:
    case 13:
    case 34:
        return kStateTalking;
    default:
        return -1;
    }
}

void echoDigit(StationClient &client) {
    if ((client.eventWord >> 8) != kDigitEchoSkipped) {
        client.eventWord &= 0x00FF;
        const auto c = static_cast<uint8_t>(dialCharOf(static_cast<DialCode>(client.eventWord)));
        if (c != kNoDialChar) {
            postNotify(client.target, QAPI_NOTIFY_DIGIT, c);
            appendDigitText(client, static_cast<char>(c));
            postDialedText(client);
        }
    }
    // Once something is dialed the station may no longer pick up.
    if (client.snapshot.canPickup) updateFeatures(client, client.snapshot.callState);
}

}  // namespace

void onCallEvent(StationClient &client, const uint8_t *record) {
    const uint8_t previous = client.snapshot.callState;
    const uint8_t sub = record[5];
    if (serverStateOf(record) == kServerState30) {
        if (sub == 2 || sub == 5) {
            client.callFlags &= ~kFlagConnected;
            updateFeatures(client, previous);
        } else if (sub == 13) {
            storeEvent(client, record);
            updateFeatures(client, kStateTalking);
        }
        return;
    }
    storeEvent(client, record);
    switch (sub) {
    case 12:
        if (applyIndicator(client.snapshot, static_cast<uint8_t>(client.eventWord))) postSnapshot(client);
        return;
    case 15:
        if (client.eventWord >> 8) {
            const auto c = static_cast<uint8_t>(dialCharOf(static_cast<DialCode>(client.eventWord)));
            postNotify(client.target, QAPI_NOTIFY_KEY, c);
        }
        return;
    case 23:
        client.snapshot.eventValue = client.eventWord;
        postSnapshot(client);
        return;
    default: {
        const int state = callEventState(sub);
        updateFeatures(client, state < 0 ? previous : static_cast<uint8_t>(state));
        return;
    }
    }
}

void onStationEvent(StationClient &client, const uint8_t *record) {
    const uint8_t previous = client.snapshot.callState;
    if (serverStateOf(record) == kServerState30) {
        client.callFlags &= ~kFlagConnected;
        updateFeatures(client, previous);
        return;
    }
    storeEvent(client, record);
    switch (record[5]) {
    case 1:
        updateFeatures(client, 1);
        break;
    case 2:
        echoDigit(client);
        break;
    case 4:
    case 9:
    case 16:
        if (!(client.callFlags & kFlagConnected)) updateFeatures(client, kStateIdle);
        break;
    case 10:
        updateFeatures(client, kStateTalking);
        break;
    default:
        updateFeatures(client, previous);
        break;
    }
}

}  // namespace qapi
