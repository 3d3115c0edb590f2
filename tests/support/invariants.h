// What every notification payload and every record of the library must
// satisfy, whatever input it was given: shared by the randomised suites, the
// fuzz targets and the soak.  Each check reads the payload whole, as an
// application would (texts to their NUL, line lists to their null), and
// returns what is wrong with it, or "" when nothing is.  No GoogleTest here:
// the fuzz targets and the soak are programs of their own.
#pragma once

#include <cstddef>
#include <string>

#include "adjunct/link.h"
#include "cmdr/record.h"
#include "qapi.h"
#include "station/client.h"
#include "support/messages.h"

namespace qapi::test {

std::string snapshotProblem(const QapiStatusSnapshot &s);
std::string stationClientProblem(const StationClient &c);

// Every line of the list (to the list's null) holds `shortest` to `longest`
// characters before its NUL, and there are at most `most` of them.
bool lineListFits(const QapiLineList &list, size_t most, size_t shortest, size_t longest);

// A notification posted to a station client.  With `watcher` (the client as
// it stands, when it has stopped watching nothing since the post), an
// extension's status must name an extension it watches.
std::string stationNotificationProblem(const QMessage &m, const StationClient *watcher);

// A decoded call record of the given kind (the record's kind byte, low 6 bits).
std::string cmdrPayloadProblem(const CmdrRecordPayload &p, unsigned kind);

// A route request the link posted: its fields in range and its handle naming
// a pending slot of the link.
std::string routeRequestProblem(const AdjunctLink &link, const QapiRouteRequestPayload &p);

}  // namespace qapi::test
