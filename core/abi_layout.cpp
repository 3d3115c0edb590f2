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
