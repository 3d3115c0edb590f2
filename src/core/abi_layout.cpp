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

// No pointers: one layout for both builds.
static_assert(offsetof(QapiRouteRequestPayload, handle) == 0);
static_assert(offsetof(QapiRouteRequestPayload, second) == 4);
static_assert(offsetof(QapiRouteRequestPayload, minute) == 6);
static_assert(offsetof(QapiRouteRequestPayload, hour) == 8);
static_assert(offsetof(QapiRouteRequestPayload, day) == 10);
static_assert(offsetof(QapiRouteRequestPayload, month) == 12);
static_assert(offsetof(QapiRouteRequestPayload, year) == 14);
static_assert(offsetof(QapiRouteRequestPayload, numberB) == 16);
static_assert(offsetof(QapiRouteRequestPayload, numberA) == 20);
static_assert(offsetof(QapiRouteRequestPayload, textA) == 24);
static_assert(offsetof(QapiRouteRequestPayload, textB) == 56);
static_assert(sizeof(QapiRouteRequestPayload) == 88);

}  // namespace qapi

// The call record holds no pointer: the same layout on both builds.
namespace qapi {

static_assert(offsetof(QapiCmdrRecordPayload, kindLetter) == 0);
static_assert(offsetof(QapiCmdrRecordPayload, second) == 2);
static_assert(offsetof(QapiCmdrRecordPayload, minute) == 4);
static_assert(offsetof(QapiCmdrRecordPayload, hour) == 6);
static_assert(offsetof(QapiCmdrRecordPayload, day) == 8);
static_assert(offsetof(QapiCmdrRecordPayload, month) == 10);
static_assert(offsetof(QapiCmdrRecordPayload, year) == 12);
static_assert(offsetof(QapiCmdrRecordPayload, duration) == 16);
static_assert(offsetof(QapiCmdrRecordPayload, numberA) == 20);
static_assert(offsetof(QapiCmdrRecordPayload, numberB) == 24);
static_assert(offsetof(QapiCmdrRecordPayload, numberC) == 28);
static_assert(offsetof(QapiCmdrRecordPayload, texts.dial.textA) == 32);
static_assert(offsetof(QapiCmdrRecordPayload, texts.dial.textB) == 64);
static_assert(offsetof(QapiCmdrRecordPayload, texts.dial.textC) == 96);
static_assert(offsetof(QapiCmdrRecordPayload, texts.text) == 32);
static_assert(offsetof(QapiCmdrRecordPayload, wordA) == 128);
static_assert(offsetof(QapiCmdrRecordPayload, wordB) == 132);
static_assert(offsetof(QapiCmdrRecordPayload, valueA) == 136);
static_assert(offsetof(QapiCmdrRecordPayload, valueB) == 140);
static_assert(offsetof(QapiCmdrRecordPayload, addressText) == 144);
static_assert(offsetof(QapiCmdrRecordPayload, numberD) == 192);
static_assert(offsetof(QapiCmdrRecordPayload, serverAddressText) == 212);
static_assert(sizeof(QapiCmdrRecordPayload) == 260);

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

namespace qapi {

// The status of a watched extension holds no pointer: 8 bytes on both builds.
static_assert(offsetof(QapiExtensionStatus, extension) == 0);
static_assert(offsetof(QapiExtensionStatus, status) == 4);
static_assert(sizeof(QapiExtensionStatus) == 8);

}  // namespace qapi
