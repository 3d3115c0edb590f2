// Conversions between dial characters, dial codes and digit texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dial/dial_codes.h"

namespace qapi {
namespace {

std::vector<uint8_t> packed(const char *text) {
    std::vector<uint8_t> b(32, 0);
    packDialCodes(text, b.data());
    return b;
}

TEST(DialCodes, CharactersAndCodesMapBothWays) {
    const std::string keys = "0123456789ABCD*#";
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(dialCodeOf(keys[i]), i);
        EXPECT_EQ(dialCharOf(static_cast<DialCode>(i)), keys[i]);
        EXPECT_EQ(dialCharOrBlank(static_cast<DialCode>(i)), keys[i]);
    }
    EXPECT_EQ(dialCodeOf('a'), 10);
    EXPECT_EQ(dialCodeOf('d'), 13);
    for (char c : std::string("eE xX+-/\0", 9)) EXPECT_EQ(dialCodeOf(c), 255) << int(c);
    EXPECT_EQ(dialCodeOf(static_cast<char>(0xFF)), 255);
    EXPECT_EQ(dialCharOf(16), static_cast<char>(0xFF));
    EXPECT_EQ(dialCharOrBlank(16), ' ');
    EXPECT_EQ(dialCharOrBlank(255), ' ');
}

TEST(DialCodes, PackStopsAtTheFirstNonDialCharacterAndKeepsThirtyTwo) {
    auto b = packed("12#9x5");
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 5), (std::vector<uint8_t>{1, 2, 15, 9, 0xFF}));
    for (size_t i = 4; i < 32; ++i) EXPECT_EQ(b[i], 0xFF);
    const std::string forty(40, '7');
    b = packed(forty.c_str());
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(b[i], 7);
    EXPECT_EQ(packed(""), std::vector<uint8_t>(32, 0xFF));
    EXPECT_EQ(packed("x123"), std::vector<uint8_t>(32, 0xFF));
    EXPECT_EQ(packed(nullptr), std::vector<uint8_t>(32, 0xFF));
}

TEST(DialCodes, FillFirstFreeAppendsUntilFull) {
    std::vector<uint8_t> b(32, 0xFF);
    fillFirstFree(b.data(), 3, 0xFF);
    fillFirstFree(b.data(), 4, 0xFF);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(b[1], 4);
    EXPECT_EQ(b[2], 0xFF);
    std::vector<uint8_t> full(32, 5);
    fillFirstFree(full.data(), 9, 0xFF);
    EXPECT_EQ(full, std::vector<uint8_t>(32, 5));
    char text[33] = {};
    fillFirstFree(reinterpret_cast<uint8_t *>(text), '1', 0);
    fillFirstFree(reinterpret_cast<uint8_t *>(text), '2', 0);
    EXPECT_STREQ(text, "12");
}

TEST(DialCodes, ParseLeadingDecimalReadsAtMostEightDigits) {
    EXPECT_EQ(parseLeadingDecimal("123456789"), 12345678u);
    EXPECT_EQ(parseLeadingDecimal("0042x"), 42u);
    EXPECT_EQ(parseLeadingDecimal("x1"), 0u);
    EXPECT_EQ(parseLeadingDecimal(""), 0u);
    EXPECT_EQ(parseLeadingDecimal("99999999"), 99999999u);
}

TEST(DialCodes, NumbersUnpackToAtMostTwentyEightCodesAndBackToText) {
    uint8_t source[28];
    for (int i = 0; i < 28; ++i) source[i] = static_cast<uint8_t>(i % 16);
    uint8_t buffer[32];
    std::memset(buffer, 0, sizeof buffer);
    unpackNumberCodes(source, buffer);
    for (int i = 28; i < 32; ++i) EXPECT_EQ(buffer[i], 0xFF);
    char out[33];
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(dialCodesToText(buffer, out), 28u);
    EXPECT_STREQ(out, "0123456789ABCD*#0123456789AB");

    uint8_t all[32];
    std::memset(all, 14, sizeof all);
    EXPECT_EQ(dialCodesToText(all, out), 32u);
    EXPECT_EQ(std::string(out), std::string(32, '*'));
    all[0] = 0xFF;
    EXPECT_EQ(dialCodesToText(all, out), 0u);
    EXPECT_STREQ(out, "");
}

TEST(DialCodes, BlankEndedTextStopsAtTheFirstNonCode) {
    const uint8_t codes[] = {1, 2, 14, 16, 3};
    char out[6];
    EXPECT_EQ(dialCodesToBlankEnded(codes, 5, out), 3u);
    EXPECT_STREQ(out, "12*");
    EXPECT_EQ(dialCodesToBlankEnded(codes, 2, out), 2u);
    EXPECT_STREQ(out, "12");
}

}  // namespace
}  // namespace qapi
