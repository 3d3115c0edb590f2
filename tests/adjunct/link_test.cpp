// The adjunct link: start and stop, keep-alive supervision, the link coming
// up and failing, and the datagrams it refuses to read.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "adjunct/adjunct_peer.h"
#include "adjunct/link.h"

namespace qapi {
namespace {

using test::Bytes;
using test::kKeepAlive;
using test::kKeepAliveReply;
using test::runTicks;

class AdjunctLinkTest : public test::AdjunctTest {
protected:
    // Runs `ticks` ticks and gives the ticks (counted from 1) on which a
    // keep-alive went out; anything else sent is a failure.
    std::set<int> keepAliveTicks(int ticks) {
        std::set<int> sent;
        for (int t = 1; t <= ticks; ++t) {
            runTicks(1);
            while (auto got = received()) {
                EXPECT_EQ(*got, kKeepAlive) << "tick " << t;
                sent.insert(t);
            }
        }
        return sent;
    }
    void expectFailed(const AdjunctLink &link, const test::Posted &p) {
        EXPECT_EQ(link.state, LinkState::Failed);
        EXPECT_EQ(link.endpoint.open, 0);
        ASSERT_EQ(p.status.size(), 1u);
        EXPECT_EQ(p.status[0].state, QAPI_ADJUNCT_FAILED);
        EXPECT_STREQ(p.status[0].statusText, "Connection to Quentara failed!");
    }
};

TEST_F(AdjunctLinkTest, SilentServerGetsKeepAlivesOnTicks1_11_31AndTheLinkFailsOnTick61) {
    AdjunctLink *link = startLink();
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(received());  // nothing is sent at start
    EXPECT_EQ(keepAliveTicks(60), (std::set<int>{1, 11, 31}));
    EXPECT_TRUE(posted().status.empty());
    runTicks(1);
    expectFailed(*link, posted());
    EXPECT_TRUE(keepAliveTicks(300).empty());  // a failed link is never reopened
    EXPECT_TRUE(posted().status.empty());
}

TEST_F(AdjunctLinkTest, FirstReplyBringsTheLinkUpOnceAndTheNextKeepAliveComes200TicksLater) {
    AdjunctLink *link = startLink();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(keepAliveTicks(59), (std::set<int>{1, 11, 31}));
    deliver(*link, kKeepAliveReply);  // tick 60, after the third keep-alive
    EXPECT_EQ(link->state, LinkState::Up);
    test::Posted p = posted();
    ASSERT_EQ(p.status.size(), 1u);
    EXPECT_EQ(p.status[0].state, QAPI_ADJUNCT_UP);
    EXPECT_EQ(p.status[0].statusText, nullptr);

    EXPECT_TRUE(keepAliveTicks(199).empty());
    EXPECT_EQ(keepAliveTicks(1), (std::set<int>{1}));  // 200 ticks after the reply
    deliver(*link, kKeepAliveReply);                   // a second reply posts nothing
    EXPECT_TRUE(posted().status.empty());
    // Silent again: 200, then 10 and 20 ticks apart, failing 30 after the third.
    EXPECT_EQ(keepAliveTicks(259), (std::set<int>{200, 210, 230}));
    EXPECT_EQ(link->state, LinkState::Up);
    runTicks(1);
    expectFailed(*link, posted());
}

TEST_F(AdjunctLinkTest, MalformedDatagramsAreIgnoredAndDoNotResetTheKeepAlives) {
    AdjunctLink *link = startLink();
    ASSERT_NE(link, nullptr);
    ASSERT_EQ(keepAliveTicks(31).size(), 3u);
    const Bytes ignored[] = {
        {0x00, 0x81, 0x00, 0x00, 0x07},  // more than its header declares
        {0x01, 0x81, 0x00, 0x00},        // first byte not 0
        {0x00, 0x81, 0x00},              // shorter than a header
        {0x00, 0x01, 0x00, 0x00},        // a type the link does not take
        {0x00, 0xC1, 0x00, 0x00},
    };
    for (const Bytes &d : ignored) deliver(*link, d);
    EXPECT_EQ(link->state, LinkState::Connecting);
    EXPECT_EQ(link->unansweredKeepAlives, 3);
    EXPECT_TRUE(posted().status.empty());
    // Declaring more than arrived is not refused: the reply is taken.
    deliver(*link, {0x00, 0x81, 0x09, 0x00});
    EXPECT_EQ(link->state, LinkState::Up);
    EXPECT_EQ(link->unansweredKeepAlives, 0);
}

TEST_F(AdjunctLinkTest, ADatagramTooLargeForTheBufferIsDroppedAndTheLinkReadsOn) {
    AdjunctLink *link = startLink();
    ASSERT_NE(link, nullptr);
    runTicks(1);
    ASSERT_TRUE(received());
    Bytes big(1025, 0);
    test::putU32(big, 0, 0x03FD8100);  // 00 81, length 1021: well formed but too large
    ASSERT_EQ(sendto(server.fd, big.data(), big.size(), 0, reinterpret_cast<const sockaddr *>(&linkAddress),
                     sizeof linkAddress),
              static_cast<ssize_t>(big.size()));
    // The keep-alive reply behind it, read in the same tick, brings the link up.
    deliver(*link, Bytes{0x00, 0x81, 0x00, 0x00});
    EXPECT_EQ(link->state, LinkState::Up);
    const test::Posted p = posted();
    ASSERT_EQ(p.status.size(), 1u);
    EXPECT_EQ(p.status[0].state, QAPI_ADJUNCT_UP);
    // Stopping the link works once.
    EXPECT_EQ(QAPI_Adjunct_stop(link), 0);
    EXPECT_EQ(QAPI_Adjunct_stop(link), 1);
}

TEST_F(AdjunctLinkTest, StartRefusesNoWindowNoHostAnUnreachableHostAndANinthLink) {
    EXPECT_EQ(QAPI_Adjunct_start(0, "127.0.0.1", server.port), nullptr);
    EXPECT_EQ(QAPI_Adjunct_start(window, nullptr, server.port), nullptr);
    EXPECT_EQ(QAPI_Adjunct_start(window, "no-such-host.invalid", server.port), nullptr);
    QAPI_Stack_release();  // not initialised: a link would outlive the next initialise
    EXPECT_EQ(QAPI_Adjunct_start(window, "127.0.0.1", server.port), nullptr);
    ASSERT_EQ(QAPI_Stack_initialize(0), 0);
    for (AdjunctLink *slot : adjunctLinks()) EXPECT_EQ(slot, nullptr);

    AdjunctLink *links[8];
    for (auto &l : links) {
        l = static_cast<AdjunctLink *>(QAPI_Adjunct_start(window, "127.0.0.1", server.port + 0x10000));
        ASSERT_NE(l, nullptr);  // only the port's low 16 bits count
        EXPECT_EQ(l->magic, kLinkMagic);
    }
    EXPECT_EQ(QAPI_Adjunct_start(window, "127.0.0.1", server.port), nullptr);
    // Stopping one frees its slot for the next start, which takes the lowest.
    ASSERT_EQ(QAPI_Adjunct_stop(links[2]), 0);
    AdjunctLink *again = startLink();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(adjunctLinks()[2], again);
    // Every link ticks, in slot order: one keep-alive each.
    runTicks(1);
    int sent = 0;
    while (received()) ++sent;
    EXPECT_EQ(sent, 8);
}

TEST_F(AdjunctLinkTest, StopRefusesNullForeignAndStoppedHandlesAndReleaseFreesEveryLink) {
    EXPECT_EQ(QAPI_Adjunct_stop(nullptr), 1);
    AdjunctLink foreign{};
    foreign.magic = kLinkMagic;
    foreign.window = window;
    EXPECT_EQ(QAPI_Adjunct_stop(&foreign), 1);  // not in the link table

    AdjunctLink *a = startLink();
    AdjunctLink *b = startLink();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(QAPI_Adjunct_stop(a), 0);
    EXPECT_EQ(QAPI_Adjunct_stop(a), 1);
    EXPECT_EQ(adjunctLinks()[0], nullptr);
    EXPECT_EQ(QAPI_Stack_initialize(0), 0);  // drops every handle
    EXPECT_EQ(adjunctLinks()[1], nullptr);
    EXPECT_EQ(QAPI_Adjunct_stop(b), 1);
    AdjunctLink *c = startLink();
    ASSERT_NE(c, nullptr);
    QAPI_Stack_release();
    EXPECT_EQ(QAPI_Adjunct_stop(c), 1);
    EXPECT_TRUE(posted().status.empty());  // stopping and releasing post nothing
    runTicks(5);
    EXPECT_FALSE(received());
}

}  // namespace
}  // namespace qapi
