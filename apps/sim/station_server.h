// The station side of the server: one UDP socket on the station port,
// joined to the multicast group 224.3.3.3, through which the switchboard
// hears the stations and multicasts its records to them.  What passes that
// socket, both ways, may meet the faults the command line asks for.
#pragma once

#include <cstdint>
#include <random>

#include "sim/faults.h"
#include "sim/sockets.h"
#include "sim/switchboard.h"

namespace qsim {

inline constexpr const char *kStationGroup = "224.3.3.3";

class StationServer {
public:
    StationServer(uint16_t port, Switchboard &board, const FaultSettings &faults, uint32_t seed);
    Watched watched();
    // Multicasts what the switchboard produced and logs its notes.
    void send(const Output &out);
    // Starts (true: those of the command line) or stops the faults.
    void setFaults(bool on);
    // Delivers the held datagrams that are due; milliseconds until the next
    // one is (-1: none held).
    int release();
    // Multicasts `count` datagrams that no station may take: longer than a
    // station reads, records for another host or for stations nobody runs,
    // and random bytes.
    void flood(uint32_t count);
    // One line per direction: what the faults did.
    void logFaults() const;

private:
    void drain();

    uint16_t port_;
    uint32_t group_;
    Switchboard &board_;
    Socket socket_;
    FaultSettings faults_;
    FaultyPath in_;
    FaultyPath out_;
    std::mt19937 floodRandom_;
};

}  // namespace qsim
