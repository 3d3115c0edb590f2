// The library's payloads as the `data` of events: every field under the
// name the Python package gives it (snake_case: numberA is number_a), texts
// with every byte kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qapi.h"

namespace qbridge {

// "numberA" -> "number_a".
std::string snakeCase(const char *camel);

std::string snapshotData(const QapiStatusSnapshot &snapshot);
// The lines of a call or park list, in order; never past the last slot.
std::vector<std::string> listLines(const QapiLineList *list);
std::string linesData(const std::vector<std::string> &lines);
std::string recordData(const QapiCmdrRecordPayload &record);
std::string routeRequestData(const QapiRouteRequestPayload &request, uint32_t deadlineMs);
// A text of the library's (number, display text): at most `most` bytes, up to its NUL.
std::string libraryText(const char *text, size_t most = 128);

}  // namespace qbridge
