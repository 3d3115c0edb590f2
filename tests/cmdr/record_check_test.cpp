// The integrity checks of a call record: check sum, byte sum and marker.
#include <gtest/gtest.h>

#include "cmdr/record.h"
#include "cmdr/wire_record.h"

namespace qapi {
namespace {

using test::WireRecord;

TEST(CmdrCheck, Fletcher251WrapsEachAdditionAtEightBitsBeforeReducing) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(cmdrFletcher251(abc, 3), 0x4D27);
    // s0 = 1 + 195 = 196, then 196 + 99 wraps to 39 (a plain modulo-251 sum
    // would give 44); s1 = 196 + 39 = 235.
    const uint8_t wrap[] = {195, 99};
    EXPECT_EQ(cmdrFletcher251(wrap, 2), 235 * 256 + 39);
    const uint8_t zero[] = {255};  // s0 = 256 wraps to 0, s1 stays 0
    EXPECT_EQ(cmdrFletcher251(zero, 1), 0xFFFF);
    EXPECT_EQ(cmdrFletcher251(nullptr, 0), 0x0001);
    const uint8_t bytes[] = {200, 100, 1};
    EXPECT_EQ(cmdrSumBytes(bytes, 3), 45);
}

TEST(CmdrCheck, ASealedRecordIsValidAndEachBrokenCheckRejectsIt) {
    WireRecord r(5);
    r.u32(rec::kNumberA, 4711).u32(rec::kDateTime, 0x12345678);
    auto good = r.sealed();
    EXPECT_TRUE(cmdrRecordIsValid(good.data()));

    auto flipped = good;  // a changed byte breaks both sums
    flipped[40] ^= 0x01;
    EXPECT_FALSE(cmdrRecordIsValid(flipped.data()));

    ASSERT_NE(good[rec::kCheckLow], good[rec::kCheckHigh]);
    auto swapped = good;  // check bytes in the other order
    std::swap(swapped[rec::kCheckLow], swapped[rec::kCheckHigh]);
    EXPECT_FALSE(cmdrRecordIsValid(swapped.data()));

    auto badSum = good;
    badSum[rec::kByteSum] = static_cast<uint8_t>(badSum[rec::kByteSum] + 1);
    const uint16_t check = cmdrFletcher251(badSum.data(), rec::kCheckLow);  // re-sealed over the bad sum
    badSum[rec::kCheckLow] = static_cast<uint8_t>(check);
    badSum[rec::kCheckHigh] = static_cast<uint8_t>(check >> 8);
    EXPECT_FALSE(cmdrRecordIsValid(badSum.data()));

    // Both sums right, marker wrong.
    WireRecord noMarker(5);
    noMarker.u32(rec::kNumberA, 4711);
    auto m = noMarker.sealed();
    m[rec::kMarker] = 0xFE;
    m[rec::kByteSum] = cmdrSumBytes(m.data(), rec::kByteSum);
    const uint16_t c = cmdrFletcher251(m.data(), rec::kCheckLow);
    m[rec::kCheckLow] = static_cast<uint8_t>(c);
    m[rec::kCheckHigh] = static_cast<uint8_t>(c >> 8);
    EXPECT_FALSE(cmdrRecordIsValid(m.data()));
}

TEST(CmdrCheck, ARecordWhoseCheckSumComesOutZeroCarriesFfInBothBytes) {
    // Both sums stay below 251, so 0xFFFF can only be a replaced 0.  Search
    // the values of two bytes for such a record.
    bool found = false;
    for (unsigned a = 0; a < 256 && !found; ++a) {
        for (unsigned b = 0; b < 256 && !found; ++b) {
            WireRecord r(0);
            r.bytes[0] = static_cast<uint8_t>(a);
            r.bytes[1] = static_cast<uint8_t>(b);
            const auto &sealed = r.sealed();
            if (sealed[rec::kCheckLow] != 0xFF || sealed[rec::kCheckHigh] != 0xFF) continue;
            found = true;
            EXPECT_TRUE(cmdrRecordIsValid(sealed.data()));
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace qapi
