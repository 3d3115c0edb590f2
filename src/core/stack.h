// The library's process-wide state that every part may read: whether the
// library is initialised, and the tick count.
#pragma once

#include <cstdint>

#include "platform/messaging.h"

namespace qapi {

inline constexpr uint32_t kTickPeriodMs = 100;
inline constexpr uint32_t kFirstStackTick = 1000;

struct StackState {
    bool initialised;
    uint32_t stackTick;       // 100 ms ticks; 1000 when the timer is created
    plat::TimerId tickTimer;  // the running tick timer, 0 when none
};

StackState &stack();

// Current tick count; read by the adjunct to age route requests.
inline uint32_t stackTick() { return stack().stackTick; }

}  // namespace qapi
