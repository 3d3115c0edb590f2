// Adjunct datagrams with any content: route requests with random fields,
// lengths and truncations, keep-alive replies, other types and noise, handled
// as the tick hands them on while the slots age and the tick count wraps;
// then answers with random route handles and digit texts.  No read goes past
// the datagram or the text, every posted request names a pending slot, and
// what the link ignores or refuses changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "adjunct/adjunct_peer.h"
#include "core/stack.h"
#include "core/wire.h"
#include "robustness/fuzz_support.h"
#include "support/invariants.h"

namespace qapi {
namespace {

using test::Bytes;

Bytes makeDatagram(test::Prng &r) {
    Bytes codes(32);
    for (uint8_t &c : codes) c = r.percent(85) ? static_cast<uint8_t>(r.below(16)) : r.byte();
    // A braced list draws its fields in order, whatever the compiler.
    Bytes d = test::routeRequest({.id = r.percent(90) ? r.below(40) : r.next(),
                                  .dateTime = r.next(),
                                  .numberA = static_cast<int32_t>(r.next()),
                                  .numberB = static_cast<int32_t>(r.next()),
                                  .digitsB = codes,
                                  .digitsA = Bytes(codes.rbegin(), codes.rend())});
    if (r.percent(10)) d = test::kKeepAliveReply;
    if (r.percent(5)) std::generate(d.begin(), d.end(), [&] { return r.byte(); });
    if (r.percent(5)) d[0] = r.byte();
    if (r.percent(10)) d[1] = r.pick<uint8_t>({0x01, 0x81, 0xC1, 0x41, 0x00});
    if (r.percent(10)) writeU16le(d.data() + 2, static_cast<uint16_t>(r.below(200)));
    if (r.percent(10)) d.resize(r.below(d.size() + 1));
    return d;
}

Bytes bytesOf(const AdjunctLink &link) {
    const auto *b = reinterpret_cast<const uint8_t *>(&link);
    return Bytes(b, b + sizeof link);
}

class AdjunctDatagramFuzz : public test::AdjunctTest {};

TEST_F(AdjunctDatagramFuzz, RandomDatagramsAndAnswersKeepTheSlotsConsistent) {
    AdjunctLink *link = startLink();
    ASSERT_NE(link, nullptr);
    test::Prng r{0x5EED0003};
    std::vector<uint32_t> handles;
    const size_t rounds = test::fuzzRounds(200000);
    for (size_t round = 0; round < rounds; ++round) {
        if (r.percent(10)) stack().stackTick += r.below(20);
        if (round == rounds / 2) stack().stackTick = 0xFFFFFFF0;  // wraps while slots are live

        const test::ExactCopy d(makeDatagram(r));
        const Bytes before = bytesOf(*link);
        adjunctHandleDatagram(*link, d.data(), d.size);
        const std::vector<QMessage> posted = test::drainMessages();
        for (const QMessage &m : posted) {
            if (m.wParam == QAPI_NOTIFY_ADJUNCT_STATUS) continue;
            ASSERT_EQ(m.wParam, QAPI_NOTIFY_ROUTE_REQUEST);
            const auto &p = *reinterpret_cast<const QapiRouteRequestPayload *>(m.lParam);
            ASSERT_EQ(test::routeRequestProblem(*link, p), "") << "round " << round;
            handles.push_back(p.handle);
        }
        const uint8_t *h = d.data();
        const bool taken = d.size >= 4 && h[0] == 0 && d.size <= 4u + readU16le(h + 2) &&
                           ((h[1] == kRouteRequestType && d.size >= kRouteRequestSize) ||
                            h[1] == kAdjunctKeepAliveReplyType);
        ASSERT_TRUE(taken || (posted.empty() && bytesOf(*link) == before)) << "round " << round;

        if (!r.percent(30)) continue;
        const size_t recent = std::min<size_t>(handles.size(), 8);
        uint32_t handle =
            recent == 0 || r.percent(20) ? r.next() : handles[handles.size() - 1 - r.below(recent)];
        if (r.percent(10)) handle ^= 1u << r.below(32);
        Bytes text(r.below(45));
        for (uint8_t &c : text)
            c = r.percent(90) ? static_cast<uint8_t>("0123456789abcdABCD*#"[r.below(20)]) : r.byte();
        text.push_back(0);
        const test::ExactCopy digits(text);
        const char *given = r.percent(10) ? nullptr : reinterpret_cast<const char *>(digits.data());
        const Bytes unanswered = bytesOf(*link);
        if (QAPI_Adjunct_response(link, handle, given, static_cast<int32_t>(r.next())) == 0) {
            ASSERT_EQ(link->slots[handle >> 16].state, SlotState::Answered) << "round " << round;
            ASSERT_EQ(QAPI_Adjunct_response(link, handle, given, 0), 1) << "round " << round;
        } else {
            ASSERT_EQ(bytesOf(*link), unanswered) << "refused, yet changed: round " << round;
        }
    }
    AdjunctLink stranger = *link;  // every field right, but not in the link table
    EXPECT_EQ(QAPI_Adjunct_response(&stranger, handles.empty() ? 0 : handles.back(), "1", 0), 1);
    EXPECT_EQ(QAPI_Adjunct_response(nullptr, 0, "1", 0), 1);
}

}  // namespace
}  // namespace qapi
