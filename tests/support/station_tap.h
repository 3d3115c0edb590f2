// Sees every datagram the library sends on the station endpoint.  The tap
// points the endpoint's destination at a loopback socket of its own, and
// counts the UDP datagrams sent from this network namespace so that it knows
// exactly how many to wait for: what it returns after a tick is what that
// tick sent, however late the kernel delivers it.
#pragma once

#include <cstdint>
#include <vector>

#include "support/test_support.h"

namespace qapi::test {

// UDP datagrams sent so far from the calling thread's network namespace.
uint64_t udpDatagramsSent();

using Datagram = std::vector<uint8_t>;

// Waits (bounded) until a datagram waits on the library's station endpoint,
// so that the next tick reads it.
::testing::AssertionResult stationDatagramWaiting();

class StationTap {
public:
    // The station endpoint must be open (a client started).
    StationTap();
    // Every datagram sent since the last call, oldest first.
    std::vector<Datagram> take();
    // Counts every send so far as seen: call it right after datagrams the
    // test sent itself, when everything the library sent has been taken.
    void resync();

private:
    TestSocket socket_;
    uint64_t seen_;
};

}  // namespace qapi::test
