#include "station/permissions.h"

#include <cstddef>
#include <cstring>

#include "station/client.h"
#include "station/protocol.h"

namespace qapi {
namespace {

bool dialingState(uint8_t s) {
    return s == kStateDialling || s == kStatePickup || s == kStateRouting || s == kStateRingback ||
           s == kStateTalking;
}
bool answerableState(uint8_t s) {
    return s == kStateAlerting || s == kStateActive || s == kStateAnswerable || s == kStateCamped;
}

void setPermissions(StationClient &client, uint8_t state) {
    StatusSnapshot &s = client.snapshot;
    // A station that is not registered may do nothing, whatever the server
    // re-evaluates: every operation would be refused.
    if (s.regState != QAPI_REG_REGISTERED) {
        stationClearPermissions(client);
        return;
    }
    const uint32_t f = client.callFlags;
    const bool connected = (f & kFlagConnected) != 0;
    const bool hasRef = client.eventRef != kNoEventRef;
    const bool talking = state == kStateTalking;
    const bool nothingDialed = client.dialedText[0] == '\0';

    s.canNewcall = state == kStateIdle && (f & kFlagCallAllowed);
    s.canDigits = dialingState(state);
    s.canAnswer = answerableState(state) && (f & kFlagCallAllowed);
    s.canClear = state != kStateIdle && state != kStateAlerting;
    s.canHold = talking && !connected && hasRef;
    s.canSuspend = s.canHold;
    s.canCallback = talking && connected && (f & kFlagCallback);
    s.canConference = talking && connected && !(f & kFlagCallback) && hasRef;
    s.canTransfer = (state == kStateRingback && connected) || (talking && connected && hasRef) ||
                    (state == kStateCleared && connected && (f & kFlagTransferable) &&
                     client.eventWord == kTransferableEventWord);
    s.canRetrieve = state != kStateIdle && connected;
    s.canRecordStop = talking && (f & kFlagRecording);
    s.canRecordStart = talking && (f & kFlagRecordStart) && !(f & kFlagRecording);
    s.canMailbox = state == kStatePickup && nothingDialed && (f & kFlagMailbox);
    s.canPickup = state == kStatePickup && nothingDialed;
}

// True when the visible fields (regState to indicator3) of the two differ.
bool visibleStatusDiffers(const QapiStatusSnapshot &a, const QapiStatusSnapshot &b) {
    // Field by field, so that padding never counts, whatever the pointer width.
    constexpr size_t kFirstByte = offsetof(QapiStatusSnapshot, canNewcall);
    constexpr size_t kBytes = offsetof(QapiStatusSnapshot, indicator3) + 1 - kFirstByte;
    return a.regState != b.regState || a.statusText != b.statusText || a.callState != b.callState ||
           a.eventValue != b.eventValue || a.infoValue != b.infoValue ||
           std::memcmp(&a.canNewcall, &b.canNewcall, kBytes) != 0;
}

}  // namespace

bool stationSnapshotChanged(const StationClient &client) {
    return visibleStatusDiffers(client.snapshot, client.lastSnapshot);
}

void stationClearPermissions(StationClient &client) {
    StatusSnapshot &s = client.snapshot;
    constexpr size_t kFirst = offsetof(StatusSnapshot, canNewcall);
    constexpr size_t kBytes = offsetof(StatusSnapshot, canPickup) + 1 - kFirst;
    std::memset(&s.canNewcall, 0, kBytes);
}

void stationUpdateFeatures(StationClient &client, uint8_t state) {
    StatusSnapshot &s = client.snapshot;
    const uint8_t old = s.callState;
    if (client.callFlags & kFlagBlocked) client.callFlags = kFlagBlocked;
    if (state == kStateIdle || state == kStateDialling || old == kStateIdle) {
        std::memset(client.dialedText, 0, sizeof client.dialedText);
    }
    setPermissions(client, state);
    s.isAlerting = state == kStateAlerting;
    if (state != old) s.eventValue = 0;
    if (state == kStateCleared) s.indicator1 = s.indicator2 = s.indicator3 = 0;
    if (state != old && state == kStateIdle) {
        std::memset(client.pendingDial, kNoDialCode, sizeof client.pendingDial);
        std::memset(client.dialedText, 0, sizeof client.dialedText);
        client.dialTimer = 0;
    }
    s.callState = state;
    if (stationSnapshotChanged(client)) stationPostSnapshot(client);
}

}  // namespace qapi
