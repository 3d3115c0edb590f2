// Start and stop of station clients, the handle check and the snapshot.
#include "station/client.h"

#include <cstring>

#include "core/scratch.h"
#include "core/stack.h"
#include "station/client_index.h"
#include "station/endpoint.h"
#include "station/monitor_panel.h"

namespace qapi {
namespace {

bool stationInUse(int32_t stationId) {
    for (const StationClient *c : stationClients()) {
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
    StationClient *started = stationClients().start([&](StationClient &client) {
        if (!stationOpenEndpoint()) return false;
        client.snapshot.stationId = stationId;
        client.target = target;
        client.magic = kClientMagic;
        std::memset(client.pendingDial, kNoDialCode, sizeof client.pendingDial);
        for (int32_t &extension : client.monitorExtension) extension = kNoExtension;
        return true;
    });
    if (started) stationIndexAdd(stationId, stationClients().slotOf(started));
    return started;
}

}  // namespace

ClientTable &stationClients() {
    static ClientTable clients;
    return clients;
}

void stationReleaseClients() {
    stationClients().releaseAll();
    stationIndexClear();
}

StationClient *stationFindClient(const void *handle) { return stationClients().find(handle); }

StationClient *stationFindRegisteredClient(const void *handle) {
    StationClient *client = stationFindClient(handle);
    return client && client->snapshot.regState == QAPI_REG_REGISTERED ? client : nullptr;
}

void stationAppendDigitText(StationClient &client, char c) {
    // Only the first 32 positions take characters: the 33rd stays NUL.
    fillFirstFree(reinterpret_cast<uint8_t *>(client.dialedText), static_cast<uint8_t>(c), 0);
}

void stationPostDialedText(StationClient &client) {
    char *text = cutTextBlock();
    std::memcpy(text, client.dialedText, sizeof client.dialedText);
    postNotify(client.target, QAPI_NOTIFY_TEXT, reinterpret_cast<intptr_t>(text));
}

bool stationPostSnapshot(StationClient &client) {
    if (targetIsEmpty(client.target)) {
        client.lastSnapshot = client.snapshot;  // no one to be told: nothing unseen
        return true;
    }
    auto *copy = cutScratchFor<StatusSnapshot>();
    std::memcpy(copy, &client.snapshot, sizeof *copy);
    const bool queued =
        postNotify(client.target, QAPI_NOTIFY_SNAPSHOT, reinterpret_cast<intptr_t>(copy)) != 0;
    client.superviseTicks = 0;
    // Change detection compares with what the application saw last, whoever
    // posted it: after a failure snapshot, the recovery is always posted.  A
    // snapshot the queue refused was not seen: the next tick posts it again.
    if (queued) client.lastSnapshot = client.snapshot;
    client.snapshotRefused = queued ? 0 : 1;
    return queued;
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
    const size_t slot = stationClients().slotOf(handle);
    return stationClients().stop(handle, [&](StationClient &) { stationIndexRemove(slot); }) ? 0 : 1;
}

}  // extern "C"
