// qapi-cdr report: calls and minutes per hour and per extension.  A call is
// every record but a note (kind "B"), counted for its extension, numberA;
// its minutes come from its duration in seconds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cdr/store.h"

namespace qcdr {

struct Tally {
    size_t calls = 0;
    uint64_t seconds = 0;
};

struct Report {
    Period period;
    size_t records = 0;
    Tally total;
    std::map<std::string, Tally> hours;  // "YYYY-MM-DD HH:00"
    std::map<int64_t, Tally> extensions;

    void add(const Row &row);
};

Report buildReport(Store &store, const Period &period);
std::string reportText(const Report &report);
// One page, no script: its tables and its SVG charts are all in it.
std::string reportHtml(const Report &report);
// Every hour from the first to the last of the report, those without calls
// too (at most `most`: beyond it, only those with calls).
std::vector<std::pair<std::string, Tally>> hourSeries(const Report &report, size_t most = 2400);

}  // namespace qcdr
