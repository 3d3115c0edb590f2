#include "sim/adjunct_server.h"

namespace qsim {

AdjunctServer::AdjunctServer(uint32_t address, uint16_t port) : socket_(udpSocket(address, port)) {
    say("routing adjunct on " + dotted(address) + ":" + std::to_string(port));
}

void AdjunctServer::collect(std::vector<Watched> &out) {
    if (socket_.fd() >= 0) out.push_back({socket_.fd(), [this] { drain(); }});
}

void AdjunctServer::behave(const std::string &how) {
    if (how == "vanish") {
        socket_ = Socket();
        say("adjunct: socket closed");
        return;
    }
    deaf_ = how == "deaf";
    say(deaf_ ? "adjunct: deaf to the link from now on" : "adjunct: hearing the link again");
}

bool AdjunctServer::ask(adjunct::RouteRequest request) {
    if (!linked() || socket_.fd() < 0) {
        say("adjunct: no link, route request not sent");
        return false;
    }
    request.id = nextId_++;
    sendTo(socket_.fd(), adjunct::routeRequest(request), peer_, peerPort_);
    ++asked_;
    say("adjunct: route request " + std::to_string(request.id) + ": " + std::to_string(request.numberA) +
        " -> " + std::to_string(request.numberB) + " digits " + request.digitsA + "/" + request.digitsB);
    return true;
}

void AdjunctServer::drain() {
    for (;;) {
        uint32_t source = 0;
        uint16_t sourcePort = 0;
        const Bytes d = receiveFrom(socket_.fd(), source, sourcePort);
        if (d.empty()) return;
        if (deaf_) {
            say("adjunct: deaf: " + std::to_string(d.size()) + " bytes from " + dotted(source) + " unheard");
            continue;
        }
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
