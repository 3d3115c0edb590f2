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
#include "support/test_support.h"

namespace qapi {
namespace {

bool dialText(const char *text, size_t most) {
    const size_t n = strnlen(text, 32);
    return n <= most && std::strspn(text, "0123456789ABCD*#") == n;
}

std::string payloadProblem(const CmdrRecordPayload &p, unsigned kind) {
    if (p.kindLetter != 'A' + kind) return "kind letter";
    if (p.second > 59 || p.minute > 59 || p.hour > 23 || p.day < 1 || p.day > 31 || p.month < 1 ||
        p.month > 12 || p.year < 2000 || p.year > 2063)
        return "date or time out of range";
    const uint8_t zero[sizeof p.reserved3] = {};
    if (p.reserved1 != 0 || p.reserved2 != 0 || std::memcmp(p.reserved3, zero, sizeof zero) != 0)
        return "reserved";
    const auto &t = p.texts;
    if (kind == 1 || kind == 2
            ? strnlen(t.text, 96) > 95
            : !dialText(t.dial.textA, 31) || !dialText(t.dial.textB, 31) || !dialText(t.dial.textC, 28))
        return "texts";
    if (strnlen(p.addressText, 48) > 15 || strnlen(p.serverAddressText, 48) > 39) return "address texts";
    return "";
}

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
        ASSERT_EQ(payloadProblem(payload, sealed[rec::kKind] & 0x3F), "") << "round " << round;

        sealed[r.below(kCmdrRecordSize)] ^= static_cast<uint8_t>(1 + r.below(255));
        ASSERT_FALSE(cmdrRecordIsValid(test::ExactCopy(sealed).data())) << "round " << round;
    }
    qmsgDestroyWindow(feed.window);
}

}  // namespace
}  // namespace qapi
