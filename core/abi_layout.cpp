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
