// The console's JSON form of every notification's payload: the members of
// one object, each field named as in qapi.h.  Built on the public header only.
#pragma once

#include <cstdint>

#include "console/json.h"
#include "qapi.h"

namespace qconsole {

// Every field, flags as true/false; regStateName names the state.
JsonObject snapshotJson(const QapiStatusSnapshot &s);
// "lines": the texts of a call or park list, in order.
JsonObject lineListJson(const QapiLineList *list);
JsonObject recordJson(const QapiCmdrRecordPayload &r);
JsonObject routeRequestJson(const QapiRouteRequestPayload &r);
// state, stateName (from `names`, else the number as text) and statusText.
JsonObject statusJson(const QapiStatusPayload &p, const char *const *names, int count);
// The 8-byte extension status payload: extension, status.
JsonObject extensionJson(const void *payload);
// value and character: a one-character text, or null for 255 (none).
JsonObject characterJson(intptr_t value);

}  // namespace qconsole
