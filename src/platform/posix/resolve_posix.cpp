// Name lookups with a time limit.  A numeric address resolves at once; a
// name goes to glibc's asynchronous lookup, waited for until the time is up.
// A lookup given up on may still be waiting on a name server: its record
// stays allocated, in a short list, until it has finished (a later lookup
// frees it), since the resolver writes its answer there.  While that list
// is full, names are refused at once.
#include <netdb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../socket.h"

namespace qapi::plat {
namespace {

constexpr size_t kMostAbandoned = 8;
constexpr size_t kLongestName = 255;  // a DNS name has at most 253 characters

struct Lookup {
    gaicb request;
    addrinfo hints;
    char host[kLongestName + 1];
    char service[16];
};

Lookup *abandoned[kMostAbandoned];

void release(Lookup *lookup) {
    if (lookup->request.ar_result) ::freeaddrinfo(lookup->request.ar_result);
    std::free(lookup);
}

void freeFinished() {
    for (Lookup *&lookup : abandoned) {
        if (lookup && ::gai_error(&lookup->request) != EAI_INPROGRESS) {
            release(lookup);
            lookup = nullptr;
        }
    }
}

Lookup **freeSlot() {
    for (Lookup *&lookup : abandoned) {
        if (!lookup) return &lookup;
    }
    return nullptr;
}

// Waits until the lookup is done or `deadline` has passed.
void waitFor(gaicb *request, uint64_t deadline) {
    gaicb *const requests[1] = {request};
    for (;;) {
        const uint64_t now = monotonicMs();
        if (now >= deadline) return;
        const uint64_t left = deadline - now;
        const timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        const int r = ::gai_suspend(requests, 1, &wait);
        if (r != EAI_INTR && (r != EAI_SYSTEM || errno != EINTR)) return;
    }
}

}  // namespace

bool resolveWithin(const char *host, const char *service, const addrinfo &hints, int timeoutMs,
                   addrinfo **list) {
    *list = nullptr;
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    const int direct = ::getaddrinfo(host, service, &numeric, list);
    if (direct == 0) return *list != nullptr;
    if (direct != EAI_NONAME) return false;

    const uint64_t deadline = monotonicMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    freeFinished();
    Lookup **slot = freeSlot();
    if (!slot || std::strlen(host) > kLongestName || std::strlen(service) >= sizeof Lookup::service)
        return false;
    auto *lookup = static_cast<Lookup *>(std::calloc(1, sizeof(Lookup)));
    if (!lookup) return false;
    std::strcpy(lookup->host, host);
    std::strcpy(lookup->service, service);
    lookup->hints = hints;
    lookup->request.ar_name = lookup->host;
    lookup->request.ar_service = lookup->service;
    lookup->request.ar_request = &lookup->hints;
    gaicb *requests[1] = {&lookup->request};
    if (::getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0) {
        std::free(lookup);
        return false;
    }
    waitFor(&lookup->request, deadline);
    if (::gai_error(&lookup->request) == EAI_INPROGRESS && ::gai_cancel(&lookup->request) != EAI_CANCELED) {
        *slot = lookup;  // still running: freed once it has finished
        return false;
    }
    const bool found = ::gai_error(&lookup->request) == 0 && lookup->request.ar_result;
    if (found) {
        *list = lookup->request.ar_result;
        lookup->request.ar_result = nullptr;
    }
    release(lookup);
    return found;
}

void freeResolved(addrinfo *list) {
    if (list) ::freeaddrinfo(list);
}

}  // namespace qapi::plat
