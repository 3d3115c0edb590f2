// Network addresses as text, for the call records: dotted IPv4 and
// compressed lower-case IPv6.  Each writer NUL-terminates and returns the
// length of the text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/endpoint.h"

namespace qapi {

inline constexpr size_t kIpv4TextMax = 15;
inline constexpr size_t kIpv6TextMax = 39;

// The four bytes of `value` from the most significant down, "a.b.c.d".
size_t cmdrFormatIpv4(uint32_t value, char *out);
// Eight groups of 16 bits; only the first run of zero groups (even a single
// zero group) is written as "::".
size_t cmdrFormatIpv6(const uint8_t *bytes, char *out);
// An Endpoint's remoteAddress by its family.  Without a known family, an
// address whose last twelve bytes are zero is taken as IPv4.
size_t cmdrFormatAddress(const uint8_t *address, RemoteFamily family, char *out);

}  // namespace qapi
