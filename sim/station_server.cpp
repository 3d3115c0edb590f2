#include "sim/station_server.h"

namespace qsim {

StationServer::StationServer(uint16_t port, Switchboard &board)
    : port_(port), group_(parseIpv4(kStationGroup)), board_(board), socket_(groupSocket(kStationGroup, port)) {
    say("station protocol on " + std::string(kStationGroup) + " port " + std::to_string(port));
}

Watched StationServer::watched() {
    return {socket_.fd(), [this] { drain(); }};
}

void StationServer::drain() {
    for (;;) {
        uint32_t source = 0;
        uint16_t sourcePort = 0;
        const Bytes datagram = receiveFrom(socket_.fd(), source, sourcePort);
        if (datagram.empty()) return;
        send(board_.onDatagram(datagram.data(), datagram.size(), source));
    }
}

void StationServer::send(const Output &out) {
    for (const std::string &line : out.notes) say(line);
    if (!out.datagram.empty()) sendTo(socket_.fd(), out.datagram, group_, port_);
}

}  // namespace qsim
