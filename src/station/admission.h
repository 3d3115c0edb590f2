// Whether the tick can take a station record now.  Before a record is handed
// on, its costliest outcome (what its handlers may cut and post) must fit the
// tick's budget, and the work of handing records to clients stays bounded in
// every tick, whatever the network sends.  A record not taken waits, with
// everything behind it, for the next tick.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/budget.h"
#include "station/framing.h"

namespace qapi {

// Work units one tick may spend on handing records to clients: a unit is one
// client offered a record, or one watched slot looked through for a status.
inline constexpr uint64_t kStationWorkPerTick = uint64_t{1} << 21;

// What the tick's reading has spent and may still take.
struct StationAdmission {
    uint64_t work;         // spent in this tick
    uint32_t liveClients;  // as the tick's reading began
    uint32_t statusScan;   // slots one status broadcast looks through
    // Records for this host (but re-evaluations) that surely fit in what is
    // left of the budget, however they post: taken without a closer look.
    uint32_t hostCredit;
};
inline StationAdmission &stationAdmission() {
    static StationAdmission admission;
    return admission;
}

// A new tick's reading: the work count restarts, and what a status broadcast
// and a record for every client cost is taken from the clients as they are.
void stationStartAdmission();
// The closer look of stationAdmitRecord.
bool stationWeighRecord(RecordRoute route, const uint8_t *record, size_t length);

// True when the record may be handed on now (and then its work is counted).
// Most records are for this host and reach one client: while the budget
// surely holds the costliest of them, they are counted, not weighed.
inline bool stationAdmitRecord(RecordRoute route, const uint8_t *record, size_t length) {
    StationAdmission &a = stationAdmission();
    if (route == RecordRoute::ForHost && a.hostCredit > 0 && a.work + 2 <= kStationWorkPerTick &&
        length >= RecordHeader::kStationRecordSize && record[RecordHeader::kType] != kReevaluateType &&
        record[RecordHeader::kType] != kReevaluateType2) {
        --a.hostCredit;
        a.work += 2;
        return true;
    }
    return stationWeighRecord(route, record, length);
}

// What the supervision of every live client may post in one tick (a
// heartbeat and a snapshot each): held back while the records are read.
PostCost stationSupervisionReserve();
// What one client's snapshot costs.
PostCost stationSnapshotCost();
// What a dialed-text notification costs.
PostCost stationTextCost();

}  // namespace qapi
