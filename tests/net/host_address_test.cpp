// The multicast endpoint on the networks a user's host has, each built here
// from network namespaces: the address this host answers to, and the
// interface on which it hears the group and speaks to it.  Every peer is a
// namespace of the test's own, so that a default route leads nowhere else.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "net/endpoint.h"
#include "support/netns.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using test::run;

constexpr uint16_t kPort = 4100;
constexpr int kWaitMs = 5000;
constexpr int kSilenceMs = 200;  // how long "nothing came" is given
constexpr const char *kHostName = "qapi-desktop";
constexpr const char *kDesktopHosts = "127.0.0.1 localhost\n127.0.1.1 qapi-desktop\n";

uint32_t ipv4(const char *text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

// A member of the station group on a peer host, on its link's address.
struct GroupMember {
    int fd = -1;

    GroupMember(const test::PeerHost &host, const char *address) {
        host.inside([&] {
            fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in any{};
            any.sin_family = AF_INET;
            any.sin_port = htons(kPort);
            ip_mreq membership{};
            inet_pton(AF_INET, "224.3.3.3", &membership.imr_multiaddr);
            inet_pton(AF_INET, address, &membership.imr_interface);
            const int off = 0;
            ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any), 0);
            ASSERT_EQ(setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
            ASSERT_EQ(setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &membership.imr_interface,
                                 sizeof membership.imr_interface),
                      0);
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
        });
    }
    ~GroupMember() {
        if (fd >= 0) close(fd);
    }
    // The sender of the next datagram, 0 when none comes in `waitMs`.
    uint32_t heardFrom(int waitMs = kWaitMs) const {
        if (!test::waitReadable(fd, waitMs)) return 0;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        uint8_t d[64];
        if (recvfrom(fd, d, sizeof d, 0, reinterpret_cast<sockaddr *>(&from), &length) < 0) return 0;
        return ntohl(from.sin_addr.s_addr);
    }
    void speak(uint8_t mark) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kPort);
        inet_pton(AF_INET, "224.3.3.3", &to.sin_addr);
        ASSERT_EQ(sendto(fd, &mark, 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), 1);
    }
};

// The marks of what the endpoint hears from the group, waiting for the
// first and giving the rest a moment.
std::vector<uint8_t> heard(Endpoint &e) {
    std::vector<uint8_t> marks;
    for (int wait = kWaitMs; test::waitReadable(e.socket, wait); wait = kSilenceMs) {
        uint8_t mark = 0;
        if (receiveBytes(e, &mark, 1) == 1) marks.push_back(mark);
    }
    return marks;
}

// The endpoint speaks to the group, from `address`, and hears it on `on`'s
// link alone.
void expectTheGroupOn(Endpoint &e, uint32_t address, const GroupMember &on, const GroupMember &off) {
    const uint8_t request = 1;
    ASSERT_EQ(sendBytes(e, &request, 1), 0);
    EXPECT_EQ(on.heardFrom(), address);
    EXPECT_EQ(off.heardFrom(kSilenceMs), 0u);
    off.speak(1);
    on.speak(2);
    EXPECT_EQ(heard(e), std::vector<uint8_t>{2});
}

// This namespace as a user's host: no route for the group but the ones a
// test adds (the test launcher routes it over loopback).
class HostAddress : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::isolatedNetwork());
        if (!multicastInterfaceCanBeChosen())
            GTEST_SKIP() << "this process cannot choose the group's interface (qemu's user-mode emulator "
                            "does not carry IP_MULTICAST_IF)";
        ASSERT_TRUE(run("ip route del 224.0.0.0/4 dev lo"));
    }
    static bool multicastInterfaceCanBeChosen() {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        in_addr any{};
        const bool chosen =
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &any, sizeof any) == 0 || errno != ENOPROTOOPT;
        close(fd);
        return chosen;
    }
    void TearDown() override {
        if (endpoint.open) closeEndpoint(endpoint);
        run("ip route replace 224.0.0.0/4 dev lo");
    }
    Endpoint endpoint{};
};

TEST_F(HostAddress, ADesktopWhoseNameIsLoopbackAnswersToItsLinkAndReachesTheGroupThroughTheDefaultRoute) {
    test::PeerHost gateway;
    ASSERT_TRUE(gateway.ready());
    ASSERT_TRUE(gateway.link("qtlib", "10.77.0.1", "qtgw", "10.77.0.2"));
    ASSERT_TRUE(run("ip route add default via 10.77.0.2"));
    test::HostFiles files(kHostName, kDesktopHosts);
    ASSERT_TRUE(files.ready());
    const GroupMember server(gateway, "10.77.0.2");

    ASSERT_EQ(openMulticast(endpoint, "224.3.3.3", kPort), kOpened);
    EXPECT_EQ(endpoint.localAddress, ipv4("10.77.0.1"));
    const uint8_t request = 1;
    ASSERT_EQ(sendBytes(endpoint, &request, 1), 0);
    EXPECT_EQ(server.heardFrom(), ipv4("10.77.0.1"));
    server.speak(7);
    EXPECT_EQ(heard(endpoint), std::vector<uint8_t>{7});
}

// The group's route on the second interface (the default route on the
// first): the library answers to, joins and sends on the second.  When the
// name comes to mean the first interface's address (a host that moved), the
// membership and the sends follow it there.
TEST_F(HostAddress, TheGroupIsHeardAndSpokenToOnTheInterfaceOfTheAddressAndFollowsItWhenItChanges) {
    test::PeerHost first, second;
    ASSERT_TRUE(first.ready());
    ASSERT_TRUE(second.ready());
    ASSERT_TRUE(first.link("qtlib1", "10.77.1.1", "qtp1", "10.77.1.2"));
    ASSERT_TRUE(second.link("qtlib2", "10.77.2.1", "qtp2", "10.77.2.2"));
    ASSERT_TRUE(run("ip route add default via 10.77.1.2"));
    ASSERT_TRUE(run("ip route add 224.0.0.0/4 dev qtlib2"));
    test::HostFiles files(kHostName, kDesktopHosts);
    ASSERT_TRUE(files.ready());
    const GroupMember a(first, "10.77.1.2"), b(second, "10.77.2.2");

    ASSERT_EQ(openMulticast(endpoint, "224.3.3.3", kPort), kOpened);
    EXPECT_EQ(endpoint.localAddress, ipv4("10.77.2.1"));
    expectTheGroupOn(endpoint, ipv4("10.77.2.1"), b, a);

    files.rewriteHosts("127.0.0.1 localhost\n10.77.1.1 qapi-desktop\n");
    refreshLocalAddress(endpoint);
    EXPECT_EQ(endpoint.localAddress, ipv4("10.77.1.1"));
    expectTheGroupOn(endpoint, ipv4("10.77.1.1"), a, b);
}

}  // namespace
}  // namespace qapi
