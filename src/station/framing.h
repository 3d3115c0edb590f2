// Station datagram framing: a datagram is cut into its records (laid out in
// station/protocol.h), and each record whole within it goes to its handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "station/endpoint.h"
#include "station/protocol.h"

namespace qapi {

// Where the framing hands the records.  A handler receives the record and
// its length (4 + 4 x L, all of it within the datagram); a null member
// leaves those records unhandled.
struct StationRecordSink {
    void (*forHost)(const uint8_t *record, size_t length);    // addressed to this host
    void (*parkList)(const uint8_t *record, size_t length);   // broadcast park list
    void (*broadcast)(const uint8_t *record, size_t length);  // any other broadcast
};

// Cuts one datagram into records and hands each to the sink.  A record whose
// declared length runs past the end of the datagram is handed to no one.
void stationDispatchDatagram(const uint8_t *datagram, size_t size, uint32_t localAddress,
                             const StationRecordSink &sink);

// Reads every datagram waiting on the station endpoint, a batch at a time,
// and dispatches each in the order of arrival; a datagram too long for its
// buffer is dropped.  Before a datagram is dispatched, this host's address is
// looked up again when that is due at tick `tick`.  Stops when nothing more
// waits or the receive fails.
void stationPumpDatagrams(StationEndpoint &station, uint32_t tick, const StationRecordSink &sink);

}  // namespace qapi
