// Layout of the payload records that the application reads.  On a 32-bit
// build the offsets are exactly the published ones (4-byte pointers); on a
// 64-bit build pointers widen and later fields take their natural offsets.
#include <cstddef>

#include "qapi.h"

namespace qapi {

constexpr bool kPointers32 = sizeof(void *) == 4;

static_assert(offsetof(QapiStatusPayload, state) == 0);
static_assert(offsetof(QapiStatusPayload, statusText) == (kPointers32 ? 4 : 8));
static_assert(sizeof(QapiStatusPayload) == (kPointers32 ? 8 : 16));

}  // namespace qapi

namespace qapi {

// The status snapshot: 64 bytes on a 32-bit build; on a 64-bit build the
// text pointer takes 8 bytes at offset 8 and everything after it moves by 8.
constexpr size_t kSnapshotShift = kPointers32 ? 0 : 8;
static_assert(offsetof(QapiStatusSnapshot, regState) == 0);
static_assert(offsetof(QapiStatusSnapshot, statusText) == 4 + (kPointers32 ? 0 : 4));
static_assert(offsetof(QapiStatusSnapshot, callState) == 8 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, eventValue) == 12 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, infoValue) == 16 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, canNewcall) == 20 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, isAlerting) == 22 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, canAnswer) == 23 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, canRecordStart) == 31 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, canPickup) == 34 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, indicator1) == 35 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, indicator3) == 37 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, stationId) == 40 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, regValues) == 44 + kSnapshotShift);
static_assert(offsetof(QapiStatusSnapshot, regShort) == 60 + kSnapshotShift);
static_assert(sizeof(QapiStatusSnapshot) == 64 + kSnapshotShift);

// The list of call or park lines: 33 pointers.
static_assert(sizeof(QapiLineList) == (kPointers32 ? 132 : 264));

}  // namespace qapi
