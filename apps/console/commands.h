// The console's stdin commands: one table of name, arguments, help and the
// function that carries the command out.  A new command is one more row.
#pragma once

#include <string>
#include <vector>

#include "console/console.h"

namespace qconsole {

using Words = std::vector<std::string>;

struct CommandSpec {
    const char *name;
    const char *arguments;  // for help: "STATION [DIGITS]"
    const char *help;
    size_t least;  // words after the name, at least
    size_t most;   // and at most
    void (*run)(Console &console, const Words &words);
};

const std::vector<CommandSpec> &commandTable();

// Splits the line into words, finds its command and runs it; a blank line
// does nothing, anything else that does not fit is reported on standard
// error (Console::commandError).
void runCommandLine(Console &console, const std::string &line);

// For commands that name a station: the station's handle and the call's
// result (0 = accepted) reported; an unknown station is reported too.
void onStation(Console &console, const std::string &word, const char *what, int (*call)(QapiHandle));

}  // namespace qconsole
