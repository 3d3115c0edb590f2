// The console's state: the library's handles with the window of each, and
// the text form of what arrives on those windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "call_records/csv.h"
#include "console/options.h"
#include "console/output.h"
#include "qapi.h"

namespace qconsole {

using qrecords::CdrCsvFile;

// The two kinds of link to the server besides the stations.
enum class Link { feed = 0, adjunct = 1 };

struct StationEntry {
    int32_t id;  // as started; the server's once a station started with -1 registers
    QapiHandle handle;
    QWindow window;
};

class Console {
public:
    // Call records also go to `csv` when it is given.
    Console(const Options &options, std::FILE *out, CdrCsvFile *csv = nullptr)
        : options_(options), out_(out, options.format, options.timestamps), csv_(csv) {}
    ~Console();
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // Each prints what happened; false when the library refused.
    bool startStation(int32_t id);
    bool stopStation(int32_t id);
    // A running link of the kind is stopped first.
    bool startLink(Link kind, const Endpoint &server);
    bool stopLink(Link kind);
    // Answers a route request of the link; prints whether it was taken.
    bool respond(uint32_t request, const char *digits, int32_t value);

    // Prints a notification that reached one of the console's windows.
    void handle(const QMessage &m);
    // Prints "<source>: <text>" (in JSON: a "message" with that text).
    void print(const Source &source, const std::string &text);
    // Prints "<source>: <what>: accepted" or "...: refused" (and counts it).
    bool result(const Source &source, const std::string &what, bool ok);
    // A command that could not be carried out as written: reported on
    // standard error, and counted.
    void commandError(const std::string &text);

    StationEntry *station(int32_t id);
    const std::vector<StationEntry> &stations() const { return stations_; }
    QapiHandle link(Link kind) const { return links_[static_cast<int>(kind)].handle; }

    bool quit = false;
    int refusals = 0;       // starts and commands the library refused
    int commandErrors = 0;  // commands not understood
    int recordsLost = 0;    // call records the CSV file did not take

private:
    void stationNote(StationEntry &s, uint32_t code, intptr_t value);
    void adjunctNote(uint32_t code, intptr_t value);
    void feedNote(uint32_t code, intptr_t value);
    // A notification the console has no form for: its code and value.
    void other(const Source &source, uint32_t code, intptr_t value);

    struct LinkEntry {
        Source source;
        QapiHandle (*start)(QWindow, const char *, uint32_t);
        int (*stop)(QapiHandle);
        QapiHandle handle = nullptr;
        QWindow window = 0;
    };

    Options options_;
    Output out_;
    CdrCsvFile *csv_;
    std::vector<StationEntry> stations_;
    LinkEntry links_[2] = {{"feed", QAPI_Cmdr_start, QAPI_Cmdr_stop},
                           {"adjunct", QAPI_Adjunct_start, QAPI_Adjunct_stop}};
};

}  // namespace qconsole
