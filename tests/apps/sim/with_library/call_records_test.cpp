// The simulator's call records pass the library's checks and decode to what
// the simulator meant.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdr/record.h"
#include "sim/call_record.h"

namespace qapi {
namespace {

CmdrRecordPayload decoded(const qsim::feed::Record &r) {
    uint8_t server[16] = {};
    const uint32_t address = 0x0A4E0002;  // 10.78.0.2
    std::memcpy(server, &address, sizeof address);
    CmdrRecordPayload out{};
    cmdrDecodeRecord(r.data(), server, RemoteFamily::Ipv4, out);
    return out;
}

TEST(SimRecordsInTheLibrary, EverySampleIsValid) {
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_TRUE(cmdrRecordIsValid(qsim::feed::encode(qsim::feed::sample(i)).data())) << i;
    }
    qsim::feed::Record broken = qsim::feed::encode(qsim::feed::sample(0));
    qsim::feed::breakCheckSum(broken);
    EXPECT_FALSE(cmdrRecordIsValid(broken.data()));
}

TEST(SimRecordsInTheLibrary, TheFullKindDecodesFieldForField) {
    const qsim::feed::CallRecord c = qsim::feed::sample(0);
    const CmdrRecordPayload p = decoded(qsim::feed::encode(c));
    EXPECT_EQ(p.kindLetter, 'F');
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 5);
    EXPECT_EQ(p.day, 17);
    EXPECT_EQ(p.hour, 10);
    EXPECT_EQ(p.minute, 30);
    EXPECT_EQ(p.duration, 60u);
    EXPECT_EQ(p.numberA, 17);
    EXPECT_EQ(p.numberB, 4711);
    EXPECT_EQ(p.numberC, 1);
    EXPECT_EQ(p.numberD, 1000u);
    EXPECT_STREQ(p.texts.dial.textA, "4711");
    EXPECT_STREQ(p.texts.dial.textB, "17");
    EXPECT_STREQ(p.texts.dial.textC, "0815");
    EXPECT_EQ(p.wordA, 1u);
    EXPECT_EQ(p.wordB, 2u);
    EXPECT_EQ(p.valueA, 3u);
    EXPECT_EQ(p.valueB, 4u);
    EXPECT_STREQ(p.addressText, "192.0.2.10");
    EXPECT_STREQ(p.serverAddressText, "10.78.0.2");
}

TEST(SimRecordsInTheLibrary, TextAndUnansweredKindsDecode) {
    const CmdrRecordPayload note = decoded(qsim::feed::encode(qsim::feed::sample(1)));
    EXPECT_EQ(note.kindLetter, 'B');
    EXPECT_STREQ(note.texts.text, "Call record note 2");
    EXPECT_EQ(note.minute, 31);

    const CmdrRecordPayload missed = decoded(qsim::feed::encode(qsim::feed::sample(2)));
    EXPECT_EQ(missed.kindLetter, 'D');
    EXPECT_EQ(missed.numberA, 18);
    EXPECT_EQ(missed.numberB, -1);
    EXPECT_EQ(missed.numberC, 4712);
    EXPECT_STREQ(missed.texts.dial.textA, "4712");
    EXPECT_STREQ(missed.texts.dial.textC, "18");
}

}  // namespace
}  // namespace qapi
