// Station datagram framing: a datagram is cut into its records (laid out in
// station/protocol.h), and each record whole within it goes to its handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "station/endpoint.h"
#include "station/protocol.h"

namespace qapi {

enum class RecordRoute : uint8_t { ForHost, ParkList, Broadcast };

// Where the framing hands the records.  A handler receives the record and
// its length (4 + 4 x L, all of it within the datagram); a null member
// leaves those records unhandled.  A `budgeted` sink has the tick's
// admission (station/admission.h) asked first whether the record may be
// handed on now; when it says no, the dispatch stops there.
struct StationRecordSink {
    void (*forHost)(const uint8_t *record, size_t length);    // addressed to this host
    void (*parkList)(const uint8_t *record, size_t length);   // broadcast park list
    void (*broadcast)(const uint8_t *record, size_t length);  // any other broadcast
    bool budgeted = false;
};

// Cuts a datagram into records from offset `from` on and hands each to the
// sink, until the datagram ends or the admission takes no more.  A record
// whose declared length runs past the end of the datagram is handed to no
// one.  Returns the offset of the record not admitted, or `size` when the
// datagram is done.
size_t stationDispatchRecords(const uint8_t *datagram, size_t size, size_t from, uint32_t localAddress,
                              const StationRecordSink &sink);
// Every record of one datagram, budgeted sink or not.
void stationDispatchDatagram(const uint8_t *datagram, size_t size, uint32_t localAddress,
                             const StationRecordSink &sink);

// The most datagrams one tick reads from the station endpoint: a flood of
// datagrams that post nothing cannot hold the tick either.
inline constexpr int kStationDatagramsPerTick = 256;

// Dispatches, in the order of arrival, first what an earlier tick read but
// could not finish, then the datagrams waiting on the station endpoint, a
// batch at a time, at most kStationDatagramsPerTick of them; a datagram too
// long for its buffer is dropped.  Before a datagram is dispatched, this
// host's address is looked up again when that is due at tick `tick`.  Stops
// when nothing more waits, the receive fails, or the admission takes no more
// (the records not yet dispatched then wait in the endpoint, in order).
void stationPumpDatagrams(StationEndpoint &station, uint32_t tick, const StationRecordSink &sink);

}  // namespace qapi
