// The hosts file of a host that blocks advertising names through it: 400,000
// lines, with this host's name on 127.0.1.1 as Debian's installer writes it.
// The library's own tick looks this host's address up again every 10 s; the
// file is read again only when it changed, and then a slice at a time, so
// that no tick holds the application's thread for long.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "station/endpoint.h"
#include "support/netns.h"
#include "support/test_support.h"

namespace qapi {
namespace {

using test::run;

constexpr uint16_t kPort = 4160;
constexpr const char *kHostName = "qapi-desktop";
constexpr int kFillerLines = 400000;
// Far above what a slice of the file costs, far below what the whole file
// costs: only reading it all inside one tick breaks it.
constexpr double kLongestTickMs = 15;

uint32_t ipv4(const char *text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

std::string bigHostsFile(const std::string &last) {
    std::string text = "127.0.0.1 localhost\n127.0.1.1 qapi-desktop\n";
    text.reserve(static_cast<size_t>(kFillerLines) * 40);
    char line[64];
    for (int i = 0; i < kFillerLines; ++i) {
        std::snprintf(line, sizeof line, "0.0.0.0 ads-%d.tracker.example.net\n", i);
        text += line;
    }
    return text + last;
}

class HostsFileInTheTick : public test::ManualClockTest {
protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        ASSERT_TRUE(test::isolatedNetwork());
        // One interface with two addresses (one end of a veth pair whose
        // other end is up too): the group is routed through it and this
        // host's own datagrams come back to it.
        ASSERT_TRUE(run("ip link add qtlan type veth peer name qtother") && run("ip link set qtother up") &&
                    run("ip addr add 10.77.5.1/24 dev qtlan") && run("ip addr add 10.77.6.1/24 dev qtlan") &&
                    run("ip link set qtlan up") && test::linkActive("qtlan") &&
                    run("ip route replace 224.0.0.0/4 dev qtlan"));
    }
    void TearDown() override {
        QAPI_Stack_release();
        if (window) qmsgDestroyWindow(window);
        test::drainMessages();
        run("ip route replace 224.0.0.0/4 dev lo");
        run("ip link del qtlan");
        ManualClockTest::TearDown();
    }

    // One tick with a datagram waiting (the lookup runs on a datagram); what
    // it cost, in milliseconds of this thread's processor time (the kernel's
    // work for it included): whatever else the machine runs meanwhile.
    double tickWithDatagram(const test::GroupSender &sender) {
        sender.send(test::stationRecord({.destination = 0x01020304, .type = 0xC3}));
        EXPECT_TRUE(test::waitReadable(stationEndpoint().endpoint.socket, 5000));
        const double start = threadMs();
        test::runTicks(1);
        const double took = threadMs() - start;
        test::drainMessages();
        return took;
    }
    static double threadMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
    }

    QWindow window = 0;
};

TEST_F(HostsFileInTheTick, AHugeHostsFileIsReadAgainOnlyWhenItChangedAndThenNoTickHoldsTheThreadLong) {
    test::HostFiles files(kHostName, bigHostsFile(""));
    ASSERT_TRUE(files.ready());
    ASSERT_EQ(QAPI_Stack_initialize(kPort), 0);
    window = qmsgCreateWindow();
    ASSERT_NE(QAPI_Client_start(window, 17), nullptr);
    // The name means loopback: the interface of the group's route answers.
    ASSERT_EQ(stationEndpoint().endpoint.localAddress, ipv4("10.77.5.1"));
    const test::GroupSender sender(kPort);

    double longest = 0;
    for (int t = 0; t < 250; ++t) longest = std::max(longest, tickWithDatagram(sender));
    const double unchanged = longest;

    // The name moves to the other address, at the end of the file.
    files.rewriteHosts(bigHostsFile("10.77.6.1 qapi-desktop\n"));
    int ticks = 0;
    longest = 0;
    for (; ticks < 600 && stationEndpoint().endpoint.localAddress != ipv4("10.77.6.1"); ++ticks) {
        longest = std::max(longest, tickWithDatagram(sender));
    }
    std::printf("longest tick: %.2f ms with the file unchanged, %.2f ms while it is read again (%d ticks)\n",
                unchanged, longest, ticks);
    EXPECT_LT(unchanged, kLongestTickMs);
    EXPECT_LT(longest, kLongestTickMs);
    EXPECT_EQ(stationEndpoint().endpoint.localAddress, ipv4("10.77.6.1"));
    // Whatever lies between, the datagrams reach the endpoint on its new address.
    const double last = tickWithDatagram(sender);
    EXPECT_LT(last, kLongestTickMs);
}

}  // namespace
}  // namespace qapi
