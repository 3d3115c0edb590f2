// The Multicast endpoint: one UDP socket on the station port, joined to the
// group on the interface of this host's address, sending on that interface
// with a time-to-live of 1 so that nothing leaves the link.  Whatever
// address the host is known by, the group is heard and spoken to where the
// server sees the host.
#include <cstring>

#include "net/endpoint.h"

namespace qapi {
namespace {

// Joins (IP_ADD_MEMBERSHIP) or leaves (IP_DROP_MEMBERSHIP) the group on the
// interface whose address is `interfaceAddress` (host order; 0: the one the
// group is routed through).
bool membership(plat::SocketHandle s, int option, in_addr group, uint32_t interfaceAddress) {
    ip_mreq request{};
    request.imr_multiaddr = group;
    request.imr_interface.s_addr = htonl(interfaceAddress);
    return ::setsockopt(s, IPPROTO_IP, option, reinterpret_cast<const char *>(&request), sizeof request) == 0;
}

// Sends leave on the interface of `address`; without one, the platform's
// choice (the group's route) stands.
void sendOn(plat::SocketHandle s, uint32_t address) {
    if (address == 0) return;
    in_addr on{};
    on.s_addr = htonl(address);
    (void)::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char *>(&on), sizeof on);
}

void setIntOption(plat::SocketHandle s, int option, int value) {
    (void)::setsockopt(s, IPPROTO_IP, option, reinterpret_cast<const char *>(&value), sizeof value);
}

}  // namespace

int openMulticast(Endpoint &endpoint, const char *groupText, uint16_t port) {
    std::memset(&endpoint, 0, sizeof endpoint);
    const plat::SocketHandle s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == plat::kNoSocket) {
        endpoint.socket = plat::kNoSocket;
        return kOpenNoSocket;
    }
    auto fail = [&](int code) {
        plat::closeSocket(s);
        endpoint.socket = plat::kNoSocket;
        return code;
    };

    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) return fail(kOpenBindFailed);

    in_addr group{};
    if (!groupText || ::inet_pton(AF_INET, groupText, &group) != 1) return fail(kOpenJoinFailed);
    endpoint.groupAddress.sin_family = AF_INET;
    endpoint.groupAddress.sin_port = htons(port);
    endpoint.groupAddress.sin_addr = group;

    uint32_t address = 0;
    switch (plat::thisHostAddress(endpoint.groupAddress, &address, plat::HostLookup::Whole)) {
    case plat::HostAddress::NoHostName:
        return fail(kOpenNoHostName);
    case plat::HostAddress::NameUnresolved:
    case plat::HostAddress::Pending:  // never, for a whole look-up
        return fail(kOpenHostNameUnresolved);
    case plat::HostAddress::Found:
        break;
    }
    if (!membership(s, IP_ADD_MEMBERSHIP, group, address)) return fail(kOpenJoinFailed);
    sendOn(s, address);
    setIntOption(s, IP_MULTICAST_TTL, 1);
    // Our own sends are not looped back to us; the outcome does not matter.
    setIntOption(s, IP_MULTICAST_LOOP, 0);

    if (!plat::setNonBlocking(s)) return fail(kOpenNonBlockFailed);
    endpoint.localAddress = address;
    endpoint.socket = s;
    endpoint.kind = EndpointKind::Multicast;
    endpoint.open = 1;
    return kOpened;
}

bool refreshLocalAddress(Endpoint &endpoint) {
    if (!endpoint.open || endpoint.kind != EndpointKind::Multicast) return true;
    uint32_t address = 0;
    const plat::HostAddress found =
        plat::thisHostAddress(endpoint.groupAddress, &address, plat::HostLookup::Slice);
    if (found == plat::HostAddress::Pending) return false;
    if (found != plat::HostAddress::Found || address == 0 || address == endpoint.localAddress) return true;
    // The group follows the address: joined on the new interface first (an
    // interface that holds the membership already is one that carried the
    // old address too), then left on the old one.  Where the join fails,
    // everything stays as it was, to be tried again at the next look-up.
    const plat::SocketHandle s = endpoint.socket;
    const in_addr group = endpoint.groupAddress.sin_addr;
    if (membership(s, IP_ADD_MEMBERSHIP, group, address)) {
        if (endpoint.localAddress != 0) (void)membership(s, IP_DROP_MEMBERSHIP, group, endpoint.localAddress);
    } else if (!plat::lastErrorAddressInUse()) {
        return true;
    }
    sendOn(s, address);
    endpoint.localAddress = address;
    return true;
}

}  // namespace qapi
