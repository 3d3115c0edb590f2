// The UDP counters of a network namespace, as its snmp file lists them
// (/proc/thread-self/net/snmp for the calling thread's).  No GoogleTest here:
// the soak reads them too.
#pragma once

#include <cstdint>
#include <string>

namespace qapi::test {

// The counter `name` ("OutDatagrams", "RcvbufErrors" ...), or -1 when the
// file or the counter is missing.
int64_t udpCounter(const std::string &snmpPath, const char *name);

}  // namespace qapi::test
