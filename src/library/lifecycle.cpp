// Start and stop of the library.
#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "core/budget.h"
#include "core/stack.h"
#include "library/library.h"
#include "platform/messaging.h"
#include "platform/socket.h"
#include "qapi.h"
#include "station/client.h"
#include "station/endpoint.h"
#include "station/park_table.h"

namespace qapi {
namespace {

void tickCallback() { libraryTick(); }

// Frees every handle, table by table in slot order, and closes every socket.
// Nothing is sent.
void releaseEveryHandle() {
    stationReleaseClients();
    stationCloseEndpoint();
    cmdrFeeds().releaseAll(cmdrCloseFeed);
    adjunctLinks().releaseAll(adjunctCloseLink);
}

}  // namespace
}  // namespace qapi

using namespace qapi;

extern "C" {

int QAPI_CALL QAPI_Stack_initialize(uint32_t port) {
    StackState &s = stack();
    if (s.initialised) releaseEveryHandle();
    stationResetParkTables();
    if (!s.initialised) {
        // One timer for the process: a timer left by a failed start is
        // stopped first, so re-initialising never makes the tick run twice as
        // often.
        if (s.tickTimer != 0) plat::stopTimer(s.tickTimer);
        s.tickTimer = plat::startTimer(kTickPeriodMs, tickCallback);
        s.stackTick = kFirstStackTick;
        if (plat::startSocketLibrary() != 0) return 1;
    }
    s.initialised = true;
    budgetStartTick();
    stationEndpoint().port = static_cast<uint16_t>(port & 0xFFFF);
    return 0;
}

void QAPI_CALL QAPI_Stack_release(void) {
    StackState &s = stack();
    if (s.initialised) releaseEveryHandle();
    // No tick runs while the library is released: a library unloaded after
    // its release never has its timer fire into freed code.
    if (s.tickTimer != 0) plat::stopTimer(s.tickTimer);
    s.tickTimer = 0;
    plat::cleanupSocketLibrary();
    s.initialised = false;
    stationEndpoint().open = false;
}

}  // extern "C"
