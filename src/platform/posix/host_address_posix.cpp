// This host's address on POSIX systems, given as Windows gives it: there the
// host's name resolves to the addresses of its own interfaces, while a
// Debian or Ubuntu host maps its name to 127.0.1.1 in the hosts file and
// reaches the group only through its default route.  So the name's address
// counts only when it is the address of an up, non-loopback interface of
// this host; otherwise the address of the interface the kernel would send
// the group's datagrams through; else the first up, non-loopback interface;
// loopback only on a host that has nothing else.  The name is looked up in
// the hosts file alone: the lookup runs inside the tick and must never wait
// on a name server, nor read a long hosts file at once.
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "../socket.h"
#include "hosts_file.h"

namespace qapi::plat {
namespace {

constexpr size_t kHostNameCapacity = 80;
constexpr int kMostInterfaces = 64;  // addresses beyond are not seen
// What one sliced look-up reads of a changed hosts file: a fraction of a
// millisecond.  A file of 400,000 lines (15 MB) is read in 240 ticks.
constexpr size_t kHostsSlice = 64 * 1024;

struct Interface {
    uint32_t address;  // host order
    bool loopback;
};

struct Interfaces {
    Interface list[kMostInterfaces];
    int count = 0;

    // True when `address` belongs to an up interface other than loopback.
    bool own(uint32_t address) const {
        for (int i = 0; i < count; ++i) {
            if (!list[i].loopback && list[i].address == address) return true;
        }
        return false;
    }
    // The first up interface that is (or is not) loopback; 0 when none.
    uint32_t first(bool loopback) const {
        for (int i = 0; i < count; ++i) {
            if (list[i].loopback == loopback) return list[i].address;
        }
        return 0;
    }
};

// The IPv4 addresses of the interfaces that are up and running, asked of
// the UDP socket `s`.
void listInterfaces(int s, Interfaces &out) {
    ifreq requests[kMostInterfaces];
    ifconf conf{};
    conf.ifc_len = static_cast<int>(sizeof requests);
    conf.ifc_req = requests;
    if (::ioctl(s, SIOCGIFCONF, &conf) != 0) return;
    const int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    for (int i = 0; i < n && out.count < kMostInterfaces; ++i) {
        if (requests[i].ifr_addr.sa_family != AF_INET) continue;
        sockaddr_in in;
        std::memcpy(&in, &requests[i].ifr_addr, sizeof in);
        ifreq flags{};
        std::memcpy(flags.ifr_name, requests[i].ifr_name, sizeof flags.ifr_name);
        if (::ioctl(s, SIOCGIFFLAGS, &flags) != 0) continue;
        const unsigned bits = static_cast<unsigned short>(flags.ifr_flags);
        if ((bits & IFF_UP) == 0 || (bits & IFF_RUNNING) == 0) continue;
        const uint32_t address = ntohl(in.sin_addr.s_addr);
        out.list[out.count++] = {address, (bits & IFF_LOOPBACK) != 0 || (address >> 24) == 127};
    }
}

// The source address the kernel would give a datagram to `group`: the UDP
// socket `s`, connected to it, knows, and nothing is sent.  0 when there is
// no route.
uint32_t routedAddress(int s, const sockaddr_in &group) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool routed = ::connect(s, reinterpret_cast<const sockaddr *>(&group), sizeof group) == 0 &&
                        ::getsockname(s, reinterpret_cast<sockaddr *>(&local), &length) == 0;
    return routed ? ntohl(local.sin_addr.s_addr) : 0;
}

// The address the name does not give: the group's route, else the first
// interface, else loopback.
uint32_t addressOfTheInterfaces(int s, const Interfaces &interfaces, const sockaddr_in &group) {
    const uint32_t routed = s >= 0 ? routedAddress(s, group) : 0;
    if (interfaces.own(routed)) return routed;
    const uint32_t other = interfaces.first(false);
    return other != 0 ? other : interfaces.first(true);
}

}  // namespace

HostAddress thisHostAddress(const sockaddr_in &group, uint32_t *address, HostLookup lookup) {
    char name[kHostNameCapacity];
    if (::gethostname(name, sizeof name) != 0) return HostAddress::NoHostName;
    name[sizeof name - 1] = '\0';
    // What the hosts file says is kept until it changes; no heap, no
    // destructor to run at exit.
    static HostsFile hosts("/etc/hosts");
    NamedAddresses named;
    if (hosts.addressesOf(name, lookup == HostLookup::Whole ? SIZE_MAX : kHostsSlice, named) ==
        HostsReading::Pending)
        return HostAddress::Pending;
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    Interfaces interfaces;
    if (s >= 0) listInterfaces(s, interfaces);
    *address = 0;
    for (size_t i = 0; i < named.count && *address == 0; ++i) {
        if (interfaces.own(named.list[i])) *address = named.list[i];
    }
    if (*address == 0) *address = addressOfTheInterfaces(s, interfaces, group);
    if (s >= 0) ::close(s);
    return HostAddress::Found;
}

}  // namespace qapi::plat
