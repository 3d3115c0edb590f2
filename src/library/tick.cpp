// The 100 ms tick: everything timed in the library happens here, in this
// order: the tick count, every datagram waiting on the station endpoint, the
// supervision of the station clients, the call-record feeds, the adjunct
// links.
#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "core/budget.h"
#include "core/stack.h"
#include "library/library.h"
#include "station/admission.h"
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
    // Every panel ignores any other broadcast: it is not offered to each.
    if (!stationIsMonitorStatus(record, length)) return;
    stationClients().forEach([&](StationClient &client) { stationOnMonitorStatus(client, record, length); });
}

constexpr StationRecordSink kStationSink{stationHandleHostRecord, stationOnParkList, toEveryPanel, true};
constexpr StationRecordSink kEveryClientSink{stationHandleHostRecordByEveryClient, stationOnParkList,
                                             toEveryPanel, true};

// What the feeds are sure of while the station records are read, whatever
// those post: some records of the running feeds in every tick.
constexpr uint32_t kFeedRecordsKept = 64;

uint32_t runningFeeds() {
    uint32_t feeds = 0;
    cmdrFeeds().forEach([&](const CmdrFeed &feed) { feeds += feed.state == kFeedRunning ? 1 : 0; });
    return feeds;
}

uint32_t liveLinks() {
    uint32_t links = 0;
    adjunctLinks().forEach(
        [&](const AdjunctLink &link) { links += link.state != LinkState::Failed ? 1 : 0; });
    return links;
}

// What the links may post: their failures' status notifications, and, but
// in their own part of the tick, their datagrams.
PostCost linksReserve(bool withDatagrams) {
    const uint32_t datagrams = withDatagrams ? static_cast<uint32_t>(kAdjunctDatagramsPerTick) : 0;
    return liveLinks() * (adjunctStatusCost() + datagrams * adjunctDatagramCost());
}

// What the feeds may post: their failures' status notifications, and, while
// the station records are read, some records.
PostCost feedsReserve(bool withRecords) {
    const uint32_t feeds = runningFeeds();
    const uint32_t kept = withRecords && feeds > 0 ? kFeedRecordsKept : 0;
    return feeds * cmdrStatusCost() + kept * cmdrRecordCost();
}

}  // namespace

const StationRecordSink &libraryStationSink() { return kStationSink; }
const StationRecordSink &libraryStationSinkAskingEveryClient() { return kEveryClientSink; }

void libraryTick() {
    ++stack().stackTick;
    // Everything this tick posts, from here to the next tick, shares one
    // budget; each part holds back what the parts after it need.
    budgetStartTick();
    StationEndpoint &station = stationEndpoint();
    if (station.open) {
        stationStartAdmission();
        budgetHoldBack(stationSupervisionReserve() + feedsReserve(true) + linksReserve(true));
        stationContinueAddressLookup(station, stack().stackTick);
        stationPumpDatagrams(station, stack().stackTick, kStationSink);
        budgetHoldBack(feedsReserve(true) + linksReserve(true));
        stationClients().forEach(stationTick);
    }
    // Feeds and adjunct links tick whether or not the station endpoint is open.
    budgetHoldBack(feedsReserve(false) + linksReserve(true));
    cmdrTickFeeds();
    budgetHoldBack(linksReserve(false));
    adjunctLinks().forEach(adjunctTick);
}

}  // namespace qapi
