// The console's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qconsole {

struct Endpoint {
    std::string host;
    uint32_t port = 0;
};

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
    bool help = false;
};

// Throws std::invalid_argument with a message naming the bad argument.
Options parseOptions(const std::vector<std::string> &args);
// "host:port" or "[v6]:port".
Endpoint parseEndpoint(const std::string &text);
extern const char *const kUsage;

}  // namespace qconsole
