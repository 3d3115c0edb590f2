// The 100 ms tick: everything timed in the library happens here, in this
// order: the tick count, every datagram waiting on the station endpoint, the
// supervision of the station clients, the call-record feeds, the adjunct
// links.
#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "core/framing.h"
#include "core/stack.h"

namespace qapi {
namespace {

// Station records go nowhere until station clients can take them.
constexpr StationRecordSink kStationSink{nullptr, nullptr, nullptr};

}  // namespace

void runTick() {
    StackState &s = stack();
    ++s.stackTick;
    if (s.stationOpen) {
        pumpStationDatagrams(s.stationEndpoint, s.stationBuffer, kStationBufferSize, kStationSink);
    }
    // Feeds and adjunct links tick whether or not the station endpoint is open.
    for (CmdrFeed *feed : s.registry.feeds) {
        if (feed) cmdrTick(*feed);
    }
    for (AdjunctLink *link : s.registry.links) {
        if (link) adjunctTick(*link);
    }
}

}  // namespace qapi
