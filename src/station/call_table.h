// The call table of a station client: the calls the server reports one at a
// time, kept in 32 slots and shown to the application as text lines
// (QAPI_NOTIFY_CALL_LIST) after every report that changes or adds an entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qapi.h"
#include "station/call_entry.h"

namespace qapi {

struct StationClient;

inline constexpr size_t kCallLineLength = 37;

// Updates the entry with the same number, or takes a free slot for a new
// call that carries an identifier; then renders and posts the list.
void stationUpdateCallTable(StationClient &client, const CallEntry &entry);

// The list of the entries in a kept state, in slot order, cut from the
// scratch arena; entries in any other state are cleared.
QapiLineList *stationRenderCallList(StationClient &client);

// The first entry in use whose number is `number`, or null.
const CallEntry *stationFindCall(const StationClient &client, uint16_t number);

}  // namespace qapi
