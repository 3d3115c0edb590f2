// The call server's station side in the soak: the simulator's switchboard
// behind a UDP socket of the soak's own on 127.0.0.1.  The library's station
// endpoint is pointed at it once open; it answers straight to the endpoint's
// port, packing the records of a tick into datagrams of at most 1024 bytes,
// and notes every record in the ledger as it goes out.  While silent it
// hears nothing and says nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/switchboard.h"
#include "soak/ledger.h"

namespace qapi::soak {

class StationSide {
public:
    StationSide(Ledger &ledger, uint16_t stationPort);
    ~StationSide();
    StationSide(const StationSide &) = delete;
    StationSide &operator=(const StationSide &) = delete;

    // Once the library's station endpoint is open: points it here and learns
    // the address the library takes as its own.  False when that fails.
    bool attach();
    // Answers every datagram the library sent since the last call.
    void serve();
    // Records the world makes the server send (a ring, the far end
    // answering ...), sent with the next flush.  Only while not silent.
    void send(const qsim::Output &out);
    // Sends what was gathered and waits until the first datagram has reached
    // the library's endpoint, so that the next tick reads it.
    void flush();

    // True while the library has records of the server's waiting that it has
    // not handed on yet (its tick's budget ran out before them).
    bool libraryBehind() const;

    void setSilent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    qsim::Switchboard &board() { return *board_; }
    uint64_t datagramsSent() const { return datagrams_; }
    uint32_t host() const { return host_; }

private:
    Ledger &ledger_;
    uint16_t stationPort_;
    int socket_ = -1;
    uint32_t host_ = 0;
    bool silent_ = false;
    std::unique_ptr<qsim::Switchboard> board_;
    qsim::Bytes pending_;  // whole records, back to back
    uint64_t datagrams_ = 0;
};

}  // namespace qapi::soak
