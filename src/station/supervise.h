// The per-tick supervision of a station client: registration, keep-alive,
// the failed state with its pause, the heartbeat, and the timed steps of a
// registered client.
#pragma once

#include <cstdint>

namespace qapi {

struct StationClient;

inline constexpr int32_t kRegisterSpacing = 60;  // ticks between registration requests
inline constexpr int32_t kIdleKeepAlive = 60;    // keep-alive spacing with no call
inline constexpr int32_t kCallKeepAlive = 15;    // keep-alive spacing in a call
inline constexpr int32_t kMaxUnanswered = 3;     // requests without answer before failing
inline constexpr int32_t kFailedPause = 450;     // ticks in failed before registering again
inline constexpr uint16_t kHeartbeatTicks = 10;

inline constexpr const char *kNotRespondingText = "Quentara is not responding";

// The station client's tick, run once per live client after every inbound
// record of the tick (as cmdrTick for a feed and adjunctTick for a link).
void stationTick(StationClient &client);

}  // namespace qapi
