// The busy-lamp panel of a station: the extensions it watches, registered
// with the server in batches of 16, and the status the server broadcasts
// for each of them (QAPI_NOTIFY_EXTENSION).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

struct StationClient;

inline constexpr int32_t kMonitorDelayTicks = 10;  // from the last registration to the flush
inline constexpr int32_t kNoExtension = -1;

// The last status reported for the first slot holding `extension`; 0 when
// none holds it or nothing has been reported since it was taken.
uint8_t stationMonitorStatusOf(const StationClient &client, int32_t extension);

// The monitor step of a registered client's tick, after the digit-dial step.
void stationTickMonitorTimer(StationClient &client);

// Queues the waiting registrations, 16 to a request.  Those the full queue
// cannot take stay waiting, and the flush is tried again on the next
// qualifying tick.
void stationFlushMonitorRegistrations(StationClient &client);

// Marks every watched extension as waiting to be registered and starts the
// monitor timer; done when the station registers.
void stationResendWatches(StationClient &client);

// True when `record` (a broadcast of `length` bytes) is an extension status
// that a client's panel takes; every other broadcast is ignored by all.
bool stationIsMonitorStatus(const uint8_t *record, size_t length);
// The registered clients that watch `extension`: each would be posted its status.
uint32_t stationWatchersOf(int32_t extension);
// The slots a status broadcast makes the live clients look through.
uint32_t stationMonitorScanCost();

// A broadcast record (not a park list) of `length` bytes: the status of a
// watched extension updates its slot and is posted.
void stationOnMonitorStatus(StationClient &client, const uint8_t *record, size_t length);

}  // namespace qapi
