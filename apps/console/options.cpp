#include "console/options.h"

#include <getopt.h>

#include <stdexcept>

#include "command_line/option_number.h"

namespace qconsole {

const char *const kUsage = R"(usage: qapi-console [options]
Runs QapiDll and prints every notification it posts, one line each.

  --port P              UDP port of the station protocol (5001)
  --station ID          start a station client for station ID (-1: take the
                        server's identifier); may be given again
  --feed HOST:PORT      open a call-record feed
  --adjunct HOST:PORT   open a routing adjunct link ([v6-address]:PORT too)
  --route-answer DIGITS answer every route request with DIGITS
  --route-value N       the value sent with those answers (0)
  --seconds N           end after N seconds
  --heartbeats          print the stations' heartbeats too
  --no-stdin            read no commands from stdin (otherwise its end quits)
  --format text|json    one line of text per notification (text), or one
                        JSON object per line with every field named (json)
  --timestamps          put the wall-clock time in front of each line (in
                        json: a "time" member)
  --cdr-csv FILE        append every call record to FILE as CSV, a header
                        row first when FILE is empty
  --version
  --help
Every option takes its value as "--option value" or "--option=value".

Commands on stdin: "help" lists them; one not understood is reported on
standard error.
Exit status (the highest that applies):
  0  the run ended as asked
  1  a bad command line, or the library or the CSV file could not start
  2  the library refused a start or a command
  3  a command on stdin was not understood (in --seconds runs)
  4  a call record could not be written to the CSV file
)";

using qtools::optionNumber;

namespace {

enum Key : int {
    port = 256,
    station,
    feed,
    adjunct,
    routeAnswer,
    routeValue,
    seconds,
    heartbeats,
    noStdin,
    format,
    timestamps,
    cdrCsv,
    version,
    help = 'h',
};

const option kLong[] = {
    {"port", required_argument, nullptr, port},
    {"station", required_argument, nullptr, station},
    {"feed", required_argument, nullptr, feed},
    {"adjunct", required_argument, nullptr, adjunct},
    {"route-answer", required_argument, nullptr, routeAnswer},
    {"route-value", required_argument, nullptr, routeValue},
    {"seconds", required_argument, nullptr, seconds},
    {"heartbeats", no_argument, nullptr, heartbeats},
    {"no-stdin", no_argument, nullptr, noStdin},
    {"format", required_argument, nullptr, format},
    {"timestamps", no_argument, nullptr, timestamps},
    {"cdr-csv", required_argument, nullptr, cdrCsv},
    {"version", no_argument, nullptr, version},
    {"help", no_argument, nullptr, help},
    {nullptr, 0, nullptr, 0},
};

const char *nameOf(int key) {
    for (const option &o : kLong) {
        if (o.val == key) return o.name;
    }
    return "?";
}

void take(Options &o, int key, const std::string &value) {
    const std::string name = std::string("--") + nameOf(key);
    switch (key) {
    case port:
        o.stationPort = static_cast<uint32_t>(optionNumber(name, value, 1, 65535));
        break;
    case station:
        o.stations.push_back(static_cast<int32_t>(optionNumber(name, value, -1, INT32_MAX)));
        break;
    case feed:
        o.feed = parseEndpoint(value);
        break;
    case adjunct:
        o.adjunct = parseEndpoint(value);
        break;
    case routeAnswer:
        o.routeAnswer = value;
        break;
    case routeValue:
        o.routeValue = static_cast<int32_t>(optionNumber(name, value, INT32_MIN, INT32_MAX));
        break;
    case seconds:
        o.seconds = static_cast<uint32_t>(optionNumber(name, value, 1, 86400));
        break;
    case heartbeats:
        o.heartbeats = true;
        break;
    case noStdin:
        o.readStdin = false;
        break;
    case format:
        if (value != "text" && value != "json")
            throw std::invalid_argument(name + " wants text or json, not \"" + value + "\"");
        o.format = value == "json" ? Format::json : Format::text;
        break;
    case timestamps:
        o.timestamps = true;
        break;
    case cdrCsv:
        if (value.empty()) throw std::invalid_argument(name + " wants a file name");
        o.cdrCsv = value;
        break;
    case version:
        o.version = true;
        break;
    case help:
        o.help = true;
        break;
    }
}

}  // namespace

Options parseOptions(const std::vector<std::string> &args) {
    std::vector<std::string> words{"qapi-console"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    Options o;
    optind = 0;  // a fresh scan: getopt keeps its place in globals
    opterr = 0;  // the errors are ours to word
    for (int key;
         (key = getopt_long(static_cast<int>(words.size()), argv.data(), "+:h", kLong, nullptr)) != -1;) {
        if (key == ':') throw std::invalid_argument(std::string("--") + nameOf(optopt) + " wants a value");
        if (key == '?' && optopt >= port)
            throw std::invalid_argument(std::string("--") + nameOf(optopt) + " takes no value");
        if (key == '?') {
            const std::string word =
                optopt ? "-" + std::string(1, static_cast<char>(optopt)) : argv[optind - 1];
            throw std::invalid_argument("unknown or ambiguous option " + word + " (see --help)");
        }
        take(o, key, optarg ? optarg : "");
    }
    if (optind < static_cast<int>(words.size())) {
        throw std::invalid_argument("unexpected argument \"" + words[optind] + "\" (see --help)");
    }
    return o;
}

}  // namespace qconsole
