// Route requests: slots, handles and payloads; answers with their dial codes
// and refusals; the 50-tick window.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "adjunct/adjunct_peer.h"
#include "core/stack.h"

namespace qapi {
namespace {

using test::Bytes;
using test::routeRequest;
using test::runTicks;

uint32_t packDateTime(uint32_t second, uint32_t minute, uint32_t hour, uint32_t day, uint32_t month,
                      uint32_t yearsAfter2000) {
    return second | minute << 6 | hour << 12 | day << 17 | month << 22 | yearsAfter2000 << 26;
}

// second, minute, hour, day, month, year
using Date = std::array<uint16_t, 6>;
Date dateOf(const QapiRouteRequestPayload &p) { return {p.second, p.minute, p.hour, p.day, p.month, p.year}; }

// The 44 bytes of a response: header, id, value, then `codes` and 0xFF.
Bytes response(uint32_t id, int32_t value, const Bytes &codes) {
    Bytes b(44, 0xFF);
    b[0] = 0x00;
    b[1] = 0xC1;
    b[2] = 40;
    b[3] = 0;
    test::putU32(b, 4, id);
    test::putU32(b, 8, static_cast<uint32_t>(value));
    std::copy(codes.begin(), codes.end(), b.begin() + 12);
    return b;
}

class RouteTest : public test::AdjunctTest {
protected:
    void SetUp() override {
        test::AdjunctTest::SetUp();
        link = startLink();
        ASSERT_NE(link, nullptr);
        runTicks(1);
        ASSERT_EQ(received(), test::kKeepAlive);
        // Up: the next keep-alive is 200 ticks away, beyond every test here.
        deliver(*link, test::kKeepAliveReply);
        ASSERT_EQ(link->state, LinkState::Up);
        posted();
    }
    // Delivers a request; gives the one payload posted for it, if any.
    std::optional<QapiRouteRequestPayload> ask(const Bytes &request) {
        deliver(*link, request);
        test::Posted p = posted();
        EXPECT_LE(p.requests.size(), 1u);
        if (p.requests.empty()) return std::nullopt;
        return p.requests[0];
    }
    AdjunctLink *link = nullptr;
};

TEST_F(RouteTest, RequestIsPostedWithItsHandleNumbersTextsAndDateBeforeTheLinkIsUp) {
    link = startLink();  // a second link, still connecting
    ASSERT_NE(link, nullptr);
    const Bytes digitsB{1, 2, 3, 0x0F, 0x0E, 10, 16, 4};  // a code above 15 ends the text
    const Bytes digitsA{0, 9, 13};
    auto got = ask(routeRequest({.id = 42,
                                 .dateTime = packDateTime(59, 30, 23, 31, 12, 63),
                                 .numberA = -5,
                                 .numberB = 77,
                                 .digitsB = digitsB,
                                 .digitsA = digitsA}));
    ASSERT_TRUE(got);
    EXPECT_EQ(link->state, LinkState::Connecting);
    EXPECT_EQ(got->handle, 42u);  // slot 0
    EXPECT_EQ(dateOf(*got), (Date{59, 30, 23, 31, 12, 2063}));
    EXPECT_EQ(got->numberA, -5);
    EXPECT_EQ(got->numberB, 77);
    EXPECT_STREQ(got->textA, "09D");
    EXPECT_STREQ(got->textB, "123#*A");
    EXPECT_EQ(link->slots[0].state, SlotState::Pending);
    EXPECT_EQ(link->slots[0].arrivalTick, stackTick());

    ask(routeRequest({.id = 5}));
    ask(routeRequest({.id = 6}));
    got = ask(routeRequest({.id = 7}));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->handle, 0x00030007u);
}

TEST_F(RouteTest, DateFieldsAreTakenWithoutNormalisationAndTextsAreBounded) {
    auto got = ask(routeRequest({.id = 1, .dateTime = packDateTime(61, 63, 25, 0, 0, 0)}));
    ASSERT_TRUE(got);
    EXPECT_EQ(dateOf(*got), (Date{1, 3, 1, 0, 0, 2000}));
    EXPECT_STREQ(got->textA, "");
    EXPECT_STREQ(got->textB, "");

    got = ask(routeRequest({.id = 2,
                            .dateTime = packDateTime(0, 0, 0, 1, 14, 24),
                            .digitsB = Bytes(32, 5),
                            .digitsA = Bytes(32, 15)}));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->month, 1);  // 14 modulo 13
    EXPECT_EQ(got->year, 2024);
    EXPECT_EQ(std::string(got->textA), std::string(31, '#'));
    EXPECT_EQ(std::string(got->textB), std::string(28, '5'));
}

TEST_F(RouteTest, AnswersCarryTheDialCodesOfTheirTextAndTheValue) {
    struct Case {
        const char *digits;
        Bytes codes;
    } cases[] = {
        {"12*#", {1, 2, 14, 15}},
        {nullptr, {}},
        {"12x3", {1, 2}},
        {"aBcD0", {10, 11, 12, 13, 0}},
        {"1234567890123456789012345678901234567890", {}},
    };
    for (int i = 0; i < 32; ++i) cases[4].codes.push_back(static_cast<uint8_t>((i + 1) % 10));
    uint32_t id = 100;
    for (const Case &c : cases) {
        auto got = ask(routeRequest({.id = id}));
        ASSERT_TRUE(got);
        EXPECT_EQ(QAPI_Adjunct_response(link, got->handle, c.digits, -1234), 0);
        EXPECT_EQ(expectSent(), response(id, -1234, c.codes)) << (c.digits ? c.digits : "(null)");
        ++id;
    }
}

TEST_F(RouteTest, EachRequestIsAnsweredOnceWithinFiftyTicks) {
    const uint32_t early = ask(routeRequest({.id = 1}))->handle;
    const uint32_t late = ask(routeRequest({.id = 2}))->handle;
    runTicks(48);  // `early` is 49 ticks old, `late` 48
    EXPECT_EQ(QAPI_Adjunct_response(link, early, "1", 0), 0);
    EXPECT_EQ(expectSent(), response(1, 0, {1}));
    EXPECT_EQ(QAPI_Adjunct_response(link, early, "1", 0), 1);  // answered already
    runTicks(2);                                               // `late` is 50 ticks old
    EXPECT_EQ(QAPI_Adjunct_response(link, late, "2", 0), 1);
    EXPECT_EQ(link->slots[1].state, SlotState::Pending);
    EXPECT_FALSE(received());
}

TEST_F(RouteTest, ResponsesToUnknownHandlesAndLinksAreRefusedAndChangeNothing) {
    const uint32_t handle = ask(routeRequest({.id = 9}))->handle;
    EXPECT_EQ(QAPI_Adjunct_response(link, 0x00200000 | handle, "1", 0), 1);  // slot 32
    EXPECT_EQ(QAPI_Adjunct_response(link, handle + 1, "1", 0), 1);           // another id
    EXPECT_EQ(QAPI_Adjunct_response(link, 0x00010000 | handle, "1", 0), 1);  // a slot of another id
    EXPECT_EQ(QAPI_Adjunct_response(link, 0x00010000, "1", 0), 1);           // never used: id 0, Free
    EXPECT_EQ(QAPI_Adjunct_response(nullptr, handle, "1", 0), 1);
    AdjunctLink copy = *link;
    EXPECT_EQ(QAPI_Adjunct_response(&copy, handle, "1", 0), 1);  // not a live link
    EXPECT_EQ(link->slots[0].state, SlotState::Pending);
    EXPECT_FALSE(received());
}

TEST_F(RouteTest, RepeatsWithinFiftyTicksAreIgnoredAndLaterOnesAreNewRequests) {
    const uint32_t first = ask(routeRequest({.id = 3}))->handle;
    ask(routeRequest({.id = 4}));
    runTicks(18);
    EXPECT_FALSE(ask(routeRequest({.id = 3})));  // 20 ticks later, unanswered
    ASSERT_EQ(QAPI_Adjunct_response(link, first, "5", 0), 0);
    expectSent();
    EXPECT_FALSE(ask(routeRequest({.id = 3})));  // answered, still held
    EXPECT_FALSE(received());
    runTicks(27);  // slot 0 is 49 ticks old after the next tick
    EXPECT_FALSE(ask(routeRequest({.id = 3})));
    auto again = ask(routeRequest({.id = 3}));  // 50 ticks: a new request in the first free slot
    ASSERT_TRUE(again);
    EXPECT_EQ(again->handle, first);
    EXPECT_EQ(link->slots[0].state, SlotState::Pending);
    EXPECT_EQ(QAPI_Adjunct_response(link, first, "6", 0), 0);
    EXPECT_EQ(expectSent(), response(3, 0, {6}));
}

TEST_F(RouteTest, AThirtyThirdLiveRequestIsDroppedUntilASlotAgesOut) {
    for (uint32_t id = 0; id < 32; ++id) {
        auto got = ask(routeRequest({.id = 1000 + id}));
        ASSERT_TRUE(got);
        EXPECT_EQ(got->handle >> 16, id);
    }
    EXPECT_FALSE(ask(routeRequest({.id = 2000})));  // slot 0 is 32 ticks old
    runTicks(17);
    auto got = ask(routeRequest({.id = 2000}));  // slot 0 is 50 ticks old: aged out
    ASSERT_TRUE(got);
    EXPECT_EQ(got->handle, 2000u);
}

TEST_F(RouteTest, ShortOrOverlongRequestsAreNotRead) {
    Bytes shortRequest = routeRequest({.id = 8});
    shortRequest.resize(83);
    shortRequest[2] = 79;
    EXPECT_FALSE(ask(shortRequest));
    Bytes underDeclared = routeRequest({.id = 8});
    underDeclared[2] = 79;  // holds more than it declares
    EXPECT_FALSE(ask(underDeclared));
    for (const RouteSlot &slot : link->slots) EXPECT_EQ(slot.state, SlotState::Free);
    Bytes longer = routeRequest({.id = 8});
    longer.resize(90, 0);
    longer[2] = 86;
    EXPECT_TRUE(ask(longer));
}

TEST_F(RouteTest, IdsAbove16BitsKeepTheirFullIdInTheSlotAndTheResponse) {
    const uint32_t handleA = ask(routeRequest({.id = 0x00050001}))->handle;
    const uint32_t handleB = ask(routeRequest({.id = 0x00060001}))->handle;  // same low 16 bits
    EXPECT_EQ(handleA, 0x00000001u);
    EXPECT_EQ(handleB, 0x00010001u);
    EXPECT_EQ(link->slots[1].requestId, 0x00060001u);
    EXPECT_EQ(QAPI_Adjunct_response(link, handleB, "7", 3), 0);
    EXPECT_EQ(expectSent(), response(0x00060001, 3, {7}));
    EXPECT_EQ(link->slots[0].state, SlotState::Pending);
    EXPECT_FALSE(ask(routeRequest({.id = 0x00060001})));  // held: the full id matches
}

// An answer that cannot reach the server is refused and leaves its request
// unanswered: on a failed link for good, on a live one until a send goes.
TEST_F(RouteTest, AnAnswerThatCannotBeSentIsRefusedAndTheRequestStaysUnanswered) {
    const uint32_t first = ask(routeRequest({.id = 11}))->handle;
    const uint32_t second = ask(routeRequest({.id = 12}))->handle;
    // The server's port closes: the first send provokes a port-unreachable
    // reply, which makes the next send fail.
    test::closeSocket(server.fd);
    EXPECT_EQ(QAPI_Adjunct_response(link, first, "1", 0), 0);
    EXPECT_EQ(QAPI_Adjunct_response(link, second, "2", 0), 1);
    EXPECT_EQ(link->slots[1].state, SlotState::Pending);
    const auto reopenServer = [&] {
        server.fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in again{};
        again.sin_family = AF_INET;
        again.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        again.sin_port = htons(server.port);
        return bind(server.fd, reinterpret_cast<const sockaddr *>(&again), sizeof again) == 0;
    };
    ASSERT_TRUE(reopenServer());
    EXPECT_EQ(QAPI_Adjunct_response(link, second, "2", 5), 0);
    EXPECT_EQ(expectSent(), response(12, 5, {2}));

    const uint32_t third = ask(routeRequest({.id = 13}))->handle;
    // The server's port closes for good: a keep-alive meets the
    // port-unreachable reply, and the link's next receive fails it.
    test::closeSocket(server.fd);
    adjunctSendKeepAlive(*link);
    runTicks(1);
    ASSERT_EQ(link->state, LinkState::Failed);
    ASSERT_TRUE(reopenServer());
    const RouteSlot before = link->slots[2];
    EXPECT_EQ(QAPI_Adjunct_response(link, third, "1", 0), 1);
    EXPECT_EQ(std::memcmp(&before, &link->slots[2], sizeof before), 0);
    EXPECT_FALSE(received());
}

}  // namespace
}  // namespace qapi
