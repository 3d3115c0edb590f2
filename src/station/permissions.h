// Which operations a station allows at the moment: derived from its call
// state and the server's flag bits, and reported to the application whenever
// the visible status changed.
#pragma once

#include <cstdint>

#include "qapi.h"
#include "station/protocol.h"

namespace qapi {

struct StationClient;

// Takes `state` as the station's call state: clears what belongs to the
// previous call, recomputes every permission byte, and posts the snapshot
// when regState to indicator3 differ from the last one it posted.
void stationUpdateFeatures(StationClient &client, uint8_t state);

// True when the visible fields (regState to indicator3) differ from those
// the application was last posted.
bool stationSnapshotChanged(const StationClient &client);

// Sets every permission byte (snapshot bytes canNewcall to canPickup) to 0:
// a station that is not registered allows nothing.
void stationClearPermissions(StationClient &client);

}  // namespace qapi
