// Start and stop of adjunct links, the handle check, and the release of every
// link with the library.
#include "adjunct/link.h"

#include <new>

#include "core/stack.h"

namespace qapi {
namespace {

AdjunctLink *(&linkTable())[kMaxLinks] { return stack().registry.links; }

void closeAndFree(AdjunctLink *link) {
    closeEndpoint(link->endpoint);
    delete link;
}

}  // namespace

bool adjunctCheckHandle(const void *handle) {
    if (slotOf(linkTable(), handle) == kNoSlot) return false;
    const auto *link = static_cast<const AdjunctLink *>(handle);
    return link->magic == kLinkMagic && link->window != 0;
}

void releaseAdjunctLinks() { releaseEverySlot(linkTable(), closeAndFree); }

}  // namespace qapi

using namespace qapi;

extern "C" {

QapiHandle QAPI_CALL QAPI_Adjunct_start(QapiWindow window, const char *host, uint32_t port) {
    // A link without a window could never be stopped, and one without a
    // host could never be opened: neither is created.  Nor is one while the
    // library is not initialised: the next initialise would drop it unfreed.
    if (window == 0 || !host || !stack().initialised) return nullptr;
    AdjunctLink *(&table)[kMaxLinks] = linkTable();
    for (size_t slot = 0; slot < kMaxLinks; ++slot) {
        if (table[slot]) continue;
        auto *link = new (std::nothrow) AdjunctLink{};
        if (!link) continue;  // no memory for this slot: try the next free one
        if (openDatagram(link->endpoint, host, static_cast<uint16_t>(port & 0xFFFF)) != kOpened) {
            delete link;
            return nullptr;
        }
        link->state = LinkState::Connecting;
        link->keepAliveCountdown = kFirstKeepAliveCountdown;
        link->window = window;
        link->magic = kLinkMagic;
        table[slot] = link;
        return link;  // nothing is sent or posted before the first tick
    }
    return nullptr;
}

int QAPI_CALL QAPI_Adjunct_stop(QapiHandle handle) {
    const int slot = slotOf(linkTable(), handle);
    if (slot == kNoSlot || !adjunctCheckHandle(handle)) return 1;
    auto *link = static_cast<AdjunctLink *>(handle);
    linkTable()[slot] = nullptr;
    // A failed link closed its endpoint already; pending route requests go
    // with the record, unanswered.
    closeAndFree(link);
    return 0;
}

}  // extern "C"
