// Start and stop of the library.
#include "core/stack.h"

#include "cmdr/feed.h"
#include "adjunct/link.h"
#include "platform/socket.h"
#include "qapi.h"
#include "station/client.h"
#include "station/park_table.h"

namespace qapi {

StackState &stack() {
    static StackState state;
    return state;
}

namespace {

void tickCallback() { runTick(); }

// Frees every handle and closes every socket.  Nothing is sent.
void releaseEveryHandle() {
    StackState &s = stack();
    releaseAllClients();
    if (s.stationOpen) {
        closeEndpoint(s.stationEndpoint);
        s.stationOpen = false;
    }
    releaseEveryFeed(s.registry);
    releaseAdjunctLinks();
    s.registry = HandleRegistry{};
}

}  // namespace

bool openStationEndpointIfNeeded() {
    StackState &s = stack();
    if (s.stationOpen) return true;
    if (openMulticast(s.stationEndpoint, kStationGroup, s.stationPort) != kOpened) return false;
    s.stationOpen = true;
    return true;
}

}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Stack_initialize(uint32_t port) {
    StackState &s = stack();
    if (s.initialised) releaseEveryHandle();
    s.registry = HandleRegistry{};
    resetParkTables();
    if (!s.initialised) {
        // One timer for the process: a timer left by a release is stopped
        // first, so re-initialising never makes the tick run twice as often.
        if (s.tickTimer != 0) plat::stopTimer(s.tickTimer);
        s.tickTimer = plat::startTimer(kTickPeriodMs, tickCallback);
        s.stackTick = kFirstStackTick;
        if (plat::startSocketLibrary() != 0) return 1;
    }
    s.initialised = true;
    s.stationPort = static_cast<uint16_t>(port & 0xFFFF);
    return 0;
}

void QAPI_CALL QAPI_Stack_release(void) {
    StackState &s = stack();
    if (s.initialised) releaseEveryHandle();
    plat::cleanupSocketLibrary();
    s.initialised = false;
    s.stationOpen = false;
}

}  // extern "C"
