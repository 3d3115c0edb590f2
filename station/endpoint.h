// The station endpoint: one multicast socket on the station port, shared by
// every station client.  It is opened when the first client starts, closed
// when the library releases, and read by the tick into a buffer of 1024
// bytes.
#pragma once

#include <cstdint>

#include "net/endpoint.h"

namespace qapi {

inline constexpr int kStationBufferSize = 1024;
inline constexpr const char *kStationGroup = "224.3.3.3";

struct StationEndpoint {
    bool open;
    uint16_t port;      // the station port QAPI_Stack_initialize was given
    Endpoint endpoint;  // Multicast, joined to kStationGroup on `port`
    uint8_t buffer[kStationBufferSize];
};

StationEndpoint &stationEndpoint();

// Opens the endpoint on first need (the start of a station client); true
// when it is open after the call.
bool stationOpenEndpoint();
// Closes the endpoint when it is open.  Nothing is sent.
void stationCloseEndpoint();
// Sends to the group; 0 = handed to the platform, 1 = not sent (also while
// the endpoint is closed).
int stationSend(const void *data, int length);

}  // namespace qapi
