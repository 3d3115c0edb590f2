#include "sim/isolation.h"

#include <net/if.h>

#include <stdexcept>

namespace qsim {

std::string foreignInterfaces() {
    // if_nameindex asks the kernel about this namespace; /sys may show another.
    struct if_nameindex *names = ::if_nameindex();
    if (!names) throw std::runtime_error("cannot list the network interfaces");
    std::string foreign;
    for (const struct if_nameindex *i = names; i->if_index != 0; ++i) {
        const std::string name = i->if_name;
        if (name != "lo" && name.rfind("qt", 0) != 0) foreign += (foreign.empty() ? "" : " ") + name;
    }
    ::if_freenameindex(names);
    return foreign;
}

}  // namespace qsim
