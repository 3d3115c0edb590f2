#include "support/test_support.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace qapi::test {

::testing::AssertionResult isolatedNetwork() {
    // The interfaces of this process's own network namespace (sysfs may show
    // the host's).
    struct if_nameindex *names = if_nameindex();
    if (!names) return ::testing::AssertionFailure() << "cannot list the network interfaces";
    std::string foreign;
    for (struct if_nameindex *i = names; i->if_index != 0; ++i) {
        const std::string name = i->if_name;
        if (name != "lo" && name.rfind("qt", 0) != 0) foreign += name + " ";
    }
    if_freenameindex(names);
    if (foreign.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "refusing to multicast: this network namespace has "
                                         << foreign << "(run the test through tests/support/netns-run.sh)";
}

std::vector<QMessage> drainMessages() {
    std::vector<QMessage> out;
    QMessage m;
    while (qmsgPeekMessage(&m)) out.push_back(m);
    return out;
}

TestSocket::TestSocket(int type, bool ipv6) {
    fd = socket(ipv6 ? AF_INET6 : AF_INET, type, 0);
    if (ipv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin6_port);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    if (type == SOCK_STREAM) listen(fd, 4);
}

TestSocket::~TestSocket() {
    if (fd >= 0) close(fd);
}

GroupSender::GroupSender(uint16_t p) : port(p) {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int loop = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
}

GroupSender::~GroupSender() { close(fd); }

void GroupSender::send(const std::vector<uint8_t> &bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "224.3.3.3", &to.sin_addr);
    ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
              static_cast<ssize_t>(bytes.size()));
}

std::vector<uint8_t> stationRecord(StationRecordFields f) {
    std::vector<uint8_t> &body = f.body;
    while (body.size() % 4) body.push_back(0);
    std::vector<uint8_t> r;
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(f.destination >> (8 * i)));
    r.push_back(f.type);
    r.push_back(f.sub);
    r.push_back(f.extra);
    r.push_back(static_cast<uint8_t>(1 + body.size() / 4));
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

}  // namespace qapi::test
