// The station client: one record per telephone station that the application
// drives.  Its first member is the status snapshot that every
// QAPI_NOTIFY_SNAPSHOT copies; the rest is private to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/handle_table.h"
#include "core/notify.h"
#include "dial/dial_codes.h"
#include "qapi.h"
#include "station/call_entry.h"
#include "station/protocol.h"
#include "station/request.h"

namespace qapi {

using StatusSnapshot = QapiStatusSnapshot;
using RegState = QapiRegState;

inline constexpr size_t kMaxClients = 512;
inline constexpr size_t kMonitorSlots = 512;
inline constexpr size_t kDialedTextSize = kDialBufferSize + 1;  // 32 characters and a NUL
inline constexpr int32_t kAnyStation = -1;            // takes the identifier of the registration reply
inline constexpr uint32_t kClientMagic = 0x12ABCD34;  // kind word of a station client

struct StationClient {
    StatusSnapshot snapshot;  // what the application sees; must stay first
    // The visible part (regState to indicator3) as last posted; only those
    // fields are meaningful here.
    StatusSnapshot lastSnapshot;
    int32_t superviseTicks;   // ticks since the supervision's last reset
    int32_t retryCount;       // registrations or keep-alives sent without answer
    int32_t dialTimer;        // digit-dial countdown
    int32_t monitorTimer;     // monitor-registration countdown
    int32_t retransmitTimer;  // ticks until the outstanding request goes again
    int32_t queueHead;        // slot of the newest queued request
    int32_t queueTail;        // slot of the last acknowledged request
    uint32_t regToken;        // carried by every request after registration
    uint32_t callFlags;       // flag bits from the server
    StationRequest requestSlots[kRequestSlots];
    uint16_t heartbeatDivider;
    uint16_t eventWord;                    // first body word of the last call or station event
    uint16_t eventRef;                     // reference word of that event; kNoEventRef = none
    uint8_t pendingDial[kDialBufferSize];  // codes waiting for the dial timer; 0xFF = empty
    char dialedText[kDialedTextSize];      // digits dialed so far, NUL-filled
    CallEntry callTable[kCallEntries];
    int32_t monitorExtension[kMonitorSlots];  // -1 = free slot
    uint8_t monitorPending[kMonitorSlots];
    uint8_t monitorStatus[kMonitorSlots];
    uint16_t monitorSlotsUsed;  // one past the highest slot ever taken: every later slot is free
    uint8_t parkListSent;       // 1 once the park list was posted to this client
    uint8_t snapshotRefused;    // 1 while the last snapshot posted was refused by the queue
    NotifyTarget target;
    uint32_t magic;  // kClientMagic while the record is a client

    // A client may be used while it carries its kind word and has a window
    // or a thread to notify.
    bool live() const { return magic == kClientMagic && !targetIsEmpty(target); }
};
static_assert(offsetof(StationClient, snapshot) == 0, "a handle is the snapshot's address");

// The live station clients, one slot each.
using ClientTable = HandleTable<StationClient, kMaxClients>;
ClientTable &stationClients();

// Stops every client at once (the library's release).  Nothing is sent.
void stationReleaseClients();

// The live client that `handle` names, or null (the client table's find).
StationClient *stationFindClient(const void *handle);

// As stationFindClient, and the station must be registered: a request sent while
// it is not would go once at most and be dropped by the next registration.
StationClient *stationFindRegisteredClient(const void *handle);

// Appends `c` to the dialed text; dropped when 32 characters are there.
void stationAppendDigitText(StationClient &client, char c);

// Posts a copy of the dialed text (QAPI_NOTIFY_TEXT) in a text block of
// the scratch arena: the application's copy never changes under it, and
// outlives the client.
void stationPostDialedText(StationClient &client);

// Posts a copy of the snapshot (QAPI_NOTIFY_SNAPSHOT) and restarts the
// supervision's tick count.  Does nothing for a client without a target.
// True when the post was queued (or there is no one to tell): only then does
// the snapshot count as seen.
bool stationPostSnapshot(StationClient &client);

}  // namespace qapi
