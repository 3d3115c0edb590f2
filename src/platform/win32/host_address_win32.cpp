// This host's address on Windows: the host's name resolves to the addresses
// of its own interfaces (the system answers it without a name server, from
// what it knows already: every look-up is whole); the first IPv4 one is
// taken.
#include <cstring>

#include "../socket.h"

namespace qapi::plat {
namespace {

constexpr int kHostNameCapacity = 80;

}  // namespace

HostAddress thisHostAddress(const sockaddr_in &, uint32_t *address, HostLookup) {
    char name[kHostNameCapacity];
    if (::gethostname(name, kHostNameCapacity) != 0) return HostAddress::NoHostName;
    name[kHostNameCapacity - 1] = '\0';
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return HostAddress::NameUnresolved;
    *address = 0;
    for (const addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in in;
            std::memcpy(&in, a->ai_addr, sizeof in);
            *address = ntohl(in.sin_addr.s_addr);
            break;
        }
    }
    ::freeaddrinfo(list);
    return HostAddress::Found;
}

}  // namespace qapi::plat
