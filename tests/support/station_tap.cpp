#include "support/station_tap.h"

#include "station/endpoint.h"
#include "support/udp_counters.h"

namespace qapi::test {

uint64_t udpDatagramsSent() {
    const int64_t sent = udpCounter(hostFile("/proc/thread-self/net/snmp"), "OutDatagrams");
    if (sent < 0) ADD_FAILURE() << "no UDP counters in /proc/thread-self/net/snmp";
    return sent < 0 ? 0 : static_cast<uint64_t>(sent);
}

::testing::AssertionResult stationDatagramWaiting() {
    if (waitReadable(stationEndpoint().endpoint.socket, 5000)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no datagram reached the station endpoint";
}

StationTap::StationTap() : socket_(SOCK_DGRAM), seen_(udpDatagramsSent()) {
    sockaddr_in &to = stationEndpoint().endpoint.groupAddress;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(socket_.port);
}

std::vector<Datagram> StationTap::take() {
    const uint64_t sent = udpDatagramsSent();
    std::vector<Datagram> out;
    for (; seen_ < sent; ++seen_) {
        if (!waitReadable(socket_.fd, 5000)) {
            ADD_FAILURE() << "a datagram the library sent did not arrive";
            break;
        }
        Datagram d(2048);
        const ssize_t n = recv(socket_.fd, d.data(), d.size(), 0);
        d.resize(n > 0 ? static_cast<size_t>(n) : 0);
        out.push_back(d);
    }
    seen_ = sent;
    return out;
}

void StationTap::resync() { seen_ = udpDatagramsSent(); }

}  // namespace qapi::test
