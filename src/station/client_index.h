// Which station clients a record for this host can concern.  The live
// clients are indexed by station identifier (a sorted table of identifier and
// slot, one entry per client), kept in step when a client starts or stops and
// when it takes the identifier of a registration reply, so that a record
// reaches the clients of the station it names instead of every client in turn.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

struct StationClient;

// Kept in step by the client table's owners: a client in `slot` started with
// `stationId`, stopped, or every client went.
void stationIndexAdd(int32_t stationId, size_t slot);
void stationIndexRemove(size_t slot);
void stationIndexClear();
// The client in `slot` now has the identifier `stationId`.
void stationIndexChange(size_t slot, int32_t stationId);

// Hands a record for this host of `length` bytes to stationHandleRecord for
// each client whose handling may act on it, in slot order: every client for
// the re-evaluations (types 4 and 9); for a registration reply, the clients of
// the station it names and those still waiting for an identifier; for every
// other record, the clients of the station it names.  The clients left out
// would ignore the record.
void stationHandleHostRecord(const uint8_t *record, size_t length);
// The same by asking every client in slot order, each deciding for itself.
void stationHandleHostRecordByEveryClient(const uint8_t *record, size_t length);

}  // namespace qapi
