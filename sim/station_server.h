// The station side of the server: one UDP socket on the station port,
// joined to the multicast group 224.3.3.3, through which the switchboard
// hears the stations and multicasts its records to them.
#pragma once

#include <cstdint>

#include "sim/sockets.h"
#include "sim/switchboard.h"

namespace qsim {

inline constexpr const char *kStationGroup = "224.3.3.3";

class StationServer {
public:
    StationServer(uint16_t port, Switchboard &board);
    Watched watched();
    // Multicasts what the switchboard produced and logs its notes.
    void send(const Output &out);

private:
    void drain();

    uint16_t port_;
    uint32_t group_;
    Switchboard &board_;
    Socket socket_;
};

}  // namespace qsim
