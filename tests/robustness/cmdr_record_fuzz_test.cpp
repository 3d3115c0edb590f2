// Call records with any content: sealed records of every kind, with dates and
// times out of range, dial fields of codes and non-codes, texts without a NUL
// and any server address, decode into well-formed payloads without a read
// past their 154 bytes; one changed byte makes a sealed record invalid.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdr/feed.h"
#include "cmdr/wire_record.h"
#include "robustness/fuzz_support.h"
#include "support/invariants.h"
#include "support/test_support.h"

namespace qapi {
namespace {

TEST(CmdrRecordFuzz, SealedRecordsOfAnyContentDecodeWellFormedAndOneChangedByteIsRejected) {
    CmdrFeed feed{};
    feed.window = qmsgCreateWindow();
    test::Prng r{0x5EED0002};
    const size_t rounds = test::fuzzRounds(200000);
    for (size_t round = 0; round < rounds; ++round) {
        test::WireRecord w(0);
        for (uint8_t &b : w.bytes) b = r.byte();
        for (size_t field = rec::kDigitsA; field < rec::kDateTime; field += 32) {  // codes up to a random end
            for (size_t i = 0, end = r.below(33); i < end; ++i)
                w.bytes[field + i] = static_cast<uint8_t>(r.below(16));
        }
        if (r.percent(30)) {
            w.u32(rec::kDateTime, test::packedDateTime(2000 + r.below(64), 1 + r.below(12), 1 + r.below(31),
                                                       r.below(24), r.below(60), r.below(60)));
        }
        for (uint8_t &b : feed.endpoint.remoteAddress) b = r.percent(50) ? 0 : r.byte();
        feed.endpoint.remoteFamily = r.pick({RemoteFamily::None, RemoteFamily::Ipv4, RemoteFamily::Ipv6});
        std::vector<uint8_t> sealed(w.sealed().begin(), w.sealed().end());
        const test::ExactCopy record(sealed);
        ASSERT_TRUE(cmdrRecordIsValid(record.data())) << "round " << round;
        cmdrPostRecord(feed, record.data());
        QMessage m;
        ASSERT_TRUE(qmsgPeekMessage(&m) && m.wParam == QAPI_NOTIFY_CMDR_RECORD);
        const auto &payload = *reinterpret_cast<const CmdrRecordPayload *>(m.lParam);
        ASSERT_EQ(test::cmdrPayloadProblem(payload, sealed[rec::kKind] & 0x3F), "") << "round " << round;

        sealed[r.below(kCmdrRecordSize)] ^= static_cast<uint8_t>(1 + r.below(255));
        ASSERT_FALSE(cmdrRecordIsValid(test::ExactCopy(sealed).data())) << "round " << round;
    }
    qmsgDestroyWindow(feed.window);
}

}  // namespace
}  // namespace qapi
