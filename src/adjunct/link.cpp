// Start and stop of adjunct links and their handle check.
#include "adjunct/link.h"

#include "core/stack.h"

namespace qapi {

LinkTable &adjunctLinks() {
    static LinkTable links;
    return links;
}

AdjunctLink *adjunctFindLink(const void *handle) { return adjunctLinks().find(handle); }

// A failed link has closed its endpoint already.
void adjunctCloseLink(AdjunctLink &link) { closeEndpoint(link.endpoint); }

}  // namespace qapi

using namespace qapi;

extern "C" {

QapiHandle QAPI_CALL QAPI_Adjunct_start(QapiWindow window, const char *host, uint32_t port) {
    // A link without a window could never be stopped, and one without a
    // host could never be opened: neither is created.  Nor is one while the
    // library is not initialised: the next initialise would drop it unfreed.
    if (window == 0 || !host || !stack().initialised) return nullptr;
    // Nothing is sent or posted before the first tick.
    return adjunctLinks().start([&](AdjunctLink &link) {
        if (openDatagram(link.endpoint, host, static_cast<uint16_t>(port & 0xFFFF)) != kOpened) return false;
        link.state = LinkState::Connecting;
        link.keepAliveCountdown = kFirstKeepAliveCountdown;
        link.window = window;
        link.magic = kLinkMagic;
        return true;
    });
}

int QAPI_CALL QAPI_Adjunct_stop(QapiHandle handle) {
    return adjunctLinks().stop(handle, adjunctCloseLink) ? 0 : 1;
}

}  // extern "C"
