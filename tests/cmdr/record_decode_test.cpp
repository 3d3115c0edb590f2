// Decoding of call records of every kind into the application's payload.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdr/record.h"
#include "cmdr/wire_record.h"

namespace qapi {
namespace {

using test::packedDateTime;
using test::WireRecord;

// 192.168.1.10 as an IPv4 endpoint holds it.
struct Ipv4Server {
    uint8_t bytes[16] = {};
    Ipv4Server() {
        const uint32_t hostOrder = 0xC0A8010A;
        std::memcpy(bytes, &hostOrder, 4);
    }
};

CmdrRecordPayload decode(WireRecord &r) {
    CmdrRecordPayload out{};
    cmdrDecodeRecord(r.sealed().data(), Ipv4Server().bytes, RemoteFamily::Ipv4, out);
    return out;
}

bool zeroFrom(const CmdrRecordPayload &p, size_t from, size_t to) {
    const auto *b = reinterpret_cast<const uint8_t *>(&p);
    for (size_t i = from; i < to; ++i) {
        if (b[i] != 0) return false;
    }
    return true;
}

// A record with every field set, so that each kind shows what it leaves out.
WireRecord fullRecord(uint8_t kind) {
    WireRecord r(kind);
    r.u32(rec::kNumberA, 101)
        .u32(rec::kNumberB, 0xFFFFFF00)
        .u32(rec::kNumberC, 303)
        .u32(rec::kNumberD, 0xDEADBEEF);
    r.codes(rec::kDigitsA, {1, 2, 3})
        .codes(rec::kDigitsB, {10, 11, 12, 13, 14, 15})
        .codes(rec::kDigitsC, {0, 9});
    r.u32(rec::kDateTime, packedDateTime(2024, 2, 29, 23, 59, 58));
    r.u32(rec::kDurationCount, 1000).u32(rec::kValueA, 7).u32(rec::kValueB, 0x80000000);
    r.u32(rec::kAddress, 0x0A000001).u16(rec::kWordA, 0xFFFE).u16(rec::kWordB, 0x1234);
    return r;
}

TEST(CmdrDecode, FullLayoutKindsFillEveryField) {
    WireRecord r = fullRecord(0);
    const CmdrRecordPayload p = decode(r);
    EXPECT_EQ(p.kindLetter, 'A');
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 23);
    EXPECT_EQ(p.minute, 59);
    EXPECT_EQ(p.second, 58);
    EXPECT_EQ(p.duration, 16u);
    EXPECT_EQ(p.numberA, 101);
    EXPECT_EQ(p.numberB, -256);
    EXPECT_EQ(p.numberC, 303);
    EXPECT_STREQ(p.texts.dial.textA, "123");
    EXPECT_STREQ(p.texts.dial.textB, "ABCD*#");
    EXPECT_STREQ(p.texts.dial.textC, "09");
    EXPECT_EQ(p.wordA, 0xFFFEu);  // zero-extended
    EXPECT_EQ(p.wordB, 0x1234u);
    EXPECT_EQ(p.valueA, 7u);
    EXPECT_EQ(p.valueB, 0x80000000u);
    EXPECT_STREQ(p.addressText, "10.0.0.1");
    EXPECT_EQ(p.numberD, 0xDEADBEEFu);
    EXPECT_STREQ(p.serverAddressText, "192.168.1.10");
    EXPECT_EQ(p.reserved1, 0);
    EXPECT_EQ(p.reserved2, 0);
    EXPECT_TRUE(zeroFrom(p, 196, 212));

    WireRecord f = fullRecord(5);
    EXPECT_EQ(decode(f).kindLetter, 'F');
    WireRecord last = fullRecord(63);
    const CmdrRecordPayload l = decode(last);
    EXPECT_EQ(l.kindLetter, 128);
    EXPECT_EQ(l.numberD, 0xDEADBEEFu);  // kinds without a layout take the full one
}

TEST(CmdrDecode, TextKindsCopyOneTextAndSetOnlyTheirFields) {
    WireRecord one = fullRecord(0x41);  // the upper two bits of the kind byte are not read
    const char text[] = "hello call";
    std::memcpy(one.bytes.data() + rec::kText, text, sizeof text);
    const CmdrRecordPayload p1 = decode(one);
    EXPECT_EQ(p1.kindLetter, 'B');
    EXPECT_EQ(p1.numberA, -1);
    EXPECT_EQ(p1.numberB, -1);
    EXPECT_EQ(p1.numberC, -1);
    EXPECT_STREQ(p1.texts.text, "hello call");
    EXPECT_TRUE(zeroFrom(p1, 42, 128));
    EXPECT_EQ(p1.duration, 0u);
    EXPECT_TRUE(zeroFrom(p1, 128, 212));
    EXPECT_STREQ(p1.serverAddressText, "192.168.1.10");
    EXPECT_EQ(p1.year, 2024);

    WireRecord two = fullRecord(2);
    std::memset(two.bytes.data() + rec::kText, 'x', rec::kTextLength);  // no NUL at all
    const CmdrRecordPayload p2 = decode(two);
    EXPECT_EQ(p2.kindLetter, 'C');
    EXPECT_EQ(p2.numberA, 101);
    EXPECT_EQ(p2.numberB, -1);
    EXPECT_EQ(p2.numberC, 303);
    EXPECT_EQ(std::string(p2.texts.text), std::string(95, 'x'));
    EXPECT_EQ(p2.wordA, 0u);
    EXPECT_EQ(p2.wordB, 0x1234u);
    EXPECT_EQ(p2.duration, 0u);
    EXPECT_TRUE(zeroFrom(p2, 136, 212));
}

TEST(CmdrDecode, KindsThreeAndFourSetOnlyTheirFields) {
    WireRecord three = fullRecord(3);
    const CmdrRecordPayload p3 = decode(three);
    EXPECT_EQ(p3.kindLetter, 'D');
    EXPECT_EQ(p3.numberA, 101);
    EXPECT_EQ(p3.numberB, -1);
    EXPECT_EQ(p3.numberC, 303);
    EXPECT_STREQ(p3.texts.dial.textA, "123");
    EXPECT_STREQ(p3.texts.dial.textB, "");
    EXPECT_STREQ(p3.texts.dial.textC, "09");
    EXPECT_EQ(p3.duration, 0u);
    EXPECT_TRUE(zeroFrom(p3, 128, 212));

    WireRecord four = fullRecord(4);
    const CmdrRecordPayload p4 = decode(four);
    EXPECT_EQ(p4.kindLetter, 'E');
    EXPECT_EQ(p4.numberA, 101);
    EXPECT_EQ(p4.numberB, -1);
    EXPECT_EQ(p4.numberC, -1);
    EXPECT_TRUE(zeroFrom(p4, 32, 128));
    EXPECT_EQ(p4.wordA, 0xFFFEu);
    EXPECT_EQ(p4.wordB, 0x1234u);
    EXPECT_EQ(p4.duration, 0u);
    EXPECT_TRUE(zeroFrom(p4, 136, 212));
}

TEST(CmdrDecode, DialTextsStopAtTheFirstNonCodeAndKeepTheirLastByteForTheNul) {
    WireRecord r(0);
    for (size_t i = 0; i < 32; ++i) r.bytes[rec::kDigitsA + i] = static_cast<uint8_t>(i % 16);
    r.codes(rec::kDigitsB, {1, 2, 16, 3});
    for (size_t i = 0; i < 32; ++i) r.bytes[rec::kDigitsC + i] = 7;  // the last 4 lie beyond the field
    const CmdrRecordPayload p = decode(r);
    EXPECT_EQ(std::string(p.texts.dial.textA), std::string("0123456789ABCD*#0123456789ABCD*"));
    EXPECT_STREQ(p.texts.dial.textB, "12");
    EXPECT_EQ(std::string(p.texts.dial.textC), std::string(28, '7'));

    WireRecord empty(0);  // every field starts with 0xFF
    const CmdrRecordPayload e = decode(empty);
    EXPECT_TRUE(zeroFrom(e, 32, 128));
}

TEST(CmdrDecode, OutOfRangeDateAndTimeFieldsAreNormalisedOneByOne) {
    struct Case {
        uint32_t month, day, hour, minute, second;
        uint16_t wantMonth, wantDay, wantHour, wantMinute, wantSecond;
    };
    const Case cases[] = {
        {0, 5, 6, 7, 8, 1, 5, 6, 7, 8},    {13, 5, 6, 7, 8, 1, 5, 6, 7, 8},
        {15, 5, 6, 7, 8, 1, 5, 6, 7, 8},   {12, 0, 6, 7, 8, 12, 1, 6, 7, 8},
        {3, 31, 24, 7, 8, 3, 31, 0, 7, 8}, {3, 4, 31, 60, 8, 3, 4, 0, 0, 8},
        {3, 4, 5, 59, 63, 3, 4, 5, 59, 0}, {3, 4, 5, 6, 60, 3, 4, 5, 6, 0},
        {0, 0, 24, 60, 60, 1, 1, 0, 0, 0},
    };
    for (const Case &c : cases) {
        WireRecord r(0);
        r.u32(rec::kDateTime, packedDateTime(2063, c.month, c.day, c.hour, c.minute, c.second));
        const CmdrRecordPayload p = decode(r);
        SCOPED_TRACE(testing::Message()
                     << c.month << "/" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second);
        EXPECT_EQ(p.year, 2063);
        EXPECT_EQ(p.month, c.wantMonth);
        EXPECT_EQ(p.day, c.wantDay);
        EXPECT_EQ(p.hour, c.wantHour);
        EXPECT_EQ(p.minute, c.wantMinute);
        EXPECT_EQ(p.second, c.wantSecond);
    }
    WireRecord zero(0);
    const CmdrRecordPayload z = decode(zero);
    EXPECT_EQ(z.year, 2000);
    EXPECT_EQ(z.month, 1);
    EXPECT_EQ(z.day, 1);
}

TEST(CmdrDecode, DurationIsTwoCountsPer125RoundedHalfUpAndNeverGoesBack) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0, 0},     {31, 0},
        {32, 1},    {61, 1},
        {62, 1},    {63, 1},
        {93, 1},    {94, 2},
        {124, 2},   {125, 2},
        {156, 2},   {157, 3},
        {1000, 16}, {0xFFFFFFFFu, 68719477u},  // 2c/125 = 68719476.72
    };
    for (const auto &[count, want] : cases) EXPECT_EQ(cmdrDurationOf(count), want) << count;
    for (uint32_t c = 1; c < 2000; ++c) ASSERT_GE(cmdrDurationOf(c), cmdrDurationOf(c - 1)) << c;
}

}  // namespace
}  // namespace qapi
