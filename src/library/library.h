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
// to the clients they can concern (stationHandleHostRecord), park lists to the
// park table, other broadcasts to every client's panel.
const StationRecordSink &libraryStationSink();
// The same, except that records for this host are offered to every live
// client in turn: the plain rule that the index must match.
const StationRecordSink &libraryStationSinkAskingEveryClient();

}  // namespace qapi
