// What the end-to-end benchmarks share: the library with registered station
// clients on a real station endpoint, plain sockets beside it, a stopwatch
// and the process's resident memory.  Every program that uses it runs only in
// a private network namespace (scripts/bench.sh puts it in one): the station
// endpoint multicasts.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "cmdr/feed.h"
#include "platform/socket.h"
#include "qmsg.h"
#include "station/client.h"
#include "support/test_support.h"

namespace qapi::bench {

inline constexpr uint16_t kStationPort = 5001;
inline constexpr int32_t kFirstStation = 100;

// False, and the benchmark skipped with the reason, when this process could
// send multicast beyond the machine.
bool checkIsolated(benchmark::State &state);

// Empties the calling thread's message queue; returns how many messages
// carried `code` (a QapiNotifyCode).
size_t drainMessages(uintptr_t code = 0);

// The library on the manual clock, with `count` registered idle clients
// (stations 100 and up, calls allowed) notifying one window.  Station
// clients open the real station endpoint.
struct Library {
    QWindow window = 0;
    std::vector<StationClient *> clients;

    explicit Library(size_t count);
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    // Stands in for the server's answers to the keep-alives: no client ever
    // counts as not responding.
    void keepResponding() const;
};

// A socket option that takes an int; the receive room of a benchmark's
// sockets (the system may grant less).
void setIntOption(plat::SocketHandle s, int level, int name, int value);
inline constexpr int kReceiveRoom = 1 << 20;

// A non-blocking UDP socket on `port` joined to the station group.
plat::SocketHandle openGroupReceiver(uint16_t port);
// A UDP socket that multicasts to the station group (looped back to this
// namespace's receivers).
plat::SocketHandle openGroupSender();
void sendToGroup(plat::SocketHandle sender, uint16_t port, const std::vector<uint8_t> &datagram);

// `count` different sealed call records back to back, the kinds in turn:
// calls with three numbers, texts, digits only, short records.
std::vector<uint8_t> sealedSampleRecords(size_t count);
// The next connection on a listening stream socket (bounded wait), or
// kNoSocket.
plat::SocketHandle acceptOne(plat::SocketHandle listener);
// A stream socket connected to 127.0.0.1:`port` (kNoSocket when that fails).
plat::SocketHandle connectLoopback(uint16_t port);

// The library on the manual clock with one call-record feed, connected to a
// peer of the benchmark's own, and beside it a bare non-blocking connection
// to the same listener and its peer; the bare receiver with kReceiveRoom, the
// feed's too unless it keeps the receive buffer the library gave it.
struct FeedAndBare {
    test::TestSocket listener{SOCK_STREAM};
    QWindow window = 0;
    CmdrFeed *feed = nullptr;
    plat::SocketHandle feedPeer = plat::kNoSocket, bare = plat::kNoSocket, barePeer = plat::kNoSocket;

    enum class FeedRoom { Widened, Library };
    explicit FeedAndBare(FeedRoom feedRoom = FeedRoom::Widened);
    ~FeedAndBare();
    FeedAndBare(const FeedAndBare &) = delete;
    FeedAndBare &operator=(const FeedAndBare &) = delete;
    bool connected() const { return feed && feedPeer >= 0 && bare >= 0 && barePeer >= 0; }
    // Reads and drops the polls the feed sent.
    void dropPolls() const;
};

// Seconds between start() and stop().
class Stopwatch {
public:
    void start() { from_ = std::chrono::steady_clock::now(); }
    double stop() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from_).count();
    }

private:
    std::chrono::steady_clock::time_point from_;
};

// CPU seconds of the calling thread between start() and stop(), the
// kernel's work on its behalf included: what a tick costs, whatever else the
// machine runs meanwhile.
class ThreadStopwatch {
public:
    void start() { from_ = now(); }
    double stop() const { return now() - from_; }

private:
    static double now();
    double from_ = 0;
};

// The process's resident memory in KiB (VmRSS), 0 when unknown.
uint64_t residentKiB();

// Heap allocations of ticks (any inside the system resolver apart) and the
// lookups made through it: none, since this host's address is looked up
// without it.
class TickAllocations {
public:
    void begin();  // before the tick
    void end();    // after it
    void report(benchmark::State &state) const;

private:
    uint64_t allocationsBefore_ = 0, lookupsBefore_ = 0;
    uint64_t allocations_ = 0, lookups_ = 0, ticks_ = 0;
};

}  // namespace qapi::bench
