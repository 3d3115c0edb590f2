// The routing adjunct's server side: a UDP socket that answers the link's
// keep-alives, sends route requests to the link it last heard from, and
// logs the responses.  It can stop hearing the link (the way to the server
// lost) and close its socket (the server gone: the port then refuses
// datagrams).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/adjunct_wire.h"
#include "sim/sockets.h"

namespace qsim {

class AdjunctServer {
public:
    AdjunctServer(uint32_t address, uint16_t port);
    void collect(std::vector<Watched> &out);
    // "deaf": take in nothing the link sends, though route requests still go
    // out; "hear": take it in again; "vanish": close the socket for good.
    void behave(const std::string &how);
    // Sends a route request with the next id; false when no link was heard yet.
    bool ask(adjunct::RouteRequest request);
    bool linked() const { return peerPort_ != 0; }
    uint32_t unanswered() const { return asked_ > answered_ ? asked_ - answered_ : 0; }

private:
    void drain();

    Socket socket_;
    uint32_t peer_ = 0;
    uint16_t peerPort_ = 0;
    uint32_t nextId_ = 1;
    uint32_t asked_ = 0;
    uint32_t answered_ = 0;
    bool deaf_ = false;
};

}  // namespace qsim
