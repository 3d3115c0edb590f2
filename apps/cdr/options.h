// qapi-cdr's command line: collecting (the default), export and report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cdr/store.h"
#include "command_line/endpoint.h"

namespace qcdr {

enum class Mode { collect, exportCsv, report, help, version };

struct Options {
    Mode mode = Mode::collect;
    std::vector<qtools::Endpoint> feeds;
    std::string db = "cdr.sqlite";
    std::optional<std::string> spool;  // default: beside an SQLite file, else qapi-cdr.spool
    std::string csv;                   // export: the file ("-": stdout)
    std::optional<std::string> html;   // report: the HTML page
    Period period;
};

// "--name value" and "--name=value" alike.  Throws std::invalid_argument
// with a message naming the bad argument.
Options parseOptions(const std::vector<std::string> &args);
// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DDTHH:MM:SS" as
// "YYYY-MM-DD HH:MM:SS"; throws std::invalid_argument.
std::string periodBound(const std::string &option, const std::string &text);
std::string spoolPath(const Options &o);
extern const char *const kUsage;

}  // namespace qcdr
