#include "station/admission.h"

#include "core/scratch.h"
#include "core/wire.h"
#include "qapi.h"
#include "station/call_entry.h"
#include "station/client.h"
#include "station/monitor_panel.h"
#include "station/park_table.h"
#include "station/protocol.h"

namespace qapi {
namespace {

constexpr PostCost kNothing{0, 0};
constexpr PostCost kSnapshot{scratchCostOf<QapiStatusSnapshot>(), 1};
constexpr PostCost kText{scratchCost(kTextBlockSize), 1};
constexpr PostCost kDigitEcho = PostCost{0, 1} + kText + kSnapshot;  // digit, dialed text, snapshot
constexpr uint32_t kLineListBytes = scratchCostOf<QapiLineList>();
constexpr PostCost kCallList{kLineListBytes + kCallEntries * scratchCost(kTextBlockSize), 1};
constexpr uint32_t kParkListBytes = kLineListBytes + kParkEntries * scratchCost(kTextBlockSize);
constexpr PostCost kExtension{scratchCostOf<QapiExtensionStatus>(), 1};

// The most one client may be posted for a record of this type.
constexpr PostCost perClientCost(uint8_t type) {
    switch (type) {
    case kReevaluateType:
    case kReevaluateType2:
    case kRegistrationReplyType:
    case kRegistrationRefusedType:
    case kStatusReplyType:
    case kFlagsUpdateType:
    case kInfoValueType:
    case kCallEventType:  // a snapshot, or a key
        return kSnapshot;
    case kStationEventType:
        return kDigitEcho;
    case kNumberInfoType:
    case kDisplayTextType:
        return kText;
    case kCallEntryType:
        return kCallList;
    default:  // acknowledgements and unknown types post nothing
        return kNothing;
    }
}

// The clients a record for this host other than a re-evaluation can reach:
// a station's client and one waiting for its identifier for a registration
// reply, else the one client of the station.
constexpr uint32_t clientsReachedAtMost(uint8_t type) { return type == kRegistrationReplyType ? 2 : 1; }

// The clients a record for this host can reach: every client for the
// re-evaluations.
uint32_t clientsReached(uint8_t type) {
    if (type == kReevaluateType || type == kReevaluateType2) return stationAdmission().liveClients;
    return clientsReachedAtMost(type);
}

// The most a record for this host other than a re-evaluation may post, in
// bytes (a call list) and in messages (a digit echo: the digit, the dialed
// text and a snapshot), whatever its type: the host credit counts on it.
constexpr PostCost worstHostRecord() {
    PostCost worst{0, 0};
    for (unsigned type = 0; type <= 0xFF; ++type) {
        if (type == kReevaluateType || type == kReevaluateType2) continue;
        const auto t = static_cast<uint8_t>(type);
        const PostCost cost = clientsReachedAtMost(t) * perClientCost(t);
        worst = {cost.bytes > worst.bytes ? cost.bytes : worst.bytes,
                 cost.posts > worst.posts ? cost.posts : worst.posts};
    }
    return worst;
}
constexpr PostCost kWorstHostRecord = worstHostRecord();

struct Charge {
    PostCost cost;
    uint64_t work;
};

Charge chargeFor(RecordRoute route, const uint8_t *record, size_t length) {
    const StationAdmission &a = stationAdmission();
    switch (route) {
    case RecordRoute::ForHost: {
        if (length < RecordHeader::kStationRecordSize) return {kNothing, 1};
        const uint8_t type = record[RecordHeader::kType];
        const uint32_t clients = clientsReached(type);
        return {clients * perClientCost(type), clients};
    }
    case RecordRoute::ParkList:
        return {PostCost{kParkListBytes, a.liveClients}, a.liveClients};
    case RecordRoute::Broadcast:
        if (!stationIsMonitorStatus(record, length)) return {kNothing, 1};
        return {a.liveClients * kExtension, a.statusScan};
    }
    return {kNothing, 1};
}

}  // namespace

void stationStartAdmission() {
    StationAdmission &a = stationAdmission();
    a.work = 0;
    a.hostCredit = 0;
    a.liveClients = 0;
    stationClients().forEach([&](const StationClient &) { ++a.liveClients; });
    a.statusScan = stationMonitorScanCost();
}

bool stationWeighRecord(RecordRoute route, const uint8_t *record, size_t length) {
    StationAdmission &a = stationAdmission();
    const bool plainHostRecord =
        route == RecordRoute::ForHost && length >= RecordHeader::kStationRecordSize &&
        record[RecordHeader::kType] != kReevaluateType && record[RecordHeader::kType] != kReevaluateType2;
    if (plainHostRecord && a.hostCredit == 0) {
        a.hostCredit = budgetAffords(kWorstHostRecord);
        if (a.hostCredit > 0 && (a.work == 0 || a.work + 2 <= kStationWorkPerTick)) {
            --a.hostCredit;
            a.work += 2;
            return true;
        }
    }
    // Any other record may post more than the credit counted on.
    a.hostCredit = 0;
    Charge charge = chargeFor(route, record, length);
    // The first record of a tick is always worked on: no record costs more
    // than the tick's work allows, and none may wait for ever.
    if (a.work != 0 && a.work + charge.work > kStationWorkPerTick) return false;
    if (!budgetAllows(charge.cost)) {
        // A status goes only to the clients that watch its extension: when
        // posting it to every client would not fit, count them.
        if (route != RecordRoute::Broadcast || charge.cost.posts == 0) return false;
        const int32_t extension = readI32le(record + ExtensionStatusRecord::kExtension);
        charge.cost = stationWatchersOf(extension) * kExtension;
        charge.work += a.statusScan;
        if (!budgetAllows(charge.cost)) return false;
    }
    a.work += charge.work;
    return true;
}

PostCost stationSupervisionReserve() { return stationAdmission().liveClients * (PostCost{0, 1} + kSnapshot); }

PostCost stationSnapshotCost() { return kSnapshot; }

PostCost stationTextCost() { return kText; }

}  // namespace qapi
