// Call records through a real feed: a peer writes N sealed records of every
// kind over loopback TCP and the feed's ticks read, check, decode and post
// them (at most 32 records a tick, the poll after each); the same records are
// checked and decoded in memory; and a bare recv loop reads the same bytes,
// in reads of the feed buffer's size, from a second connection.  Reported per
// record: library_us, check_decode_us, recv_us, the ratio of the first two
// and the library's records per second.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "cmdr/wire_record.h"
#include "core/scratch.h"
#include "e2e_support.h"
#include "heap_count.h"
#include "qapi.h"
#include "support/test_support.h"

namespace {

using namespace qapi;
using namespace qapi::bench;

constexpr size_t kTicks = 16;
constexpr size_t kRecords = kTicks * kFeedBufferRecords;  // N
constexpr size_t kBytes = kRecords * kCmdrRecordSize;

// N different records, the kinds in turn: calls with three numbers, texts,
// digits only, short records.
std::vector<uint8_t> sampleRecords() {
    std::vector<uint8_t> all;
    for (size_t n = 0; n < kRecords; ++n) {
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

// Waits (bounded) until `bytes` wait on the stream `s`.
bool waitForBytes(plat::SocketHandle s, int bytes) {
    for (int tries = 0; tries < 2000; ++tries) {
        if (test::bytesWaiting(s) >= bytes) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

bool sendAll(plat::SocketHandle s, const std::vector<uint8_t> &bytes) {
    return send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

plat::SocketHandle acceptOne(plat::SocketHandle listener) {
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 2000) == 1 ? accept(listener, nullptr, nullptr) : plat::kNoSocket;
}

void BM_CallRecordFeed(benchmark::State &state) {
    if (!checkIsolated(state)) return;
    qmsgUseManualClock(1);
    QAPI_Stack_initialize(kStationPort);
    const QWindow window = qmsgCreateWindow();
    const test::TestSocket listener(SOCK_STREAM);
    CmdrFeed *feed = cmdrFindFeed(QAPI_Cmdr_start(window, "127.0.0.1", listener.port));
    const plat::SocketHandle feedPeer = acceptOne(listener.fd);
    const plat::SocketHandle bare = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(listener.port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)connect(bare, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    const plat::SocketHandle barePeer = acceptOne(listener.fd);
    if (!feed || feedPeer < 0 || barePeer < 0 || !plat::setNonBlocking(bare))
        return state.SkipWithError("no connections");
    setIntOption(feed->endpoint.socket, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
    setIntOption(bare, SOL_SOCKET, SO_RCVBUF, kReceiveRoom);
    const std::vector<uint8_t> records = sampleRecords();
    uint8_t server[16] = {};
    const uint32_t serverAddress = INADDR_LOOPBACK;
    std::memcpy(server, &serverAddress, sizeof serverAddress);

    double libraryTime = 0, checkTime = 0, bareTime = 0;
    uint64_t allocations = 0;
    Stopwatch watch;
    for (auto _ : state) {
        if (!sendAll(feedPeer, records) || !sendAll(barePeer, records) ||
            !waitForBytes(feed->endpoint.socket, kBytes) || !waitForBytes(bare, kBytes))
            return state.SkipWithError("the records did not arrive");

        const uint64_t before = heapAllocations();
        watch.start();
        for (size_t t = 0; t < kTicks; ++t) cmdrTick(*feed, kFeedBufferRecords);
        const double tick = watch.stop();
        allocations += heapAllocations() - before;
        if (drainMessages(QAPI_NOTIFY_CMDR_RECORD) != kRecords || feed->state != kFeedRunning)
            return state.SkipWithError("the feed did not post every record");

        watch.start();
        for (size_t t = 0; t < kTicks; ++t) {  // as the feed checks and decodes them
            const uint8_t *batch = records.data() + t * kFeedBufferSize;
            const size_t valid = cmdrCountValidRecords(batch, kFeedBufferRecords);
            for (size_t k = 0; k < valid; ++k) {
                auto *payload = cutScratchFor<CmdrRecordPayload>();
                cmdrDecodeRecord(batch + k * kCmdrRecordSize, server, RemoteFamily::Ipv4, *payload);
                benchmark::DoNotOptimize(payload);
            }
        }
        benchmark::ClobberMemory();
        checkTime += watch.stop();

        uint8_t buffer[kFeedBufferSize];
        size_t read = 0;
        watch.start();
        while (read < kBytes) {
            const ssize_t n = recv(bare, buffer, sizeof buffer, 0);
            if (n <= 0) return state.SkipWithError("the bare read failed");
            read += static_cast<size_t>(n);
        }
        bareTime += watch.stop();

        state.SetIterationTime(tick);
        libraryTime += tick;
        uint8_t polls[kTicks * 2];
        while (recv(feedPeer, polls, sizeof polls, MSG_DONTWAIT) > 0) {}
    }
    const double count = static_cast<double>(state.iterations()) * kRecords;
    state.counters["library_us"] = libraryTime / count * 1e6;
    state.counters["check_decode_us"] = checkTime / count * 1e6;
    state.counters["recv_us"] = bareTime / count * 1e6;
    state.counters["ratio"] = libraryTime / checkTime;
    state.counters["library_Mrec_s"] = count / libraryTime / 1e6;
    state.counters["heap_allocs_per_tick"] =
        static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * kTicks);
    close(feedPeer);
    close(barePeer);
    close(bare);
    QAPI_Stack_release();
    qmsgDestroyWindow(window);
    drainMessages();
    qmsgUseManualClock(0);
}
BENCHMARK(BM_CallRecordFeed)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
