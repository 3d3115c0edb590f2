// Start and stop of station clients, the handle check and the snapshot.
#include "station/client.h"

#include <cstdlib>
#include <cstring>

#include "core/scratch.h"
#include "core/stack.h"

namespace qapi {
namespace {

bool stationInUse(int32_t stationId) {
    for (const StationClient *c : stack().registry.clients) {
        if (c && c->snapshot.stationId == stationId) return true;
    }
    return false;
}

QapiHandle startClient(const NotifyTarget &target, int32_t stationId) {
    // A client nobody can be told about could never be used or stopped, yet
    // would hold its station and register for ever: refused.
    if (targetIsEmpty(target)) return nullptr;
    // Nor is one while the library is not initialised: the next initialise
    // would drop it unfreed.
    if (!stack().initialised) return nullptr;
    if (stationInUse(stationId)) return nullptr;
    StationClient *(&slots)[kMaxClients] = stack().registry.clients;
    const int slot = lowestFreeSlot(slots);
    if (slot == kNoSlot) return nullptr;
    auto *client = static_cast<StationClient *>(std::malloc(sizeof(StationClient)));
    if (!client) return nullptr;
    if (!openStationEndpointIfNeeded()) {
        std::free(client);
        return nullptr;
    }
    std::memset(client, 0, sizeof *client);
    client->snapshot.stationId = stationId;
    client->target = target;
    client->magic = kClientMagic;
    std::memset(client->pendingDial, kNoDialCode, sizeof client->pendingDial);
    for (int32_t &extension : client->monitorExtension) extension = -1;
    slots[slot] = client;
    return client;
}

}  // namespace

StationClient *checkClient(const void *handle) {
    const int slot = slotOf(stack().registry.clients, handle);
    if (slot == kNoSlot) return nullptr;
    StationClient *client = stack().registry.clients[slot];
    if (client->magic != kClientMagic || targetIsEmpty(client->target)) return nullptr;
    return client;
}

StationClient *checkRegisteredClient(const void *handle) {
    StationClient *client = checkClient(handle);
    return client && client->snapshot.regState == QAPI_REG_REGISTERED ? client : nullptr;
}

void appendDigitText(StationClient &client, char c) {
    // Only the first 32 positions take characters: the 33rd stays NUL.
    fillFirstFree(reinterpret_cast<uint8_t *>(client.dialedText), static_cast<uint8_t>(c), 0);
}

void postDialedText(StationClient &client) {
    char *text = cutTextBlock();
    std::memcpy(text, client.dialedText, sizeof client.dialedText);
    postNotify(client.target, QAPI_NOTIFY_TEXT, reinterpret_cast<intptr_t>(text));
}

void postSnapshot(StationClient &client) {
    if (targetIsEmpty(client.target)) return;
    auto *copy = cutScratchFor<StatusSnapshot>();
    std::memcpy(copy, &client.snapshot, sizeof *copy);
    postNotify(client.target, QAPI_NOTIFY_SNAPSHOT, reinterpret_cast<intptr_t>(copy));
    client.superviseTicks = 0;
    // Change detection compares with what the application saw last, whoever
    // posted it: after a failure snapshot, the recovery is always posted.
    client.lastSnapshot = client.snapshot;
}

void releaseAllClients() {
    releaseEverySlot(stack().registry.clients, [](StationClient *client) { std::free(client); });
}

}  // namespace qapi

using namespace qapi;

extern "C" {

QapiHandle QAPI_CALL QAPI_Client_start(QapiWindow window, int32_t stationId) {
    return startClient(NotifyTarget{window, 0}, stationId);
}

QapiHandle QAPI_CALL QAPI_Client_start_Thread(QapiThreadId threadId, int32_t stationId) {
    return startClient(NotifyTarget{0, threadId}, stationId);
}

int QAPI_CALL QAPI_Client_stop(QapiHandle handle) {
    if (!checkClient(handle)) return 1;
    StationClient *(&slots)[kMaxClients] = stack().registry.clients;
    const int slot = slotOf(slots, handle);
    if (slot == kNoSlot) return 1;
    StationClient *client = slots[slot];
    slots[slot] = nullptr;
    std::free(client);
    return 0;
}

}  // extern "C"
