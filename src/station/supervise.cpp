#include "station/supervise.h"

#include "core/budget.h"
#include "core/wire.h"
#include "station/admission.h"
#include "station/call_control.h"
#include "station/client.h"
#include "station/endpoint.h"
#include "station/monitor_panel.h"
#include "station/permissions.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

// RegisterRequest and KeepAlive: 12 bytes straight to the group, outside the
// request queue, never acknowledged.
void sendSupervision(uint8_t type, uint32_t word) {
    uint8_t datagram[kHeaderOnlyLength] = {};
    datagram[RequestHeader::kType] = type;
    writeU32le(datagram + RequestHeader::kWord, word);
    stationSend(datagram, sizeof datagram);
}

void fail(StationClient &client) {
    client.snapshot.regState = QAPI_REG_FAILED;
    client.snapshot.statusText = kNotRespondingText;
    stationClearPermissions(client);  // the application sees that nothing is allowed
    stationPostSnapshot(client);
}

void superviseRegistering(StationClient &client) {
    if (client.retryCount != 0 && ++client.superviseTicks < kRegisterSpacing) return;
    client.superviseTicks = 0;
    if (++client.retryCount > kMaxUnanswered) {
        fail(client);
        return;
    }
    sendSupervision(kRegisterRequestType, static_cast<uint32_t>(client.snapshot.stationId));
}

void superviseRegistered(StationClient &client) {
    const int32_t limit = client.snapshot.callState != kStateIdle ? kCallKeepAlive : kIdleKeepAlive;
    if (++client.superviseTicks >= limit) {
        // A keep-alive tick ends here: the timed steps below wait a tick.
        client.superviseTicks = 0;
        if (++client.retryCount > kMaxUnanswered) {
            fail(client);
        } else {
            sendSupervision(kKeepAliveType, client.regToken);
        }
        return;
    }
    stationTickRetransmit(client);
    stationTickDialTimer(client);
    stationTickMonitorTimer(client);
}

void superviseFailed(StationClient &client) {
    if (++client.superviseTicks > kFailedPause) {
        // statusText keeps its text until the next registration reply.
        client.snapshot.regState = QAPI_REG_REGISTERING;
        client.retryCount = 0;
        client.superviseTicks = 0;
    }
}

}  // namespace

void stationTick(StationClient &client) {
    // A snapshot the queue refused goes again, as soon as the budget allows.
    if (client.snapshotRefused && budgetAllows(stationSnapshotCost())) stationPostSnapshot(client);
    if (++client.heartbeatDivider >= kHeartbeatTicks) {
        client.heartbeatDivider = 0;
        postNotify(client.target, QAPI_NOTIFY_HEARTBEAT, 0);
    }
    switch (client.snapshot.regState) {
    case QAPI_REG_REGISTERING:
        superviseRegistering(client);
        break;
    case QAPI_REG_REGISTERED:
        superviseRegistered(client);
        break;
    case QAPI_REG_FAILED:
        superviseFailed(client);
        break;
    default:
        break;
    }
}

}  // namespace qapi
