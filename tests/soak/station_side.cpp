#include "soak/station_side.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "station/endpoint.h"

namespace qapi::soak {
namespace {

constexpr size_t kDatagramLimit = kStationBufferSize;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

size_t recordLength(const uint8_t *record) { return 4 + 4 * size_t{record[7]}; }

}  // namespace

StationSide::StationSide(Ledger &ledger, uint16_t stationPort) : ledger_(ledger), stationPort_(stationPort) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a = loopback(0);
    ::bind(socket_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    // Room for the registrations of every station at once; the soak checks at
    // its end that no datagram was dropped anywhere.
    const int room = 8 << 20;
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
}

StationSide::~StationSide() { ::close(socket_); }

bool StationSide::attach() {
    StationEndpoint &station = stationEndpoint();
    if (!station.open) return false;
    sockaddr_in here{};
    socklen_t length = sizeof here;
    if (::getsockname(socket_, reinterpret_cast<sockaddr *>(&here), &length) != 0) return false;
    station.endpoint.groupAddress = here;
    host_ = station.endpoint.localAddress;
    qsim::SwitchboardConfig config;
    config.firstFreeId = kFirstStation + static_cast<int32_t>(kStations);
    config.hostAddress = host_;
    board_ = std::make_unique<qsim::Switchboard>(config);
    return true;
}

bool StationSide::libraryBehind() const {
    const StationEndpoint &station = stationEndpoint();
    if (!station.open) return false;
    pollfd waiting{station.endpoint.socket, POLLIN, 0};
    return station.batchNext < station.batchCount || ::poll(&waiting, 1, 0) == 1;
}

void StationSide::serve() {
    uint8_t datagram[2048];
    for (;;) {
        const ssize_t n = ::recv(socket_, datagram, sizeof datagram, 0);
        if (n < 0) return;
        if (!silent_) send(board_->onDatagram(datagram, static_cast<size_t>(n), host_));
    }
}

void StationSide::send(const qsim::Output &out) {
    if (!silent_) pending_.insert(pending_.end(), out.datagram.begin(), out.datagram.end());
}

void StationSide::flush() {
    const sockaddr_in to = loopback(stationPort_);
    size_t start = 0;
    bool sent = false;
    while (start < pending_.size()) {
        size_t end = start;
        while (end < pending_.size() && end + recordLength(&pending_[end]) - start <= kDatagramLimit) {
            ledger_.take(&pending_[end], recordLength(&pending_[end]), host_);
            end += recordLength(&pending_[end]);
        }
        if (end == start) return pending_.clear();  // no server record is that long
        ::sendto(socket_, &pending_[start], end - start, 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
        ++datagrams_;
        sent = true;
        start = end;
    }
    pending_.clear();
    if (!sent) return;
    pollfd arrived{stationEndpoint().endpoint.socket, POLLIN, 0};
    ::poll(&arrived, 1, 5000);
}

}  // namespace qapi::soak
