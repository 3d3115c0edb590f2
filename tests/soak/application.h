// The application of the soak: it starts the station clients, feeds and
// links, drains its queue after every tick, reads every payload whole and
// checks it, and acts as its users would (answering, clearing, holding,
// parking and resuming calls, dialing, answering route questions, starting
// again what failed).  After every tick it checks that it received exactly
// what the servers caused, that its last snapshot of each station is the
// station's state, and that the station's state is what the server holds
// (a difference must last three ticks to count).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "qapi.h"
#include "robustness/fuzz_support.h"
#include "soak/late_reader.h"
#include "soak/ledger.h"
#include "soak/servers.h"
#include "soak/station_side.h"

namespace qapi::soak {

struct Totals {
    uint64_t snapshots = 0, heartbeats = 0, records = 0, routeRequests = 0, answers = 0;
    uint64_t feedFailures = 0, linkFailures = 0, linksUp = 0, operations = 0;
};

class Application {
public:
    Application(Ledger &ledger, StationSide &station, std::deque<FeedServer> &feeds,
                std::deque<LinkServer> &links, LateReader &late, uint64_t seed);

    void startStation(size_t index);  // (again): its handle is new
    void startFeed(size_t index);
    void startLink(size_t index);
    // Clients `first` to `first` + `count` - 1 (those live) start or stop
    // watching kEveryonesExtension.
    void watchEveryone(size_t first, size_t count, bool on);
    // After every tick: every message, the checks, then what the users do.
    void afterTick(uint32_t tick);
    // At the end: what the users' last operations posted, and the checks
    // once more, with no tick's grace.
    void finish(uint32_t tick);
    void stopEverything();
    // From this tick on the users make the server do nothing of its own (the
    // far end answering or clearing): what it would send then goes out with
    // a flush that never comes, and the final checks compare the library
    // with a server that moved on alone.
    void stillFrom(uint32_t tick) { stillFrom_ = tick; }

    const Totals &totals() const { return totals_; }
    const std::vector<std::string> &failures() const { return failures_; }
    uint64_t recordsOf(size_t feed) const { return feeds_[feed].nextSequence; }
    bool allLinksUp() const {
        for (const Link &l : links_) {
            if (l.state != QAPI_ADJUNCT_UP) return false;
        }
        return true;
    }
    // Notes a failure (the first few are kept word for word).
    void fail(const std::string &what);

private:
    uint32_t stillFrom_ = UINT32_MAX;  // see stillFrom
    struct Station {
        QapiHandle handle = nullptr;
        QWindow window = 0;
        QapiStatusSnapshot last{};  // the last snapshot received
        bool snapshotSeen = false;
        uint64_t heartbeats = 0;
        uint32_t ticksLive = 0;
        uint8_t phaseSeen = 0xFF;  // the call state the next action was drawn for
        uint32_t actAt = 0;
        uint32_t troubled = 0;  // ticks in a row that the checks found something wrong
    };
    struct Feed {
        QapiHandle handle = nullptr;
        QWindow window = 0;
        uint32_t nextSequence = 0;
    };
    struct Answer {
        uint32_t due, handle, sequence;
    };
    struct Link {
        QapiHandle handle = nullptr;
        QWindow window = 0;
        int32_t state = QAPI_ADJUNCT_CONNECTING;
        uint32_t nextSequence = 0;
        uint32_t lastSilence = 0;  // the last tick its server was silent
        std::vector<Answer> answers;
    };

    void readMessages(uint32_t tick);
    // Notes a failure for each station found wrong `lasting` checks in a row.
    void checkStations(uint32_t lasting);
    void onStation(size_t i, const QMessage &m);
    void onFeed(size_t i, const QMessage &m);
    void onLink(size_t i, const QMessage &m, uint32_t tick);
    // What is wrong with the station's notifications or state, or "".
    std::string stationProblem(size_t i);
    void actStation(size_t i, uint32_t tick);
    void actLink(size_t i, uint32_t tick);
    uint32_t after(uint32_t tick, uint32_t least, uint32_t most) {
        return tick + least + rng_.below(most - least);
    }

    Ledger &ledger_;
    StationSide &station_;
    LateReader &late_;
    std::deque<FeedServer> &feedServers_;
    std::deque<LinkServer> &linkServers_;
    test::Prng rng_;
    std::vector<Station> stations_;
    std::vector<Feed> feeds_;
    std::vector<Link> links_;
    std::vector<int32_t> owner_;      // by window: station i, feed 1000 + i, link 2000 + i
    std::vector<uint32_t> parkKeys_;  // of the last park list
    Totals totals_;
    std::vector<std::string> failures_;
    uint64_t failureCount_ = 0;
};

}  // namespace qapi::soak
