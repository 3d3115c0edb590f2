#include "sim/adjunct_wire.h"

namespace qsim::adjunct {
namespace {

constexpr size_t kHeader = 4;
constexpr size_t kRequestSize = 84;
constexpr size_t kResponseSize = 44;

Bytes header(uint8_t type, size_t size) {
    Bytes b(size, 0);
    b[1] = type;
    putU16(b, 2, static_cast<uint16_t>(size - kHeader));
    return b;
}

}  // namespace

std::optional<uint8_t> typeOf(const uint8_t *data, size_t size) {
    if (size < kHeader || data[0] != 0 || size > kHeader + getU16(data + 2)) return std::nullopt;
    return data[1];
}

Bytes keepAliveReply() { return header(kKeepAliveReply, kHeader); }

Bytes routeRequest(const RouteRequest &r) {
    Bytes b = header(kRouteRequest, kRequestSize);
    putU32(b, 4, r.when.packed());
    putU32(b, 8, static_cast<uint32_t>(r.numberA));
    putU32(b, 12, static_cast<uint32_t>(r.numberB));
    putU32(b, 16, r.id);
    putDialCodes(b, 20, 32, r.digitsB);
    putDialCodes(b, 52, 32, r.digitsA);
    return b;
}

std::optional<RouteResponse> parseRouteResponse(const uint8_t *data, size_t size) {
    if (size < kResponseSize || typeOf(data, size) != kRouteResponse) return std::nullopt;
    RouteResponse r;
    r.id = getU32(data + 4);
    r.value = static_cast<int32_t>(getU32(data + 8));
    r.digits = dialText(data + 12, 32);
    return r;
}

}  // namespace qsim::adjunct
