// The simulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace qsim {

struct Options {
    std::optional<uint16_t> stationPort;
    std::optional<uint32_t> hostAddress;  // host order
    int32_t firstFreeId = 100;
    bool multicastAnywhere = false;
    FaultSettings faults;    // on the station path, both ways
    uint32_t faultSeed = 1;  // faults, floods and feed pieces
    std::optional<uint16_t> feedPort;
    uint32_t feedStock = 3;
    uint32_t recordsPerPoll = 1;
    uint32_t feedChunk = 0;           // largest piece a record is written in; 0: whole
    std::optional<uint32_t> feedMss;  // segment size the feed's listener announces
    std::optional<uint16_t> adjunctPort;
    uint32_t listenAddress = 0x7F000001;  // 127.0.0.1
    std::optional<std::string> scriptFile;
    std::optional<uint32_t> seconds;
    bool help = false;
};

// Throws std::invalid_argument with a message naming the bad argument.
Options parseOptions(const std::vector<std::string> &args);
extern const char *const kUsage;

}  // namespace qsim
