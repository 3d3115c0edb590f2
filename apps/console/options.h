// The console's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line/endpoint.h"
#include "console/output.h"

namespace qconsole {

using qtools::Endpoint;
using qtools::parseEndpoint;

struct Options {
    uint32_t stationPort = 5001;
    std::vector<int32_t> stations;
    std::optional<Endpoint> feed;
    std::optional<Endpoint> adjunct;
    std::optional<std::string> routeAnswer;  // digits that answer every route request
    int32_t routeValue = 0;
    std::optional<uint32_t> seconds;
    bool heartbeats = false;
    bool readStdin = true;
    Format format = Format::text;
    bool timestamps = false;
    std::optional<std::string> cdrCsv;  // the file call records are appended to
    bool help = false;
    bool version = false;
};

// The exit status of a run (kUsage lists them); when several apply, the
// highest.
enum Exit : int {
    exitOk = 0,
    exitCannotRun = 1,    // a bad command line, the library or the CSV file did not start
    exitRefused = 2,      // the library refused a start or a command
    exitBadCommand = 3,   // a command on stdin was not understood (in --seconds runs)
    exitRecordsLost = 4,  // a call record could not be written to the CSV file
};

// "--name value" and "--name=value" alike.  Throws std::invalid_argument
// with a message naming the bad argument.
Options parseOptions(const std::vector<std::string> &args);
extern const char *const kUsage;

}  // namespace qconsole
