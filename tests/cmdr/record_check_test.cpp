// The integrity checks of a call record: check sum, byte sum and marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "robustness/fuzz_support.h"

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

// A sealed record whose check sum comes out 0, so that it carries 0xFFFF:
// both sums stay below 251, so 0xFFFF can only be a replaced 0.  Found by
// trying the values of two bytes.
std::array<uint8_t, kCmdrRecordSize> zeroCheckRecord() {
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            WireRecord r(0);
            r.bytes[0] = static_cast<uint8_t>(a);
            r.bytes[1] = static_cast<uint8_t>(b);
            const auto &sealed = r.sealed();
            if (sealed[rec::kCheckLow] == 0xFF && sealed[rec::kCheckHigh] == 0xFF) return sealed;
        }
    }
    return {};
}

TEST(CmdrCheck, ARecordWhoseCheckSumComesOutZeroCarriesFfInBothBytes) {
    const auto sealed = zeroCheckRecord();
    ASSERT_EQ(sealed[rec::kMarker], rec::kMarkerValue);
    EXPECT_TRUE(cmdrRecordIsValid(sealed.data()));
}

// Records checked many at once pass and fail exactly as checked one by one:
// batches of 1 to 32 sealed records of random bytes, at any alignment, in
// which records break in every way the checks see.
TEST(CmdrCheck, RecordsCheckedTogetherPassUpToTheFirstThatFailsOnItsOwn) {
    const auto zeroCheck = zeroCheckRecord();
    test::Prng r{0xC4EC4};
    for (int round = 0; round < 3000; ++round) {
        const size_t count = 1 + r.below(32), offset = r.below(16);
        std::vector<uint8_t> batch(offset + count * kCmdrRecordSize);
        size_t expected = count;
        for (size_t k = 0; k < count; ++k) {
            WireRecord w(0);
            for (size_t i = 0; i < rec::kMarker; ++i) w.bytes[i] = r.byte();
            auto record = r.percent(3) ? zeroCheck : w.sealed();
            const uint8_t change = static_cast<uint8_t>(1 + r.below(255));
            switch (r.percent(70) ? 9 : r.below(5)) {
            case 0:  // any byte but the check bytes: one sum or both go wrong
                record[r.below(rec::kCheckLow)] ^= change;
                break;
            case 1:
                record[r.percent(50) ? rec::kCheckLow : rec::kCheckHigh] ^= change;
                break;
            case 2:  // the check sum right over a wrong byte sum
            case 3:  // or over a wrong marker, with a right byte sum
                w.bytes = record;
                w.bytes[r.percent(50) ? rec::kByteSum : rec::kMarker] ^= change;
                record = w.bytes;
                {
                    const uint16_t check = cmdrFletcher251(record.data(), rec::kCheckLow);
                    record[rec::kCheckLow] = static_cast<uint8_t>(check);
                    record[rec::kCheckHigh] = static_cast<uint8_t>(check >> 8);
                    if (record[rec::kMarker] != rec::kMarkerValue)
                        record[rec::kByteSum] = cmdrSumBytes(record.data(), rec::kByteSum);
                }
                break;
            case 4:  // a check sum of 0 written as 0
                if (record[rec::kCheckLow] == 0xFF && record[rec::kCheckHigh] == 0xFF)
                    record[rec::kCheckLow] = record[rec::kCheckHigh] = 0;
                break;
            default:
                break;
            }
            std::copy(record.begin(), record.end(),
                      batch.begin() + static_cast<ptrdiff_t>(offset + k * kCmdrRecordSize));
            if (expected == count && !cmdrRecordIsValid(record.data())) expected = k;
        }
        const test::ExactCopy copy(batch);  // any read past the batch shows under the sanitizers
        ASSERT_EQ(cmdrCountValidRecords(copy.data() + offset, count), expected) << "round " << round;
    }
}

}  // namespace
}  // namespace qapi
