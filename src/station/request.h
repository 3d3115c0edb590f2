// The request a station client queues for the call server: a 76-byte record
// of which the first 12, 44 or 76 bytes travel, depending on its content.
#pragma once

#include <cstddef>
#include <cstdint>

#include "station/protocol.h"

namespace qapi {

inline constexpr size_t kRequestSize = kLongRequestLength;
inline constexpr size_t kRequestPayloadSize = kRequestSize - RequestHeader::kPayload;
inline constexpr size_t kRequestSlots = 64;

struct StationRequest {
    int32_t destination;  // always 0 in a request
    uint8_t type;
    uint8_t sequence;                      // slot | kSequenceBit, written when sent
    uint16_t code;                         // feature code, a small parameter, or 0
    uint32_t token;                        // the client's registration token
    uint8_t payload[kRequestPayloadSize];  // type-specific, little-endian
};
static_assert(sizeof(StationRequest) == kRequestSize);

}  // namespace qapi
