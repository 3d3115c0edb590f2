// This host's name and address: the same resolver calls on every socket
// library (Windows needs it started first).
#include <cstring>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "socket.h"

namespace qapi::plat {

bool hostName(char *out, size_t capacity) {
#if defined(_WIN32)
    const int length = static_cast<int>(capacity);  // Windows takes an int: a name buffer is small
#else
    const size_t length = capacity;
#endif
    if (::gethostname(out, length) != 0) return false;
    out[capacity - 1] = '\0';
    return true;
}

bool resolveIpv4(const char *name, uint32_t *address, bool *found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return false;
    *found = false;
    for (const addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in in;
            std::memcpy(&in, a->ai_addr, sizeof in);
            *address = ntohl(in.sin_addr.s_addr);
            *found = true;
            break;
        }
    }
    ::freeaddrinfo(list);
    return true;
}

}  // namespace qapi::plat
