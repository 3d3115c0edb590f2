// The request a station client queues for the call server: a 76-byte record
// of which the first 12, 44 or 76 bytes travel, depending on its content.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

inline constexpr size_t kRequestSize = 76;
inline constexpr size_t kRequestPayloadSize = 64;
inline constexpr size_t kRequestSlots = 64;

// Wire lengths of a queued request.
inline constexpr int kHeaderOnlyLength = 12;   // a request with a code
inline constexpr int kShortRequestLength = 44; // header and 32 payload bytes
inline constexpr int kLongRequestLength = 76;  // header and 64 payload bytes

// Request types with a fixed meaning here.
inline constexpr uint8_t kRegisterRequestType = 1;
inline constexpr uint8_t kKeepAliveType = 5;
inline constexpr uint8_t kFeatureKeyType = 16;
inline constexpr uint8_t kMonitorListType = 24;  // the only 76-byte request

struct StationRequest {
    int32_t destination;  // always 0 in a request
    uint8_t type;
    uint8_t sequence;     // slot | 0x80, written when sent
    uint16_t code;        // feature code, a small parameter, or 0
    uint32_t token;       // the client's registration token
    uint8_t payload[kRequestPayloadSize];  // type-specific, little-endian
};
static_assert(sizeof(StationRequest) == kRequestSize);

}  // namespace qapi
