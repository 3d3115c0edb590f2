// What a station client does with a record that the server addressed to this
// host: it takes the records of its own station (and the untyped
// re-evaluations that concern every station), follows the registration,
// takes the server's flags and call state, and reports numbers, digits and
// texts to the application.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

struct StationClient;

// `record` holds `length` received bytes (4 + 4 x L of its header); a record
// shorter than the station record's header and station word, or than what its
// handling reads, is ignored.
void stationHandleRecord(StationClient &client, const uint8_t *record, size_t length);

// Call and station events, at least EventRecord::kSize bytes.
void stationOnCallEvent(StationClient &client, const uint8_t *record);
void stationOnStationEvent(StationClient &client, const uint8_t *record);

}  // namespace qapi
