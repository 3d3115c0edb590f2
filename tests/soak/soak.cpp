// A simulated day of the library: 512 station clients, 32 call-record feeds
// and 8 adjunct links against servers in this process (the simulator's
// switchboard for the stations), the manual clock driven tick by tick.
// Each simulated hour brings calls (answered, cleared, held, parked and
// resumed, dialed), watched extensions, park lists, display texts, call
// records (bursts and records cut across ticks), route questions, a silence
// of the station server, of each link's server and of some feeds' servers,
// a reset of each feed's connection and restarts of station clients; the application starts again
// whatever failed.  And three bursts, each at a quiet moment of its own: a
// call list for every station in one tick, 170 statuses in one tick of an
// extension that every client watches, and a backlog of 100,000 records on
// one feed.  Checked: the application receives, tick by tick, exactly what
// the servers caused, intact and in order (drained every tick); a reader on
// another thread reads every payload again during the next tick and once it
// is over, and finds it unchanged; no tick allocates from the heap or asks
// the system resolver (the station endpoint's lookups of this host's address
// read the hosts file and the interfaces); resident memory does not grow
// after the warm-up (in a
// build without AddressSanitizer, whose own bookkeeping grows); no datagram
// is dropped on the way; under AddressSanitizer, nothing leaks.
//
//   qapi_soak [--hours H] [--ticks N] [--seed S]      (default: one hour)
//
// It opens the station endpoint: run it in a private network namespace
// (tests/support/netns-run.sh; scripts/soak.sh does).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/scratch.h"
#include "qapi.h"
#include "soak/application.h"
#include "soak/bursts.h"
#include "soak/late_reader.h"
#include "support/heap_count.h"
#include "support/udp_counters.h"

// Freed blocks wait in a small quarantine: the soak's own churn must not look
// like growth of the resident memory.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

namespace qapi::soak {
namespace {

using test::heapAllocations;
using test::hostLookups;
using test::startHeapCount;
using test::underAddressSanitizer;

constexpr uint16_t kStationPort = 5001;
constexpr uint32_t kWarmUp = 9000;  // every kind of event below has happened once by then
static_assert(kBurstsBegunBy < kWarmUp);
constexpr uint32_t kQuietTail = 100;  // ticks at the end without new calls, records or questions
constexpr size_t kFeeds = 32, kLinks = 8;

// The events of each simulated hour, in ticks from its start.
constexpr uint32_t kStationSilence = 1200, kStationSilenceTicks = 600;
constexpr uint32_t kLinkSilence = 2400, kLinkSilenceGap = 150, kLinkSilenceTicks = 300;
constexpr uint32_t kFeedReset = 3600, kFeedResetGap = 60;
constexpr uint32_t kFeedBurst = 4800, kFeedBurstGap = 50, kBurstRecords = 70;
constexpr uint32_t kRestarts = 6000, kRestartsPerHour = 8;
constexpr uint32_t kFeedSilence = 6600, kFeedSilenceTicks = 1800, kSilentFeeds = 8;  // the polls back off
size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// UDP datagrams this network namespace dropped (for want of room, or broken).
uint64_t udpDropped() {
    uint64_t dropped = 0;
    for (const char *counter : {"RcvbufErrors", "InErrors"}) {
        const int64_t n = test::udpCounter("/proc/thread-self/net/snmp", counter);
        dropped += n < 0 ? 1 : static_cast<uint64_t>(n);
    }
    return dropped;
}

double mib(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct Options {
    uint32_t ticks = kTicksPerHour;
    uint64_t seed = 0x50A4;
};

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const double value = std::strtod(argv[i + 1], nullptr);
        if (name == "--hours" && value > 0) {
            o.ticks = static_cast<uint32_t>(value * kTicksPerHour);
        } else if (name == "--ticks" && value > 0) {
            o.ticks = static_cast<uint32_t>(value);
        } else if (name == "--seed") {
            o.seed = static_cast<uint64_t>(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

class Day {
public:
    Day(const Options &o)
        : options_(o),
          station_(ledger_, kStationPort),
          app_(ledger_, station_, feeds_, links_, late_, o.seed),
          rng_{o.seed * 7 + 1} {}

    int run() {
        if (!startHeapCount()) return stop("heap allocations cannot be counted here");
        QAPI_Stack_initialize(kStationPort);
        app_.startStation(0);
        if (!station_.attach()) return stop("the station endpoint did not open");
        for (size_t i = 0; i < kFeeds; ++i) app_.startFeed(i);
        for (size_t i = 0; i < kLinks; ++i) app_.startLink(i);
        const size_t start = residentBytes();
        size_t warm = start;
        const auto began = std::chrono::steady_clock::now();
        const uint32_t ticks = options_.ticks + kQuietTail;
        app_.stillFrom(ticks - 1);
        for (uint32_t tick = 0; tick < ticks; ++tick) {
            if (tick < 64) {  // eight clients a tick: the registrations spread a little
                for (size_t i = tick * 8; i < tick * 8 + 8; ++i) {
                    if (i != 0) app_.startStation(i);
                }
            }
            if (tick < options_.ticks) events(tick);
            oneTick(tick);
            if (tick == kWarmUp) warm = residentBytes();
        }
        const size_t end = residentBytes();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        finalChecks();
        app_.stopEverything();
        QAPI_Stack_release();
        report(start, warm, end, seconds);
        // A run shorter than twice the warm-up says nothing of growth, nor
        // does one under AddressSanitizer (LeakSanitizer checks that one).
        if (options_.ticks >= 2 * kWarmUp && !underAddressSanitizer() && end > warm + kGrowthAllowance)
            app_.fail("resident memory grew after the warm-up");
        for (const std::string &f : app_.failures()) std::printf("FAILED: %s\n", f.c_str());
        return app_.failures().empty() ? 0 : 1;
    }

private:
    static constexpr size_t kGrowthAllowance = 256 * 1024;

    int stop(const char *why) {
        std::printf("soak: %s\n", why);
        return 2;
    }

    // The world: silences, resets, bursts and restarts on the hour's
    // schedule; calls rung in, display texts, records and route questions
    // at random.
    void events(uint32_t tick) {
        const uint32_t t = tick % kTicksPerHour;
        station_.setSilent(t >= kStationSilence && t < kStationSilence + kStationSilenceTicks);
        for (size_t k = 0; k < kLinks; ++k) {
            const uint32_t from = kLinkSilence + static_cast<uint32_t>(k) * kLinkSilenceGap;
            links_[k].setSilent(t >= from && t < from + kLinkSilenceTicks);
        }
        for (size_t k = 0; k < kFeeds; ++k) {
            if (t == kFeedReset + k * kFeedResetGap) resetDue_[k] = true;
            if (resetDue_[k] && feeds_[k].reset(app_.recordsOf(k))) resetDue_[k] = false;
            if (t == kFeedBurst + k * kFeedBurstGap) feeds_[k].write(kBurstRecords, true);
            const bool silent = k < kSilentFeeds && t >= kFeedSilence && t < kFeedSilence + kFeedSilenceTicks;
            if (!silent && rng_.below(30) == 0) feeds_[k].write(1, rng_.below(4) == 0);
        }
        if (t >= kRestarts && t < kRestarts + kRestartsPerHour)
            app_.startStation((restarted_++ * 61 + 7) % kStations);
        bursts_.start(tick);
        for (size_t k = 0; k < kLinks; ++k) {
            if (rng_.below(50) == 0) links_[k].ask(t / 10);
        }
        if (station_.silent()) return;
        const int32_t id = kFirstStation + static_cast<int32_t>(rng_.below(kStations));
        const qsim::Station *s = station_.board().find(id);
        if (rng_.below(25) == 0 && ledger_.of(id)->registered && s && !s->current)
            station_.send(station_.board().ring(id, std::to_string(4000 + rng_.below(1000))));
        if (rng_.below(5) == 0 && ledger_.of(id)->registered)
            station_.send(station_.board().display(id, "Soak " + std::to_string(tick)));
    }

    void oneTick(uint32_t tick) {
        station_.serve();
        station_.flush();
        for (FeedServer &f : feeds_) f.tick();
        for (LinkServer &l : links_) l.serve();
        late_.handOver();  // the payloads of the tick before: read again while this one runs
        const uint32_t cursor = scratchArena().cursor;
        const uint64_t allocations = heapAllocations(), lookups = hostLookups();
        qmsgAdvanceClock(100);
        late_.lastLook();
        const uint64_t made = heapAllocations() - allocations;
        tickLookups_ += hostLookups() - lookups;
        if (made != 0 && allocatingTicks_++ == 0) firstAllocatingTick_ = tick;
        tickAllocations_ += made;
        const uint32_t now = scratchArena().cursor;
        const size_t words = now >= cursor ? now - cursor : kScratchWords - cursor + now;
        if (words > mostWords_) mostWords_ = words;
        app_.afterTick(tick);
        bursts_.note(tick);
    }

    void finalChecks() {
        late_.finish();
        app_.finish(options_.ticks + kQuietTail);
        for (LinkServer &l : links_) l.serve();
        uint64_t written = 0, asked = 0, answered = 0, wrong = 0;
        for (FeedServer &f : feeds_) written += f.recordsWritten();
        for (LinkServer &l : links_) asked += l.asked(), answered += l.answered(), wrong += l.wrongAnswers();
        const Totals &t = app_.totals();
        if (t.records != written)
            app_.fail("call records: " + std::to_string(written) + " written, " + std::to_string(t.records) +
                      " received");
        if (t.routeRequests != asked || t.answers != answered || wrong != 0)
            app_.fail("route questions: " + std::to_string(asked) + " asked, " +
                      std::to_string(t.routeRequests) + " received, " + std::to_string(t.answers) +
                      " answered, " + std::to_string(answered) + " answers arrived, " +
                      std::to_string(wrong) + " wrong");
        if (!app_.allLinksUp()) app_.fail("a link did not come up again");
        if (tickLookups_ != 0)
            app_.fail(std::to_string(tickLookups_) + " host-name lookups through the system resolver in ticks");
        if (tickAllocations_ != 0)
            app_.fail(std::to_string(allocatingTicks_) +
                      " ticks allocated from the heap, the first at tick " +
                      std::to_string(firstAllocatingTick_));
        if (mostWords_ >= kScratchWords) app_.fail("a tick cut more payloads than the arena holds");
        if (udpDropped() != 0) app_.fail("datagrams were dropped on the way");
        if (late_.differences() != 0)
            app_.fail(
                std::to_string(late_.differences()) +
                " readings a tick late found a payload changed, the first of those drained after tick " +
                std::to_string(late_.firstDifferenceTick()) + " (code " +
                std::to_string(late_.firstDifferenceCode()) + ")");
        for (const Bursts::Burst *b : {&bursts_.callLists(), &bursts_.fanOut(), &bursts_.backlog()}) {
            if (b->open) app_.fail(std::string(b->name) + ": not handed on by the end");
        }
    }

    void report(size_t start, size_t warm, size_t end, double seconds) {
        const Totals &t = app_.totals();
        std::printf(
            "soak: %u ticks (%.2f simulated hours) in %.1f s: %zu station clients, %zu feeds, %zu links\n",
            options_.ticks, options_.ticks / double(kTicksPerHour), seconds, kStations, kFeeds, kLinks);
        std::printf("resident memory: start %.2f MiB, after the warm-up %.2f MiB, end %.2f MiB%s\n",
                    mib(start), mib(warm), mib(end),
                    underAddressSanitizer() ? " (with AddressSanitizer's own)" : "");
        std::printf(
            "heap allocations in ticks: %llu in %llu ticks; lookups through the system resolver: %llu\n",
            static_cast<unsigned long long>(tickAllocations_),
            static_cast<unsigned long long>(allocatingTicks_), static_cast<unsigned long long>(tickLookups_));
        std::printf("largest tick: %.1f KiB of payloads (the arena holds %zu KiB)\n",
                    double(mostWords_ * kScratchWordSize) / 1024.0, kScratchBytes / 1024);
        std::printf("bursts (the most ticks the library took to hand one on):");
        for (const Bursts::Burst *b : {&bursts_.callLists(), &bursts_.fanOut(), &bursts_.backlog()})
            std::printf(" %s %u;", b->name, b->longest);
        std::printf("\n");
        std::printf(
            "payloads read again during the next tick on another thread, and after it: %llu, %llu "
            "readings found one changed\n",
            static_cast<unsigned long long>(late_.payloadsRead()),
            static_cast<unsigned long long>(late_.differences()));
        std::array<Tally, kKinds> caused{}, received{};
        uint64_t own = 0;
        for (const ClientLedger &c : ledger_.clients) {
            own += c.ownTexts;
            for (size_t k = 0; k < kKinds; ++k) {
                caused[k].count += c.caused[k].count;
                received[k].count += c.received[k].count;
            }
        }
        std::printf("caused and received:");
        for (size_t k = 0; k < kKinds; ++k)
            std::printf(" %s %llu/%llu;", kindName(k), static_cast<unsigned long long>(caused[k].count),
                        static_cast<unsigned long long>(received[k].count));
        std::printf(" (texts include %llu dialed)\n", static_cast<unsigned long long>(own));
        std::printf(
            "also received: %llu snapshots (each the station's state), %llu heartbeats, %llu call "
            "records, %llu route questions (%llu answered); %llu operations; %llu station datagrams\n",
            static_cast<unsigned long long>(t.snapshots), static_cast<unsigned long long>(t.heartbeats),
            static_cast<unsigned long long>(t.records), static_cast<unsigned long long>(t.routeRequests),
            static_cast<unsigned long long>(t.answers), static_cast<unsigned long long>(t.operations),
            static_cast<unsigned long long>(station_.datagramsSent()));
        std::printf("failures caused and recovered: %llu feeds, %llu links\n",
                    static_cast<unsigned long long>(t.feedFailures),
                    static_cast<unsigned long long>(t.linkFailures));
    }

    Options options_;
    Ledger ledger_;
    LateReader late_;
    StationSide station_;
    std::deque<FeedServer> feeds_ = makeServers<FeedServer>(kFeeds);
    std::deque<LinkServer> links_ = makeServers<LinkServer>(kLinks);
    Application app_;
    test::Prng rng_;
    bool resetDue_[kFeeds] = {};
    Bursts bursts_{station_, app_, feeds_};
    size_t restarted_ = 0;
    uint64_t tickAllocations_ = 0, allocatingTicks_ = 0, firstAllocatingTick_ = 0, tickLookups_ = 0;
    size_t mostWords_ = 0;

    template <class Server>
    static std::deque<Server> makeServers(size_t n) {
        std::deque<Server> servers;
        for (size_t i = 0; i < n; ++i) servers.emplace_back(static_cast<int32_t>(i));
        return servers;
    }
};

}  // namespace
}  // namespace qapi::soak

int main(int argc, char **argv) {
    qapi::soak::Options options;
    if (!qapi::soak::parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--hours H] [--ticks N] [--seed S]\n", argv[0]);
        return 2;
    }
    qmsgUseManualClock(1);
    qapi::soak::Day day(options);
    return day.run();
}
