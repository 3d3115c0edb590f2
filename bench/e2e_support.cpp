#include "e2e_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/wire.h"
#include "heap_count.h"
#include "station/dispatch.h"
#include "station/protocol.h"
#include "support/test_support.h"

namespace qapi::bench {

bool checkIsolated(benchmark::State &state) {
    const ::testing::AssertionResult isolated = test::isolatedNetwork();
    if (!isolated) state.SkipWithError(isolated.message());
    return isolated;
}

size_t drainMessages(uintptr_t code) {
    size_t matching = 0;
    QMessage m;
    while (qmsgPeekMessage(&m)) matching += m.wParam == code ? 1 : 0;
    return matching;
}

Library::Library(size_t count) {
    qmsgUseManualClock(1);  // the tick runs only when a benchmark calls it
    QAPI_Stack_initialize(kStationPort);
    window = qmsgCreateWindow();
    for (size_t i = 0; i < count; ++i) {
        const auto station = static_cast<int32_t>(kFirstStation + static_cast<int32_t>(i));
        auto *client = static_cast<StationClient *>(QAPI_Client_start(window, station));
        if (!client) break;
        uint8_t reply[RegistrationReply::kSize] = {};
        reply[RecordHeader::kType] = kRegistrationReplyType;
        reply[RecordHeader::kLength] = (RegistrationReply::kSize - 4) / 4;
        writeU32le(reply + RecordHeader::kStation, static_cast<uint32_t>(station));
        writeU32le(reply + RegistrationReply::kFlags, kFlagCallAllowed);
        stationHandleRecord(*client, reply, sizeof reply);
        clients.push_back(client);
    }
    drainMessages();
}

Library::~Library() {
    QAPI_Stack_release();
    qmsgDestroyWindow(window);
    drainMessages();
    qmsgUseManualClock(0);
}

void Library::keepResponding() const {
    for (StationClient *client : clients) client->retryCount = 0;
}

void setIntOption(plat::SocketHandle s, int level, int name, int value) {
    (void)setsockopt(s, level, name, &value, sizeof value);
}

plat::SocketHandle openGroupReceiver(uint16_t port) {
    const plat::SocketHandle s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    ip_mreq membership{};
    inet_pton(AF_INET, "224.3.3.3", &membership.imr_multiaddr);
    if (s < 0 || bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0 ||
        !plat::setNonBlocking(s)) {
        std::perror("group receiver");
    }
    setIntOption(s, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
    return s;
}

plat::SocketHandle openGroupSender() {
    const plat::SocketHandle s = socket(AF_INET, SOCK_DGRAM, 0);
    setIntOption(s, IPPROTO_IP, IP_MULTICAST_LOOP, 1);
    return s;
}

void sendToGroup(plat::SocketHandle sender, uint16_t port, const std::vector<uint8_t> &datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "224.3.3.3", &to.sin_addr);
    if (sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to) < 0)
        std::perror("send to the group");
}

uint64_t residentKiB() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %llu kB", &kib) == 1) break;
    }
    std::fclose(status);
    return kib;
}

void TickAllocations::begin() {
    allocationsBefore_ = heapAllocations();
    lookupsBefore_ = hostLookups();
}

void TickAllocations::end() {
    allocations_ += heapAllocations() - allocationsBefore_;
    lookups_ += hostLookups() - lookupsBefore_;
    ++ticks_;
}

void TickAllocations::report(benchmark::State &state) const {
    state.counters["heap_allocs_per_tick"] =
        ticks_ ? static_cast<double>(allocations_) / static_cast<double>(ticks_) : 0;
    state.counters["address_lookups"] = static_cast<double>(lookups_);
}

}  // namespace qapi::bench
