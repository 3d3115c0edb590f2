// Starting a call, dialing digits, and the digit-dial timer.
#include <cstring>

#include "core/budget.h"
#include "core/wire.h"
#include "station/admission.h"
#include "station/call_control.h"
#include "station/client.h"
#include "station/endpoint.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

// Both operations post the dialed text: refused, changing nothing, when the
// payloads posted since the last tick leave no room for it.
bool dialedTextFits() { return budgetAllowsExport(stationTextCost()); }

void emptyPendingDial(StationClient &client) {
    std::memset(client.pendingDial, kNoDialCode, sizeof client.pendingDial);
}

}  // namespace

void stationTickDialTimer(StationClient &client) {
    if (client.dialTimer == 0 || --client.dialTimer > 0) return;
    // A new call may have emptied the codes since the last digit: an empty
    // batch is not sent.
    if (client.snapshot.canDigits && client.pendingDial[0] != kNoDialCode) {
        StationRequest request{};
        request.type = kDialDigitsType;
        std::memcpy(request.payload, client.pendingDial, sizeof client.pendingDial);
        if (!stationEnqueueRequest(client, request)) {
            // The queue is full: the codes stay and go on the next tick.
            client.dialTimer = 1;
            return;
        }
    }
    emptyPendingDial(client);
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Client_newcall(QapiHandle handle, const char *digits) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !client->snapshot.canNewcall || !dialedTextFits()) return 1;
    emptyPendingDial(*client);
    std::memset(client->dialedText, 0, sizeof client->dialedText);
    uint8_t request[kShortRequestLength] = {};
    request[RequestHeader::kType] = kNewCallType;
    writeU32le(request + RequestHeader::kWord, client->regToken);
    uint8_t *codes = request + RequestHeader::kPayload;
    std::memset(codes, kNoDialCode, kDialBufferSize);
    if (digits) {
        packDialCodes(digits, codes);
        for (size_t i = 0; i < kDialBufferSize && codes[i] != kNoDialCode; ++i) {
            stationAppendDigitText(*client, digits[i]);
        }
    }
    // Outside the request queue: never acknowledged, never sent again.
    stationSend(request, sizeof request);
    stationPostDialedText(*client);
    return 0;
}

int QAPI_CALL QAPI_Client_digits(QapiHandle handle, const char *digits) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !client->snapshot.canDigits || !digits || !dialedTextFits()) return 1;
    bool accepted = false;
    for (size_t i = 0; i < kDialBufferSize; ++i) {
        const DialCode code = dialCodeOf(digits[i]);
        if (code == kNoDialCode) break;
        // Each buffer drops what it has no room for.
        fillFirstFree(client->pendingDial, code, kNoDialCode);
        stationAppendDigitText(*client, digits[i]);
        accepted = true;
    }
    stationPostDialedText(*client);
    if (!accepted || client->pendingDial[0] == kNoDialCode) return 1;
    client->dialTimer = kDialDelayTicks;
    return 0;
}

}  // extern "C"
