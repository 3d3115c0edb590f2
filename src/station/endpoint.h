// The station endpoint: one multicast socket on the station port, shared by
// every station client.  It is opened when the first client starts, closed
// when the library releases, and read by the tick in batches of up to 32
// datagrams of at most 1024 bytes each.
#pragma once

#include <cstdint>

#include "net/endpoint.h"

namespace qapi {

inline constexpr int kStationBufferSize = 1024;  // the longest datagram taken
inline constexpr int kStationBatch = 32;         // datagrams read in one go
inline constexpr const char *kStationGroup = "224.3.3.3";
// This host's address is looked up again on the first datagram after the
// endpoint opens, then on the first datagram once this many ticks have passed
// since the last lookup: never for every datagram.  A lookup never waits on
// the network, but it reads the hosts file and asks the kernel about the
// host's interfaces (on Windows, resolves the host's own name).  A hosts
// file that changed is read again a slice per tick, from the tick of the
// look-up on, until the look-up is finished.
inline constexpr uint32_t kAddressRefreshTicks = 100;

struct StationEndpoint {
    bool open;
    uint16_t port;                // the station port QAPI_Stack_initialize was given
    bool addressRefreshed;        // looked up since the endpoint opened
    bool addressPending;          // that look-up is not finished
    uint32_t addressRefreshTick;  // the tick of that lookup (or of its end)
    Endpoint endpoint;            // Multicast, joined to kStationGroup on `port`
    // One batch: datagram i at buffers + i * kStationBufferSize, its length
    // (or a negative result: dropped) in sizes[i].  Datagrams from batchNext
    // on, and the records of datagram batchNext from offset recordAt on, are
    // not dispatched yet: a tick's budget ran out before them.
    uint8_t buffers[kStationBatch * kStationBufferSize];
    int sizes[kStationBatch];
    int batchCount;
    int batchNext;
    size_t recordAt;
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

// Looks up this host's address again when a datagram arrived at tick `tick`
// and a lookup is due (see kAddressRefreshTicks).
void stationRefreshAddressIfDue(StationEndpoint &station, uint32_t tick);
// Goes on with a look-up that is not finished: once a tick, before the
// datagrams are read.
void stationContinueAddressLookup(StationEndpoint &station, uint32_t tick);

}  // namespace qapi
