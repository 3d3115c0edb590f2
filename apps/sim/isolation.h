// The guard in front of the station side: the simulator multicasts, so it
// starts that side only inside a network namespace of its own (loopback and
// interfaces whose names start with "qt", such as the demo's veth pair),
// unless told that multicasting on this network is wanted.
#pragma once

#include <string>

namespace qsim {

// The interfaces of this process's network namespace other than loopback
// and "qt*", separated by blanks; empty when there are none.
std::string foreignInterfaces();

}  // namespace qsim
