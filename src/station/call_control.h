// Call control of a station: starting calls, dialing, the feature keys,
// taking back a listed call and deflecting, each gated by the permission
// byte that stationUpdateFeatures keeps; and the digit-dial timer that gathers
// digits dialed in quick succession into one request.
#pragma once

#include <cstdint>

namespace qapi {

struct StationClient;

// Qualifying ticks from the last accepted digit to the digits request.
inline constexpr int32_t kDialDelayTicks = 4;

// The digit-dial step of a registered client's tick: when the countdown
// runs out, the pending codes go as one request (or are dropped when the
// station no longer takes digits).  Codes the full queue cannot take stay
// pending and go on the next qualifying tick.
void stationTickDialTimer(StationClient &client);

}  // namespace qapi
