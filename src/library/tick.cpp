// The 100 ms tick: everything timed in the library happens here, in this
// order: the tick count, every datagram waiting on the station endpoint, the
// supervision of the station clients, the call-record feeds, the adjunct
// links.
#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "core/stack.h"
#include "library/library.h"
#include "station/client.h"
#include "station/client_index.h"
#include "station/dispatch.h"
#include "station/endpoint.h"
#include "station/monitor_panel.h"
#include "station/park_table.h"
#include "station/supervise.h"

namespace qapi {
namespace {

// A broadcast other than the park list reaches every live client's panel, in
// slot order; the park list goes once to the process-wide park table.
void toEveryPanel(const uint8_t *record, size_t length) {
    stationClients().forEach([&](StationClient &client) { stationOnMonitorStatus(client, record, length); });
}

constexpr StationRecordSink kStationSink{stationHandleHostRecord, stationOnParkList, toEveryPanel};
constexpr StationRecordSink kEveryClientSink{stationHandleHostRecordByEveryClient, stationOnParkList,
                                             toEveryPanel};

}  // namespace

const StationRecordSink &libraryStationSink() { return kStationSink; }
const StationRecordSink &libraryStationSinkAskingEveryClient() { return kEveryClientSink; }

void libraryTick() {
    ++stack().stackTick;
    StationEndpoint &station = stationEndpoint();
    if (station.open) {
        stationPumpDatagrams(station, stack().stackTick, kStationSink);
        stationClients().forEach(stationTick);
    }
    // Feeds and adjunct links tick whether or not the station endpoint is open.
    cmdrFeeds().forEach(cmdrTick);
    adjunctLinks().forEach(adjunctTick);
}

}  // namespace qapi
