// One call that concerns a station, as the server last reported it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

inline constexpr size_t kCallEntries = 32;
inline constexpr uint32_t kNoCallId = 0xFFFFFFFF;

struct CallEntry {
    uint8_t state;  // 0 = free slot
    uint16_t number;
    uint32_t firstId;  // kNoCallId when the report carries none
    uint32_t secondId;
};

}  // namespace qapi
