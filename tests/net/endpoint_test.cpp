// Endpoints over real sockets on loopback, inside the test's own namespace.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "net/endpoint.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using namespace std::chrono_literals;

using test::TestSocket;

uint32_t firstWord(const Endpoint &e) {
    uint32_t w;
    std::memcpy(&w, e.remoteAddress, 4);
    return w;
}

bool restIsZero(const Endpoint &e) {
    for (int i = 4; i < 16; ++i) {
        if (e.remoteAddress[i] != 0) return false;
    }
    return true;
}

// The peer's view of a datagram from the endpoint: the sender's address.
sockaddr_storage receiveFrom(plat::SocketHandle fd, std::vector<uint8_t> &data) {
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    data.resize(2048);
    const ssize_t n = recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return from;
}

TEST(Endpoint, AClosedEndpointRefusesEverything) {
    Endpoint e{};
    uint8_t buf[8] = {};
    EXPECT_EQ(sendBytes(e, buf, 8), 1);
    EXPECT_LE(receiveBytes(e, buf, 8), 0);
    closeEndpoint(e);  // nothing to do
    EXPECT_EQ(e.open, 0);
}

TEST(Endpoint, DatagramExchangesWithItsPeerAndReportsEmptyZeroAndOversize) {
    TestSocket peer(SOCK_DGRAM);
    Endpoint e{};
    ASSERT_EQ(openDatagram(e, "127.0.0.1", peer.port), kOpened);
    EXPECT_EQ(e.kind, EndpointKind::Datagram);
    EXPECT_EQ(e.remoteFamily, RemoteFamily::Ipv4);
    EXPECT_EQ(firstWord(e), 0x7F000001u);
    EXPECT_TRUE(restIsZero(e));
    EXPECT_EQ(e.localAddress, 0u);

    uint8_t buf[16];
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 0);  // nothing waiting
    const uint8_t hello[4] = {1, 2, 3, 4};
    ASSERT_EQ(sendBytes(e, hello, 4), 0);
    std::vector<uint8_t> got;
    sockaddr_storage from = receiveFrom(peer.fd, got);
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3, 4}));

    auto reply = [&](size_t n) {
        std::vector<uint8_t> d(n, 0x5A);
        ASSERT_EQ(sendto(peer.fd, d.data(), n, 0, reinterpret_cast<sockaddr *>(&from), sizeof(sockaddr_in)),
                  static_cast<ssize_t>(n));
    };
    reply(0);
    reply(17);
    reply(16);
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 0);                 // zero-length: as an empty queue
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), kReceivedTooLong);  // longer than the buffer: lost
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 16);                // the next one is intact
    EXPECT_EQ(buf[15], 0x5A);
    closeEndpoint(e);
    EXPECT_EQ(e.open, 0);
    EXPECT_EQ(sendBytes(e, hello, 4), 1);
}

TEST(Endpoint, Ipv6ServersKeepTheirSixteenBytesInNetworkOrder) {
    TestSocket peer(SOCK_DGRAM, true);
    Endpoint e{};
    ASSERT_EQ(openDatagram(e, "::1", peer.port), kOpened);
    EXPECT_EQ(e.remoteFamily, RemoteFamily::Ipv6);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(e.remoteAddress[i], 0) << i;
    EXPECT_EQ(e.remoteAddress[15], 1);
    closeEndpoint(e);
}

TEST(Endpoint, UnresolvableHostsAndRefusedStreamsReportOne) {
    Endpoint e{};
    EXPECT_EQ(openStream(e, "no-such-host.invalid", 80), kOpenNoHost);
    EXPECT_EQ(openDatagram(e, nullptr, 80), kOpenNoHost);
    int closedPort;
    {
        TestSocket probe(SOCK_STREAM);
        closedPort = probe.port;
    }  // closed again: nothing listens there now
    EXPECT_EQ(openStream(e, "127.0.0.1", static_cast<uint16_t>(closedPort)), kOpenNoHost);
    EXPECT_EQ(e.open, 0);
}

TEST(Endpoint, StreamReadsDataThenZeroAfterAnOrderlyCloseAndSurvivesAReset) {
    TestSocket listener(SOCK_STREAM);
    Endpoint e{};
    ASSERT_EQ(openStream(e, "127.0.0.1", listener.port), kOpened);
    EXPECT_EQ(e.kind, EndpointKind::Stream);
    const plat::SocketHandle server = accept(listener.fd, nullptr, nullptr);
    ASSERT_NE(server, plat::kNoSocket);
    const uint8_t poll = 0x58;
    ASSERT_EQ(sendBytes(e, &poll, 1), 0);
    uint8_t got = 0;
    ASSERT_EQ(recv(server, &got, 1, 0), 1);
    EXPECT_EQ(got, 0x58);
    ASSERT_EQ(send(server, "abc", 3, 0), 3);
    uint8_t buf[8];
    test::pause(1ms);
    EXPECT_EQ(receiveBytes(e, buf, 2), 2);
    EXPECT_EQ(receiveBytes(e, buf, 8), 1);
    EXPECT_EQ(receiveBytes(e, buf, 8), 0);

    // A reset: the peer closes with data unread, so the connection is torn
    // down; sending afterwards must fail quietly, never with SIGPIPE.
    linger hard{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    test::closeSocket(server);
    test::pause(1ms);
#if !defined(_WIN32)
    struct sigaction old {};
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
#endif
    int failures = 0;
    for (int i = 0; i < 3; ++i) failures += sendBytes(e, &poll, 1);
#if !defined(_WIN32)
    sigaction(SIGPIPE, &old, nullptr);
#endif
    EXPECT_GE(failures, 1);
    EXPECT_LE(receiveBytes(e, buf, 8), 0);
    closeEndpoint(e);
}

// Datagrams read in one go end as single reads do: an oversize one is lost
// alone, and an empty one reads as empty.
TEST(Endpoint, ABatchOfDatagramsGivesEachItsOwnBufferAndLength) {
    TestSocket peer(SOCK_DGRAM);
    Endpoint e{};
    ASSERT_EQ(openDatagram(e, "127.0.0.1", peer.port), kOpened);
    uint8_t buffers[4][16];
    int sizes[4];
    EXPECT_EQ(receiveDatagrams(e, buffers[0], 16, 4, sizes), kReceivedNothing);
    const uint8_t hello = 1;
    ASSERT_EQ(sendBytes(e, &hello, 1), 0);
    std::vector<uint8_t> got;
    const sockaddr_storage from = receiveFrom(peer.fd, got);
    for (const size_t n : {3, 17, 0, 16, 5}) {
        const std::vector<uint8_t> d(n, static_cast<uint8_t>(n));
        ASSERT_EQ(
            sendto(peer.fd, d.data(), n, 0, reinterpret_cast<const sockaddr *>(&from), sizeof(sockaddr_in)),
            static_cast<ssize_t>(n));
    }
    ASSERT_EQ(receiveDatagrams(e, buffers[0], 16, 4, sizes), 4);
    EXPECT_EQ(std::vector<int>(sizes, sizes + 4), (std::vector<int>{3, kReceivedTooLong, 0, 16}));
    EXPECT_EQ(buffers[0][2], 3);
    EXPECT_EQ(buffers[3][15], 16);
    ASSERT_EQ(receiveDatagrams(e, buffers[0], 16, 4, sizes), 1);
    EXPECT_EQ(sizes[0], 5);
    EXPECT_EQ(buffers[0][4], 5);
    EXPECT_EQ(receiveDatagrams(e, buffers[0], 16, 4, sizes), kReceivedNothing);
    closeEndpoint(e);
}

// A failed receive reads as a failure, as a single read does: here the
// server's port-unreachable reply to the last send.
TEST(Endpoint, ABatchReadAfterAPortUnreachableReplyFails) {
    Endpoint e{};
    {
        TestSocket gone(SOCK_DGRAM);
        ASSERT_EQ(openDatagram(e, "127.0.0.1", gone.port), kOpened);
    }
    const uint8_t hello = 1;
    ASSERT_EQ(sendBytes(e, &hello, 1), 0);
    test::pause(1ms);
    uint8_t buffers[2][16];
    int sizes[2];
    EXPECT_EQ(receiveDatagrams(e, buffers[0], 16, 2, sizes), kReceiveFailed);
    closeEndpoint(e);
    EXPECT_EQ(receiveDatagrams(e, buffers[0], 16, 2, sizes), kReceiveFailed);
}

// The end of the stream is told apart from silence: bytes sent before the
// close are read first, then every read reports the end.
TEST(Endpoint, AStreamClosedInOrderReportsItsEndOnceEveryByteIsRead) {
    TestSocket listener(SOCK_STREAM);
    Endpoint e{};
    ASSERT_EQ(openStream(e, "127.0.0.1", listener.port), kOpened);
    const plat::SocketHandle server = accept(listener.fd, nullptr, nullptr);
    ASSERT_NE(server, plat::kNoSocket);
    uint8_t buf[8];
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), kReceivedNothing);
    ASSERT_EQ(send(server, "abc", 3, 0), 3);
    test::closeSocket(server);  // orderly close: FIN
    ASSERT_TRUE(test::waitReadable(e.socket, 5000));
    test::pause(1ms);
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 3);
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), kReceivedEnd);
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), kReceivedEnd);
    closeEndpoint(e);
}

TEST(Endpoint, MulticastJoinsTheGroupAndKnowsThisHostsAddress) {
    ASSERT_TRUE(test::isolatedNetwork());
    Endpoint e{};
    ASSERT_EQ(openMulticast(e, "224.3.3.3", 4100), kOpened);
    EXPECT_EQ(e.kind, EndpointKind::Multicast);
    EXPECT_EQ(e.localAddress, 0x7F000001u);  // a namespace with nothing but loopback
    EXPECT_EQ(ntohs(e.groupAddress.sin_port), 4100);
    EXPECT_EQ(ntohl(e.groupAddress.sin_addr.s_addr), 0xE0030303u);
    EXPECT_EQ(firstWord(e), 0u);

    Endpoint second{};
    EXPECT_EQ(openMulticast(second, "224.3.3.3", 4100), kOpenBindFailed);  // no address reuse
    EXPECT_EQ(second.open, 0);
    EXPECT_EQ(openMulticast(second, "not-a-group", 4101), kOpenJoinFailed);

    test::GroupSender sender(4100);
    sender.send({9, 8, 7});
    sender.send({});
    uint8_t buf[8];
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 3);
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 0);  // the empty datagram
    EXPECT_EQ(receiveBytes(e, buf, sizeof buf), 0);  // and nothing after it
    closeEndpoint(e);
}

}  // namespace
}  // namespace qapi
