#include "support/test_support.h"

#include <cstring>
#include <fstream>

namespace qapi::test {

::testing::AssertionResult isolatedNetwork() {
    // The interfaces of the calling thread's network namespace (sysfs may
    // show the host's): the name that starts each line after two of headings.
    std::ifstream devices(hostFile("/proc/thread-self/net/dev"));
    if (!devices) return ::testing::AssertionFailure() << "cannot list the network interfaces";
    std::string line, foreign;
    for (int row = 0; std::getline(devices, line); ++row) {
        if (row < 2) continue;
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        const std::string name = line.substr(start, line.find(':') - start);
        if (name != "lo" && name.rfind("qt", 0) != 0) foreign += name + " ";
    }
    if (foreign.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "refusing to multicast: this network namespace has " << foreign
                                         << "(run the test through tests/support/netns-run.sh)";
}

std::string hostFile(const char *path) {
#if defined(_WIN32)
    return std::string("Z:") + path;
#else
    return path;
#endif
}

bool fillQueue(QWindow window) {
    for (int i = 0; i < 100000; ++i) {
        if (!qmsgPostMessage(window, 1, 0, 0)) return true;
    }
    return false;
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
    if (fd != plat::kNoSocket) closeSocket(fd);
}

GroupSender::GroupSender(uint16_t p) : port(p) {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int loop = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
}

GroupSender::~GroupSender() { closeSocket(fd); }

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
