#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cmdr/wire_record.h"
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

std::vector<uint8_t> sealedSampleRecords(size_t count) {
    std::vector<uint8_t> all;
    all.reserve(count * kCmdrRecordSize);
    for (size_t n = 0; n < count; ++n) {
        test::WireRecord r(static_cast<uint8_t>(n % 5));
        for (size_t i = 0; i < rec::kKind; ++i) r.bytes[i] = static_cast<uint8_t>(n * 7 + i);
        if (n % 5 == 1 || n % 5 == 2) {
            for (size_t i = 0; i < 40; ++i)
                r.bytes[rec::kText + i] = static_cast<uint8_t>('a' + (n + i) % 26);
        } else {
            for (size_t i = 0; i < 12 + n % 16; ++i) {
                r.bytes[rec::kDigitsA + i] = static_cast<uint8_t>((n + i) % 10);
                r.bytes[rec::kDigitsB + i] = static_cast<uint8_t>((n + 3 * i) % 10);
                r.bytes[rec::kDigitsC + i] = static_cast<uint8_t>((n + 5 * i) % 10);
            }
        }
        r.u32(rec::kDateTime, test::packedDateTime(2024, 6, 15, 13, 45, static_cast<uint32_t>(n % 60)));
        r.u32(rec::kDurationCount, static_cast<uint32_t>(4321 + n)).u32(rec::kAddress, 0xC0A8010A);
        r.u16(rec::kWordA, 17).u16(rec::kWordB, static_cast<uint16_t>(n));
        const auto &sealed = r.sealed();
        all.insert(all.end(), sealed.begin(), sealed.end());
    }
    return all;
}

plat::SocketHandle acceptOne(plat::SocketHandle listener) {
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 2000) == 1 ? accept(listener, nullptr, nullptr) : plat::kNoSocket;
}

plat::SocketHandle connectLoopback(uint16_t port) {
    const plat::SocketHandle s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s >= 0 && connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) return s;
    if (s >= 0) close(s);
    return plat::kNoSocket;
}

double ThreadStopwatch::now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

FeedAndBare::FeedAndBare(FeedRoom feedRoom) {
    qmsgUseManualClock(1);
    QAPI_Stack_initialize(kStationPort);
    window = qmsgCreateWindow();
    feed = cmdrFindFeed(QAPI_Cmdr_start(window, "127.0.0.1", listener.port));
    feedPeer = acceptOne(listener.fd);
    bare = connectLoopback(listener.port);
    barePeer = acceptOne(listener.fd);
    if (bare >= 0 && !plat::setNonBlocking(bare)) std::perror("bare connection");
    if (feed && feedRoom == FeedRoom::Widened)
        setIntOption(feed->endpoint.socket, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
    setIntOption(bare, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
}

FeedAndBare::~FeedAndBare() {
    for (plat::SocketHandle s : {feedPeer, bare, barePeer}) {
        if (s >= 0) close(s);
    }
    QAPI_Stack_release();
    qmsgDestroyWindow(window);
    drainMessages();
    qmsgUseManualClock(0);
}

void FeedAndBare::dropPolls() const {
    uint8_t polls[64];
    while (recv(feedPeer, polls, sizeof polls, MSG_DONTWAIT) > 0) {}
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
