#include "console/options.h"

#include "common/option_number.h"

#include <stdexcept>

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
  --help

Commands on stdin: "help" lists them.
Exit status: 0, or 2 when the library refused a start or a command.
)";

using qtools::optionNumber;

Endpoint parseEndpoint(const std::string &text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw std::invalid_argument("not HOST:PORT: \"" + text + "\"");
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host.size() > 2 && e.host.front() == '[' && e.host.back() == ']') e.host = e.host.substr(1, e.host.size() - 2);
    e.port = static_cast<uint32_t>(optionNumber("the port of " + text, text.substr(colon + 1), 1, 65535));
    return e;
}

Options parseOptions(const std::vector<std::string> &args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size()) throw std::invalid_argument(a + " wants a value");
            return args[++i];
        };
        if (a == "--port") o.stationPort = static_cast<uint32_t>(optionNumber(a, value(), 1, 65535));
        else if (a == "--station") o.stations.push_back(static_cast<int32_t>(optionNumber(a, value(), -1, INT32_MAX)));
        else if (a == "--feed") o.feed = parseEndpoint(value());
        else if (a == "--adjunct") o.adjunct = parseEndpoint(value());
        else if (a == "--route-answer") o.routeAnswer = value();
        else if (a == "--route-value") o.routeValue = static_cast<int32_t>(optionNumber(a, value(), INT32_MIN, INT32_MAX));
        else if (a == "--seconds") o.seconds = static_cast<uint32_t>(optionNumber(a, value(), 1, 86400));
        else if (a == "--heartbeats") o.heartbeats = true;
        else if (a == "--no-stdin") o.readStdin = false;
        else if (a == "--help" || a == "-h") o.help = true;
        else throw std::invalid_argument("unknown option " + a + " (see --help)");
    }
    return o;
}

}  // namespace qconsole
