// The console's text form of every notification: one or more lines, stable
// from run to run (fields in a fixed order, flags by name), so that scripts
// can look for them.  Built on the public header only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qapi.h"

namespace qconsole {

// "snapshot reg=registered call=6 alerting=1 allows=answer,retrieve ..."
std::string snapshotText(const QapiStatusSnapshot &s);
// The names of the operations a snapshot allows, "," between, "-" for none.
std::string allowedText(const QapiStatusSnapshot &s);
// The lines of a call or park list: a head line ("calls 2"), then one
// line per entry, quoted.
std::vector<std::string> lineListText(const char *head, const QapiLineList *list);
// "record F 2024-05-17 10:30:00 duration=60 ..."
std::string recordText(const QapiCmdrRecordPayload &r);
// "route request handle=0x00000001 2024-05-17 11:00:00 ..."
std::string routeRequestText(const QapiRouteRequestPayload &r);
// "registered", ...: the name of a QapiRegState.
const char *regStateText(int32_t state);
// names[state], or the number as text when the state has no name.
std::string stateName(int32_t state, const char *const *names, int count);
// "status up", "status failed \"...\"": `names` gives the text of each state.
std::string statusText(const QapiStatusPayload &p, const char *const *names, int count);
// The 8-byte extension status payload: extension number, then its status.
std::string extensionText(const void *payload);
// 'c' for a dial character, "none" for 255.
std::string characterText(intptr_t value);
// The text in double quotes, with \", \\ and \xNN for what is not printable;
// "-" for a null pointer.
std::string quoted(const char *text);
// The bytes in double quotes: '"' and '\\' after a backslash, LF, CR and TAB
// as \n, \r and \t when `named`, and every other byte outside printable
// ASCII as `hex` makes it (a printf format of one unsigned byte).
std::string quoteBytes(std::string_view bytes, const char *hex, bool named);

}  // namespace qconsole
