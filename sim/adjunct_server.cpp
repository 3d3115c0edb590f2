#include "sim/adjunct_server.h"

namespace qsim {

AdjunctServer::AdjunctServer(uint32_t address, uint16_t port) : socket_(udpSocket(address, port)) {
    say("routing adjunct on " + dotted(address) + ":" + std::to_string(port));
}

Watched AdjunctServer::watched() {
    return {socket_.fd(), [this] { drain(); }};
}

bool AdjunctServer::ask(adjunct::RouteRequest request) {
    if (!linked()) {
        say("adjunct: no link yet, route request not sent");
        return false;
    }
    request.id = nextId_++;
    sendTo(socket_.fd(), adjunct::routeRequest(request), peer_, peerPort_);
    ++asked_;
    say("adjunct: route request " + std::to_string(request.id) + ": " + std::to_string(request.numberA) + " -> " +
        std::to_string(request.numberB) + " digits " + request.digitsA + "/" + request.digitsB);
    return true;
}

void AdjunctServer::drain() {
    for (;;) {
        uint32_t source = 0;
        uint16_t sourcePort = 0;
        const Bytes d = receiveFrom(socket_.fd(), source, sourcePort);
        if (d.empty()) return;
        const std::optional<uint8_t> type = adjunct::typeOf(d.data(), d.size());
        if (type == adjunct::kKeepAlive) {
            if (source != peer_ || sourcePort != peerPort_) {
                say("adjunct: link from " + dotted(source) + ":" + std::to_string(sourcePort));
            }
            peer_ = source;
            peerPort_ = sourcePort;
            sendTo(socket_.fd(), adjunct::keepAliveReply(), source, sourcePort);
        } else if (const auto response = adjunct::parseRouteResponse(d.data(), d.size())) {
            ++answered_;
            say("adjunct: route response " + std::to_string(response->id) + ": digits \"" + response->digits +
                "\" value " + std::to_string(response->value));
        } else {
            say("adjunct: ignored a datagram of " + std::to_string(d.size()) + " bytes");
        }
    }
}

}  // namespace qsim
