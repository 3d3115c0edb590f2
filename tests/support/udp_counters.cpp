#include "support/udp_counters.h"

#include <fstream>
#include <sstream>

namespace qapi::test {

int64_t udpCounter(const std::string &snmpPath, const char *name) {
    // Two "Udp:" lines: the column names, then the values.
    std::ifstream snmp(snmpPath);
    std::string line, names;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp: ", 0) != 0) continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string column, value;
        while (n >> column && v >> value) {
            if (column == name) return std::stoll(value);
        }
    }
    return -1;
}

}  // namespace qapi::test
