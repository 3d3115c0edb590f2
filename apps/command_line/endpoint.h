// A server named on a command line as HOST:PORT, for the programs that come
// with the library.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "command_line/option_number.h"

namespace qtools {

struct Endpoint {
    std::string host;
    uint32_t port = 0;
};

// "host:port" or "[v6]:port"; throws std::invalid_argument naming the text.
inline Endpoint parseEndpoint(const std::string &text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw std::invalid_argument("not HOST:PORT: \"" + text + "\"");
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host.size() > 2 && e.host.front() == '[' && e.host.back() == ']')
        e.host = e.host.substr(1, e.host.size() - 2);
    e.port = static_cast<uint32_t>(optionNumber("the port of " + text, text.substr(colon + 1), 1, 65535));
    return e;
}

}  // namespace qtools
