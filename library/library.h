// The library's wiring above the three services (station clients, call-record
// feeds, adjunct links): it starts and releases them with the library, runs
// the 100 ms tick over their handle tables, and hands the station records the
// tick reads to the station clients.
#pragma once

#include "station/framing.h"

namespace qapi {

// One 100 ms tick; the timer created by QAPI_Stack_initialize calls it.
void libraryTick();

// Where the tick hands the station records it reads: records for this host
// to every live client, park lists to the park table, other broadcasts to
// every client's panel.
const StationRecordSink &libraryStationSink();

}  // namespace qapi
