// The routing adjunct's datagrams.  Each starts with a 4-byte header: 0, the
// type, and the number of bytes that follow (u16, little-endian).  The link
// sends keep-alives (type 0x01) and route responses (0xC1, 44 bytes); the
// server answers keep-alives (0x81, header only) and sends route requests
// (0x41, 84 bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/bytes.h"

namespace qsim::adjunct {

inline constexpr uint8_t kKeepAlive = 0x01;
inline constexpr uint8_t kKeepAliveReply = 0x81;
inline constexpr uint8_t kRouteRequest = 0x41;
inline constexpr uint8_t kRouteResponse = 0xC1;

struct RouteRequest {
    uint32_t id = 0;
    DateTime when;
    int32_t numberA = 0;
    int32_t numberB = 0;
    std::string digitsA;  // dial characters, at most 32
    std::string digitsB;  // at most 28 are read
};

struct RouteResponse {
    uint32_t id = 0;
    int32_t value = 0;
    std::string digits;
};

// The datagram's type, or nothing when it has no valid header.
std::optional<uint8_t> typeOf(const uint8_t *data, size_t size);

Bytes keepAliveReply();
Bytes routeRequest(const RouteRequest &r);
std::optional<RouteResponse> parseRouteResponse(const uint8_t *data, size_t size);

}  // namespace qsim::adjunct
