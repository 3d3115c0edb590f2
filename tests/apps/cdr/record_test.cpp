// A record's key, its number among identical records, and its columns.
#include <gtest/gtest.h>

#include <string>

#include "call_records/occurrences.h"
#include "call_records/sha256.h"
#include "cdr_samples.h"

namespace qcdr {
using qrecords::Occurrences;
using qrecords::Sha256;

namespace {

std::string hex(const uint8_t *bytes, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

TEST(Sha256, KnownDigests) {
    auto digest = Sha256().add("abc").finish();
    EXPECT_EQ(hex(digest.data(), 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    digest = Sha256().finish();
    EXPECT_EQ(hex(digest.data(), 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // 56 bytes in two pieces: the padding takes a block of its own.
    digest = Sha256().add("abcdbcdecdefdefgefghfghighijhijk").add("ijkljklmklmnlmnomnopnopq").finish();
    EXPECT_EQ(hex(digest.data(), 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(RecordKey, EveryFieldAndThePortTellRecordsApart) {
    const QapiCmdrRecordPayload base = test::call(1);
    const RecordKey key = recordKey(base, 7001);
    EXPECT_EQ(recordKey(base, 7001), key);
    EXPECT_NE(recordKey(base, 7002), key);
    std::vector<QapiCmdrRecordPayload> changed(8, base);
    changed[0].second = 1;
    changed[1].year = 2025;
    changed[2].duration = 61;
    changed[3].numberD = 1;
    changed[4].texts.dial.textB[0] = '1';
    changed[5].serverAddressText[8] = '2';
    changed[6].wordB = 1;
    // Texts are framed: "4711" + "" is not "471" + "1".
    std::strcpy(changed[7].texts.dial.textA, "471");
    std::strcpy(changed[7].texts.dial.textB, "1");
    for (const auto &r : changed) EXPECT_NE(recordKey(r, 7001), key);
    // Bytes that no field shows (a kind's unused text area) do not count.
    QapiCmdrRecordPayload noted = test::note("hello"), other = noted;
    other.reserved3[0] = 9;
    EXPECT_EQ(recordKey(noted, 7001), recordKey(other, 7001));
}

TEST(Occurrences, IdenticalRecordsOnOneConnectionAreCountedAndANewConnectionCountsAgain) {
    Occurrences o;
    const auto a = test::call(1), b = test::call(2);
    EXPECT_EQ(o.next(recordKey(a, 1), a), 0u);
    EXPECT_EQ(o.next(recordKey(b, 1), b), 0u);
    EXPECT_EQ(o.next(recordKey(a, 1), a), 1u);
    EXPECT_EQ(o.next(recordKey(a, 1), a), 2u);
    o.reset();
    EXPECT_EQ(o.next(recordKey(a, 1), a), 0u);
    EXPECT_EQ(o.next(recordKey(a, 1), a), 1u);
}

TEST(Occurrences, CountsOfRecordsADayOlderThanTheNewestAreLetGo) {
    Occurrences o;
    auto old = test::call(1);
    o.next(recordKey(old, 1), old);
    for (int i = 0; i < 5000; ++i) {
        auto later = test::call(i + 2);
        later.day = 19;  // two days on
        o.next(recordKey(later, 1), later);
    }
    EXPECT_EQ(o.remembered(), 5000u);
    EXPECT_EQ(o.next(recordKey(old, 1), old), 0u);
}

std::vector<std::optional<std::string>> asTexts(const std::vector<Value> &values) {
    std::vector<std::optional<std::string>> out;
    for (const Value &v : values) {
        if (v.type == Value::Type::null) out.emplace_back();
        else if (v.type == Value::Type::integer) out.emplace_back(std::to_string(v.integer));
        else if (v.type == Value::Type::blob)
            out.emplace_back(hex(reinterpret_cast<const uint8_t *>(v.text.data()), v.text.size()));
        else out.emplace_back(v.text);
    }
    return out;
}

TEST(Columns, ARecordComesBackWholeFromItsColumns) {
    auto odd = test::call(3);
    odd.month = 2, odd.day = 30;  // no such day: kept as sent
    std::vector<Row> rows = {test::row(test::call(1), 4), test::row(test::note("caf\xe9 \xff,\"x\"")),
                             test::row(odd)};
    for (const Row &in : rows) {
        const auto values = rowValues(in);
        ASSERT_EQ(values.size(), kColumns.size());
        Row out;
        ASSERT_TRUE(rowFromTexts(asTexts(values), out));
        EXPECT_EQ(std::memcmp(&out.record, &in.record, sizeof in.record), 0);
        EXPECT_EQ(out.key, in.key);
        EXPECT_EQ(out.occurrence, in.occurrence);
        EXPECT_EQ(out.server, in.server);
        EXPECT_EQ(out.receivedUs, in.receivedUs);
    }
    const auto note = asTexts(rowValues(rows[1]));
    EXPECT_EQ(note[1], "2024-05-17T10:30:00.123Z");
    EXPECT_EQ(note[12], "caf\xc3\xa9 \xc3\xbf,\"x\"");  // valid UTF-8, each byte one character
    const auto oddTexts = asTexts(rowValues(rows[2]));
    EXPECT_EQ(oddTexts[3], std::nullopt);
    EXPECT_EQ(oddTexts[4], "2024-02-30 10:30:00");
}

TEST(Columns, TextsThatMakeNoRecordAreRefused) {
    auto texts = asTexts(rowValues(test::row(test::call(1))));
    Row out;
    for (size_t column : {2u, 5u, 9u}) {  // kindLetter, duration, textA
        auto bad = texts;
        bad[column] = column == 9 ? std::string(40, '1') : std::string("x1");
        EXPECT_FALSE(rowFromTexts(bad, out)) << kColumns[column].name;
    }
    texts[3].reset();  // neither callTime nor sentTime
    EXPECT_FALSE(rowFromTexts(texts, out));
}

}  // namespace
}  // namespace qcdr
