#include "station/endpoint.h"

namespace qapi {

StationEndpoint &stationEndpoint() {
    static StationEndpoint station;
    return station;
}

bool stationOpenEndpoint() {
    StationEndpoint &s = stationEndpoint();
    if (s.open) return true;
    if (openMulticast(s.endpoint, kStationGroup, s.port) != kOpened) return false;
    s.open = true;
    s.addressRefreshed = false;
    s.addressPending = false;
    s.batchCount = s.batchNext = 0;
    s.recordAt = 0;
    return true;
}

void stationCloseEndpoint() {
    StationEndpoint &s = stationEndpoint();
    if (!s.open) return;
    closeEndpoint(s.endpoint);
    s.open = false;
    s.batchCount = s.batchNext = 0;  // what was read and not dispatched goes with it
    s.recordAt = 0;
}

int stationSend(const void *data, int length) { return sendBytes(stationEndpoint().endpoint, data, length); }

void stationRefreshAddressIfDue(StationEndpoint &station, uint32_t tick) {
    if (station.addressPending) return;  // goes on once a tick, not per datagram
    if (station.addressRefreshed && tick - station.addressRefreshTick < kAddressRefreshTicks) return;
    station.addressPending = !refreshLocalAddress(station.endpoint);
    station.addressRefreshed = true;
    station.addressRefreshTick = tick;
}

void stationContinueAddressLookup(StationEndpoint &station, uint32_t tick) {
    if (!station.addressPending) return;
    station.addressPending = !refreshLocalAddress(station.endpoint);
    station.addressRefreshTick = tick;
}

}  // namespace qapi
