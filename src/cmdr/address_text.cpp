#include "cmdr/address_text.h"

#include <cstring>

namespace qapi {
namespace {

size_t writeDecimal(unsigned value, char *out) {
    char digits[3];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return n;
}

size_t writeHex(unsigned value, char *out) {
    static constexpr char kHex[] = "0123456789abcdef";
    char digits[4];
    size_t n = 0;
    do {
        digits[n++] = kHex[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return n;
}

}  // namespace

size_t cmdrFormatIpv4(uint32_t value, char *out) {
    size_t n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) out[n++] = '.';
        n += writeDecimal((value >> shift) & 0xFF, out + n);
    }
    out[n] = '\0';
    return n;
}

size_t cmdrFormatIpv6(const uint8_t *bytes, char *out) {
    enum class Run { None, In, Done } run = Run::None;
    size_t n = 0;
    for (int j = 0; j < 8; ++j) {
        const unsigned group = static_cast<unsigned>(bytes[2 * j] << 8 | bytes[2 * j + 1]);
        if (group == 0 && run != Run::Done) {
            run = Run::In;
            continue;
        }
        if (run == Run::In) {
            out[n++] = ':';
            run = Run::Done;
        }
        if (j > 0) out[n++] = ':';
        n += writeHex(group, out + n);
    }
    if (run == Run::In) {
        out[n++] = ':';
        out[n++] = ':';
    }
    out[n] = '\0';
    return n;
}

size_t cmdrFormatAddress(const uint8_t *address, RemoteFamily family, char *out) {
    static constexpr uint8_t kZero[12] = {};
    const bool ipv6 = family == RemoteFamily::Ipv6 ||
                      (family == RemoteFamily::None && std::memcmp(address + 4, kZero, sizeof kZero) != 0);
    if (ipv6) return cmdrFormatIpv6(address, out);
    uint32_t value;  // host order, as the endpoint stores it
    std::memcpy(&value, address, sizeof value);
    return cmdrFormatIpv4(value, out);
}

}  // namespace qapi
