// The feature keys, suspend, taking back a listed call, and deflecting.
#include "station/call_control.h"

#include "station/call_table.h"
#include "station/client.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

using Permission = uint8_t StatusSnapshot::*;

// One feature key, queued when the permission byte allows it.  A full
// queue refuses it like a forbidden operation.
int featureKey(QapiHandle handle, Permission allowed, uint16_t code) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !(client->snapshot.*allowed)) return 1;
    return stationSendFeatureKey(*client, code) ? 0 : 1;
}

}  // namespace
}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Client_answer(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canAnswer, kAnswerKey);
}
int QAPI_CALL QAPI_Client_clear(QapiHandle h) { return featureKey(h, &StatusSnapshot::canClear, kClearKey); }
int QAPI_CALL QAPI_Client_hold(QapiHandle h) { return featureKey(h, &StatusSnapshot::canHold, kHoldKey); }
int QAPI_CALL QAPI_Client_retrieve(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canRetrieve, kRetrieveKey);
}
int QAPI_CALL QAPI_Client_callb(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canCallback, kCallbackKey);
}
int QAPI_CALL QAPI_Client_conference(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canConference, kConferenceKey);
}
int QAPI_CALL QAPI_Client_transfer(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canTransfer, kTransferKey);
}
int QAPI_CALL QAPI_Client_record_start(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canRecordStart, kRecordStartKey);
}
int QAPI_CALL QAPI_Client_record_stop(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canRecordStop, kRecordStopKey);
}
int QAPI_CALL QAPI_Client_mailbox(QapiHandle h) {
    return featureKey(h, &StatusSnapshot::canMailbox, kMailboxKey);
}

int QAPI_CALL QAPI_Client_suspend(QapiHandle handle) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !client->snapshot.canSuspend) return 1;
    // Both keys or neither: a hold without its suspend is not what was asked.
    if (stationRequestRoom(*client) < 2) return 1;
    stationSendFeatureKey(*client, kHoldKey);
    stationSendFeatureKey(*client, kSuspendKey);
    return 0;
}

int QAPI_CALL QAPI_Client_transfer_undo(QapiHandle handle, const char *number) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !client->snapshot.canPickup || !number) return 1;
    const uint32_t n = parseLeadingDecimal(number);
    // Call numbers are 16 bits: a larger value names no call.
    if (n > UINT16_MAX || !stationFindCall(*client, static_cast<uint16_t>(n))) return 1;
    StationRequest request{};
    request.type = kTransferUndoType;
    // The number plus one, in 16 bits: call 65535 gives 0 and the request
    // then travels as 44 bytes with an empty payload.
    request.code = static_cast<uint16_t>(n + 1);
    return stationEnqueueRequest(*client, request) ? 0 : 1;
}

int QAPI_CALL QAPI_Client_deflect(QapiHandle handle, const char *digits) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !digits) return 1;
    StationRequest request{};
    request.type = kDeflectType;
    packDialCodes(digits, request.payload);
    if (request.payload[0] == kNoDialCode) return 1;
    return stationEnqueueRequest(*client, request) ? 0 : 1;
}

}  // extern "C"
