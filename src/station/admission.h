// Whether the tick can take a station record now.  Before a record is handed
// on, its costliest outcome (what its handlers may cut and post) must fit the
// tick's budget, and the work of handing records to clients stays bounded in
// every tick, whatever the network sends.  A record not taken waits, with
// everything behind it, for the next tick.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/budget.h"
#include "station/framing.h"

namespace qapi {

// Work units one tick may spend on handing records to clients: a unit is one
// client offered a record, or one watched slot looked through for a status.
inline constexpr uint64_t kStationWorkPerTick = uint64_t{1} << 21;

// A new tick's reading: the work count restarts, and what a status broadcast
// and a record for every client cost is taken from the clients as they are.
void stationStartAdmission();
// True when the record may be handed on now (and then its work is counted).
bool stationAdmitRecord(RecordRoute route, const uint8_t *record, size_t length);

// What the supervision of every live client may post in one tick (a
// heartbeat and a snapshot each): held back while the records are read.
PostCost stationSupervisionReserve();
// What one client's snapshot costs.
PostCost stationSnapshotCost();
// What a dialed-text notification costs.
PostCost stationTextCost();

}  // namespace qapi
