// Call records as the simulator seals them: check sums and field layout.
#include <gtest/gtest.h>

#include "sim/call_record.h"

namespace qsim::feed {
namespace {

TEST(SimCallRecord, CheckSumWrapsEachAdditionAtEightBitsBeforeTheReduction) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(fletcher251(abc, 3), 0x4D27);
    // s0 = 196 after the first byte (1 + 195); 196 + 99 wraps to 39, not 44.
    const uint8_t wraps[] = {195, 99};
    EXPECT_EQ(fletcher251(wraps, 2) & 0xFF, 39);
    // 1 + 250 = 251 reduces to 0 and so does s1: a sum of 0 is given as 0xFFFF.
    const uint8_t zero[] = {250};
    EXPECT_EQ(fletcher251(zero, 1), 0xFFFF);
    const uint8_t bytes[] = {200, 100};
    EXPECT_EQ(byteSum(bytes, 2), 44);
}

TEST(SimCallRecord, EverySampleIsSealed) {
    for (uint32_t i = 0; i < 12; ++i) {
        const Record r = encode(sample(i));
        EXPECT_EQ(r[150], 0xFF) << i;
        EXPECT_EQ(r[151], byteSum(r.data(), 151)) << i;
        const uint16_t check = fletcher251(r.data(), 152);
        EXPECT_EQ(r[152], check & 0xFF) << i;
        EXPECT_EQ(r[153], check >> 8) << i;
    }
}

TEST(SimCallRecord, BrokenCheckSumNoLongerMatches) {
    Record r = encode(sample(0));
    breakCheckSum(r);
    EXPECT_NE(r[152], fletcher251(r.data(), 152) & 0xFF);
}

TEST(SimCallRecord, FieldsStandAtTheirOffsets) {
    const CallRecord c = sample(0);
    ASSERT_EQ(c.kind, 5);
    const Record r = encode(c);
    EXPECT_EQ(getU32(&r[0]), 17u);
    EXPECT_EQ(getU32(&r[4]), 4711u);
    EXPECT_EQ(r[16], 5);
    const uint8_t digitsA[] = {4, 7, 1, 1, 0xFF};
    EXPECT_TRUE(std::equal(std::begin(digitsA), std::end(digitsA), &r[24]));
    EXPECT_EQ(r[56], 1);
    EXPECT_EQ(r[57], 7);
    EXPECT_EQ(r[88], 0);
    EXPECT_EQ(r[91], 5);
    EXPECT_EQ(r[119], 0xFF);
    EXPECT_EQ(getU32(&r[120]), (24u << 26) | (5u << 22) | (17u << 17) | (10u << 12) | (30u << 6));
    EXPECT_EQ(getU32(&r[124]), 3750u);
    // 192.0.2.10, most significant byte first in the text, last on the wire.
    EXPECT_EQ(r[136], 10);
    EXPECT_EQ(r[139], 192);
    EXPECT_EQ(getU16(&r[140]), 1);
    EXPECT_EQ(getU16(&r[142]), 2);
}

TEST(SimCallRecord, TextKindsCarryOneNulEndedText) {
    const CallRecord c = sample(1);
    ASSERT_EQ(c.kind, 1);
    const Record r = encode(c);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&r[24])), "Call record note 2");
    EXPECT_EQ(r[24 + c.text.size()], 0);
    EXPECT_EQ(r[119], 0);
}

}  // namespace
}  // namespace qsim::feed
