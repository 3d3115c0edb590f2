// The library's process-wide state: the initialised flag, the station
// endpoint shared by every station client, the handle registry and the tick
// counter.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "net/endpoint.h"
#include "platform/messaging.h"

namespace qapi {

inline constexpr uint32_t kTickPeriodMs = 100;
inline constexpr uint32_t kFirstStackTick = 1000;
inline constexpr int kStationBufferSize = 1024;
inline constexpr const char *kStationGroup = "224.3.3.3";

struct StackState {
    bool initialised;
    bool stationOpen;
    uint16_t stationPort;
    Endpoint stationEndpoint;
    uint8_t stationBuffer[kStationBufferSize];
    uint32_t stackTick;   // 100 ms ticks; 1000 when the timer is created
    plat::TimerId tickTimer;  // the running tick timer, 0 when none
    HandleRegistry registry;
};

StackState &stack();

// Current tick count; read by the adjunct to age route requests.
inline uint32_t stackTick() { return stack().stackTick; }

// Opens the station endpoint on first need (creation of a station client);
// true when it is open after the call.
bool openStationEndpointIfNeeded();

// One 100 ms tick; the timer created by QAPI_Stack_initialize calls it.
void runTick();

// Where the tick hands the station records it reads: records for this host
// to every live client, park lists to the park table, other broadcasts to
// every client's panel.
struct StationRecordSink;
const StationRecordSink &stationRecordSink();

}  // namespace qapi
