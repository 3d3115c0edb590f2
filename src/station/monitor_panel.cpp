#include "station/monitor_panel.h"

#include "core/scratch.h"
#include "core/wire.h"
#include "station/client.h"
#include "station/protocol.h"
#include "station/request_queue.h"

namespace qapi {
namespace {

constexpr int kNoMonitorSlot = -1;

// Only the slots below monitorSlotsUsed can hold an extension, so a status
// broadcast costs a client that watches little next to nothing.
int firstSlotOf(const StationClient &client, int32_t extension) {
    for (size_t i = 0; i < client.monitorSlotsUsed; ++i) {
        if (client.monitorExtension[i] == extension) return static_cast<int>(i);
    }
    if (extension == kNoExtension && client.monitorSlotsUsed < kMonitorSlots) return client.monitorSlotsUsed;
    return kNoMonitorSlot;
}

// One monitor-list request: the slots it names lose their waiting mark only
// once the queue has taken it.
struct MonitorBatch {
    uint16_t slots[kExtensionsPerRequest];
    size_t count = 0;

    bool queue(StationClient &client) {
        StationRequest request{};
        request.type = kMonitorListType;
        for (size_t k = 0; k < kExtensionsPerRequest; ++k) {
            const int32_t extension = k < count ? client.monitorExtension[slots[k]] : kNoExtension;
            writeU32le(request.payload + sizeof(int32_t) * k, static_cast<uint32_t>(extension));
        }
        if (!stationEnqueueRequest(client, request)) return false;
        for (size_t k = 0; k < count; ++k) client.monitorPending[slots[k]] = 0;
        count = 0;
        return true;
    }
};

// Answer and intrude: allowed while the station may pick up and the
// extension's last status is the one the operation needs.
int actOnWatched(QapiHandle handle, int32_t extension, uint8_t neededStatus, uint8_t type) {
    StationClient *client = stationFindRegisteredClient(handle);
    if (!client || !client->snapshot.canPickup || extension == kNoExtension) return 1;
    if (stationMonitorStatusOf(*client, extension) != neededStatus) return 1;
    StationRequest request{};
    request.type = type;
    writeU32le(request.payload, static_cast<uint32_t>(extension));
    return stationEnqueueRequest(*client, request) ? 0 : 1;
}

}  // namespace

bool stationIsMonitorStatus(const uint8_t *record, size_t length) {
    return length >= ExtensionStatusRecord::kSize && record[RecordHeader::kType] == kExtensionStatusType &&
           readI32le(record + ExtensionStatusRecord::kExtension) != kNoExtension;
}

uint32_t stationWatchersOf(int32_t extension) {
    uint32_t watchers = 0;
    stationClients().forEach([&](const StationClient &client) {
        if (client.snapshot.regState == QAPI_REG_REGISTERED &&
            firstSlotOf(client, extension) != kNoMonitorSlot)
            ++watchers;
    });
    return watchers;
}

uint32_t stationMonitorScanCost() {
    uint32_t slots = 0;
    stationClients().forEach([&](const StationClient &client) { slots += 1u + client.monitorSlotsUsed; });
    return slots;
}

uint8_t stationMonitorStatusOf(const StationClient &client, int32_t extension) {
    const int slot = firstSlotOf(client, extension);
    return slot == kNoMonitorSlot ? 0 : client.monitorStatus[slot];
}

void stationTickMonitorTimer(StationClient &client) {
    if (client.monitorTimer == 0) return;
    if (--client.monitorTimer == 0) stationFlushMonitorRegistrations(client);
}

void stationFlushMonitorRegistrations(StationClient &client) {
    MonitorBatch batch;
    bool queued = true;
    for (size_t i = 0; i < client.monitorSlotsUsed && queued; ++i) {
        if (client.monitorExtension[i] == kNoExtension || !client.monitorPending[i]) continue;
        batch.slots[batch.count++] = static_cast<uint16_t>(i);
        if (batch.count == kExtensionsPerRequest) queued = batch.queue(client);
    }
    if (queued && batch.count > 0) queued = batch.queue(client);
    // What the full queue refused stays waiting and goes on the next tick.
    if (!queued) client.monitorTimer = 1;
}

void stationResendWatches(StationClient &client) {
    bool watching = false;
    for (size_t i = 0; i < client.monitorSlotsUsed; ++i) {
        if (client.monitorExtension[i] == kNoExtension) continue;
        client.monitorPending[i] = 1;
        watching = true;
    }
    if (watching) client.monitorTimer = kMonitorDelayTicks;
}

void stationOnMonitorStatus(StationClient &client, const uint8_t *record, size_t length) {
    if (client.snapshot.regState != QAPI_REG_REGISTERED || !stationIsMonitorStatus(record, length)) return;
    const int32_t extension = readI32le(record + ExtensionStatusRecord::kExtension);
    const int slot = firstSlotOf(client, extension);
    if (slot == kNoMonitorSlot) return;
    const uint8_t status = record[RecordHeader::kExtra];
    client.monitorStatus[slot] = status;
    auto *posted = cutScratchFor<QapiExtensionStatus>();
    posted->extension = extension;
    posted->status = status;
    postNotify(client.target, QAPI_NOTIFY_EXTENSION, reinterpret_cast<intptr_t>(posted));
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Client_bdp_register(QapiHandle handle, int32_t extension, int32_t on) {
    StationClient *client = stationFindClient(handle);
    if (!client) return 1;
    if (extension == kNoExtension) return 0;
    if ((on & 0xFF) == 0) {
        // Nothing goes to the server; the freed slots keep their marks until
        // they are taken again.
        for (int32_t &watched : client->monitorExtension) {
            if (watched == extension) watched = kNoExtension;
        }
        return 0;
    }
    const int slot = firstSlotOf(*client, kNoExtension);
    if (slot == kNoMonitorSlot) return 1;
    client->monitorExtension[slot] = extension;
    if (slot >= client->monitorSlotsUsed) client->monitorSlotsUsed = static_cast<uint16_t>(slot + 1);
    client->monitorStatus[slot] = 0;
    client->monitorPending[slot] = 1;
    client->monitorTimer = kMonitorDelayTicks;
    return 0;
}

int QAPI_CALL QAPI_Client_bdp_answer(QapiHandle handle, int32_t extension) {
    return actOnWatched(handle, extension, kExtensionAnswerable, kWatchAnswerType);
}

int QAPI_CALL QAPI_Client_bdp_intrude(QapiHandle handle, int32_t extension) {
    return actOnWatched(handle, extension, kExtensionIntrudable, kWatchIntrudeType);
}

}  // extern "C"
