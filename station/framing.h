// Station datagram framing.  A datagram holds records back to back from
// offset 0.  Each record starts with a 4-byte little-endian destination (this
// host's IPv4 address, -1 for every host, 0 for "no further records"), then
// type, sub, extra and the length byte L: the record occupies 4 + 4 x L bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/endpoint.h"

namespace qapi {

inline constexpr uint32_t kBroadcast = 0xFFFFFFFF;
inline constexpr uint8_t kParkListType = 0xC5;
inline constexpr size_t kRecordHeaderSize = 8;

// Where the framing hands the records.  A handler receives the record and
// its length (4 + 4 x L, all of it within the datagram); a null member
// leaves those records unhandled.
struct StationRecordSink {
    void (*forHost)(const uint8_t *record, size_t length);    // addressed to this host
    void (*parkList)(const uint8_t *record, size_t length);   // broadcast of type 0xC5
    void (*broadcast)(const uint8_t *record, size_t length);  // any other broadcast
};

// Cuts one datagram into records and hands each to the sink.  A record whose
// declared length runs past the end of the datagram is handed to no one.
void dispatchStationDatagram(const uint8_t *datagram, size_t size, uint32_t localAddress,
                             const StationRecordSink &sink);

// Reads every datagram waiting on the station endpoint into `buffer` and
// dispatches it; a datagram too long for the buffer is dropped.  Stops when
// nothing waits or the receive fails.
void pumpStationDatagrams(Endpoint &endpoint, uint8_t *buffer, int capacity,
                          const StationRecordSink &sink);

}  // namespace qapi
