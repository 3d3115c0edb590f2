// Address texts of the call records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdr/address_text.h"

namespace qapi {
namespace {

std::string ipv4(uint32_t value) {
    char out[kIpv4TextMax + 1];
    const size_t n = cmdrFormatIpv4(value, out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

std::string ipv6(std::initializer_list<uint16_t> groups) {
    uint8_t bytes[16];
    size_t i = 0;
    for (uint16_t g : groups) {
        bytes[i++] = static_cast<uint8_t>(g >> 8);
        bytes[i++] = static_cast<uint8_t>(g);
    }
    char out[kIpv6TextMax + 1];
    const size_t n = cmdrFormatIpv6(bytes, out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

TEST(CmdrAddressText, Ipv4IsDottedMostSignificantFirst) {
    EXPECT_EQ(ipv4(0xC0A8010A), "192.168.1.10");
    EXPECT_EQ(ipv4(0), "0.0.0.0");
    EXPECT_EQ(ipv4(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(ipv4(0x0A00FF09), "10.0.255.9");
}

TEST(CmdrAddressText, Ipv6ShortensOnlyTheFirstRunOfZeroGroups) {
    EXPECT_EQ(ipv6({0, 0, 0, 0, 0, 0, 0, 0}), "::");
    EXPECT_EQ(ipv6({0, 0, 0, 0, 0, 0, 0, 1}), "::1");
    EXPECT_EQ(ipv6({1, 0, 0, 0, 0, 0, 0, 0}), "1::");
    EXPECT_EQ(ipv6({0x2001, 0x0DB8, 0, 0, 0, 0, 0, 1}), "2001:db8::1");
    EXPECT_EQ(ipv6({1, 0, 1, 0, 0, 0, 0, 1}), "1::1:0:0:0:0:1");
    EXPECT_EQ(ipv6({0, 1, 2, 3, 4, 5, 6, 7}), "::1:2:3:4:5:6:7");
    EXPECT_EQ(ipv6({0x0ABC, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}),
              "abc:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    EXPECT_EQ(ipv6({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}).size(), kIpv6TextMax);
}

TEST(CmdrAddressText, ServerAddressIsWrittenByItsFamily) {
    char out[48];
    uint8_t v4[16] = {};
    const uint32_t hostOrder = 0xC0A8010A;
    std::memcpy(v4, &hostOrder, 4);
    cmdrFormatAddress(v4, RemoteFamily::Ipv4, out);
    EXPECT_STREQ(out, "192.168.1.10");
    cmdrFormatAddress(v4, RemoteFamily::None, out);
    EXPECT_STREQ(out, "192.168.1.10");

    // An IPv6 server whose last twelve bytes are zero stays IPv6.
    const uint8_t v6[16] = {0x20, 0x01, 0x0D, 0xB8};
    cmdrFormatAddress(v6, RemoteFamily::Ipv6, out);
    EXPECT_STREQ(out, "2001:db8::");
    uint8_t loop6[16] = {};
    loop6[15] = 1;
    cmdrFormatAddress(loop6, RemoteFamily::None, out);  // no family: told by its last bytes
    EXPECT_STREQ(out, "::1");
}

}  // namespace
}  // namespace qapi
