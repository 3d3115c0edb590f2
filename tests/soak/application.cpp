#include "soak/application.h"

#include <cstddef>
#include <cstring>

#include "adjunct/link.h"
#include "cmdr/feed.h"
#include "station/client.h"
#include "support/invariants.h"

namespace qapi::soak {
namespace {

constexpr int32_t kFeedOwner = 1000;
constexpr int32_t kLinkOwner = 2000;
constexpr uint32_t kLinkFailureGrace = 150;  // ticks after its server's silence a link may still fail
constexpr uint32_t kLastingTicks = 3;

int32_t stationId(size_t i) { return kFirstStation + static_cast<int32_t>(i); }

// The fields a snapshot shows: regState to indicator3 and the station.
bool sameVisibleStatus(const QapiStatusSnapshot &a, const QapiStatusSnapshot &b) {
    constexpr size_t kFirst = offsetof(QapiStatusSnapshot, canNewcall);
    constexpr size_t kBytes = offsetof(QapiStatusSnapshot, indicator3) + 1 - kFirst;
    return a.regState == b.regState && a.statusText == b.statusText && a.callState == b.callState &&
           a.eventValue == b.eventValue && a.infoValue == b.infoValue && a.stationId == b.stationId &&
           std::memcmp(&a.canNewcall, &b.canNewcall, kBytes) == 0;
}

}  // namespace

Application::Application(Ledger &ledger, StationSide &station, std::deque<FeedServer> &feeds,
                         std::deque<LinkServer> &links, LateReader &late, uint64_t seed)
    : ledger_(ledger),
      station_(station),
      late_(late),
      feedServers_(feeds),
      linkServers_(links),
      rng_{seed},
      stations_(kStations),
      feeds_(feeds.size()),
      links_(links.size()) {
    auto own = [&](QWindow window, int32_t owner) {
        if (owner_.size() <= window) owner_.resize(window + 1, -1);
        owner_[window] = owner;
    };
    for (size_t i = 0; i < stations_.size(); ++i) own(stations_[i].window = qmsgCreateWindow(), int32_t(i));
    for (size_t i = 0; i < feeds_.size(); ++i)
        own(feeds_[i].window = qmsgCreateWindow(), kFeedOwner + int32_t(i));
    for (size_t i = 0; i < links_.size(); ++i) {
        own(links_[i].window = qmsgCreateWindow(), kLinkOwner + int32_t(i));
        links_[i].answers.reserve(256);  // no allocation once the day runs
    }
    parkKeys_.reserve(32);
}

void Application::fail(const std::string &what) {
    if (++failureCount_ <= 20) failures_.push_back(what);
}

void Application::startStation(size_t i) {
    Station &s = stations_[i];
    if (s.handle && QAPI_Client_stop(s.handle) != 0) fail("a live station client would not stop");
    const QWindow window = s.window;
    s = Station{};
    s.window = window;
    ledger_.clients[i].restart();
    s.handle = QAPI_Client_start(window, stationId(i));
    if (!s.handle) return fail("station client " + std::to_string(stationId(i)) + " did not start");
    if (i % kWatchesPerWatcher != 0) return;
    for (size_t k = 0; k < kWatchesPerWatcher; ++k) {
        const int32_t watched = stationId((i + 1 + k) % kStations);
        ledger_.clients[i].watched[k] = watched;
        if (QAPI_Client_bdp_register(s.handle, watched, 1) != 0) fail("a watch was refused");
    }
}

void Application::watchEveryone(size_t first, size_t count, bool on) {
    for (size_t i = first; i < first + count && i < stations_.size(); ++i) {
        if (!stations_[i].handle) continue;
        if (QAPI_Client_bdp_register(stations_[i].handle, kEveryonesExtension, on ? 1 : 0) != 0)
            return fail("a watch of every client's extension was refused");
        ledger_.clients[i].alsoWatched = on ? kEveryonesExtension : -1;
    }
}

void Application::startFeed(size_t i) {
    Feed &f = feeds_[i];
    if (f.handle && QAPI_Cmdr_stop(f.handle) != 0) fail("a feed would not stop");
    f.handle = QAPI_Cmdr_start(f.window, "127.0.0.1", feedServers_[i].port());
    if (!f.handle) return fail("feed " + std::to_string(i) + " did not start");
    feedServers_[i].accept();
}

void Application::startLink(size_t i) {
    Link &l = links_[i];
    if (l.handle && QAPI_Adjunct_stop(l.handle) != 0) fail("a link would not stop");
    l.handle = QAPI_Adjunct_start(l.window, "127.0.0.1", linkServers_[i].port());
    l.state = QAPI_ADJUNCT_CONNECTING;
    l.answers.clear();
    if (!l.handle) fail("link " + std::to_string(i) + " did not start");
}

void Application::onStation(size_t i, const QMessage &m) {
    Station &s = stations_[i];
    ClientLedger &l = ledger_.clients[i];
    if (const std::string p = test::stationNotificationProblem(m, nullptr); !p.empty())
        return fail("station " + std::to_string(stationId(i)) + ": " + p);
    const auto *text = reinterpret_cast<const char *>(m.lParam);
    switch (m.wParam) {
    case QAPI_NOTIFY_SNAPSHOT:
        s.last = *reinterpret_cast<const QapiStatusSnapshot *>(m.lParam);
        s.snapshotSeen = true;
        ++totals_.snapshots;
        if (s.last.regState == QAPI_REG_FAILED) l.registered = false;
        break;
    case QAPI_NOTIFY_TEXT:
        l.received[kText].add(hashOfText(text));
        break;
    case QAPI_NOTIFY_NUMBER:
        l.received[kNumber].add(hashOfText(text));
        break;
    case QAPI_NOTIFY_EXTENSION: {
        const auto &status = *reinterpret_cast<const QapiExtensionStatus *>(m.lParam);
        const int32_t fields[2] = {status.extension, status.status};
        l.received[kExtension].add(hashOf(fields, sizeof fields));
        break;
    }
    case QAPI_NOTIFY_CALL_LIST:
        l.received[kCallList].add(hashOfLines(reinterpret_cast<const QapiLineList *>(m.lParam)->lines));
        break;
    case QAPI_NOTIFY_PARK_LIST: {
        const auto *list = reinterpret_cast<const QapiLineList *>(m.lParam);
        l.received[kParkList].add(hashOfLines(list->lines));
        parkKeys_.clear();
        for (size_t k = 0; k < QAPI_LINE_LIST_SLOTS && list->lines[k]; ++k) {
            uint32_t key = 0xFFFFFFFF;  // the digits of the key, as the server makes keys of them
            for (const char *c = list->lines[k]; *c >= '0' && *c <= '9'; ++c)
                key = key << 4 | uint32_t(*c - '0');
            parkKeys_.push_back(key);
        }
        break;
    }
    case QAPI_NOTIFY_HEARTBEAT:
        ++s.heartbeats;
        ++totals_.heartbeats;
        break;
    default:
        fail("station " + std::to_string(stationId(i)) + ": notification " + std::to_string(m.wParam));
    }
}

void Application::onFeed(size_t i, const QMessage &m) {
    Feed &f = feeds_[i];
    if (m.wParam == QAPI_NOTIFY_CMDR_STATUS) {
        // Only a connection its server reset may fail; the feed is then started again.
        ++totals_.feedFailures;
        const auto &status = *reinterpret_cast<const QapiStatusPayload *>(m.lParam);
        if (status.state != QAPI_CMDR_FAILED || std::strcmp(status.statusText, kFeedClosedText) != 0)
            fail("feed " + std::to_string(i) + ": status " + std::to_string(status.state));
        return startFeed(i);
    }
    const auto &p = *reinterpret_cast<const CmdrRecordPayload *>(m.lParam);
    const uint32_t sequence = f.nextSequence++;
    const uint8_t kind = FeedServer::kindOf(sequence);
    if (m.wParam != QAPI_NOTIFY_CMDR_RECORD || !test::cmdrPayloadProblem(p, kind).empty() ||
        p.numberA != static_cast<int32_t>(i) || p.numberB != static_cast<int32_t>(sequence) || p.month != 5 ||
        p.day != 17 || p.minute != sequence % 60 || FeedServer::digitsOf(sequence) != p.texts.dial.textA)
        fail("feed " + std::to_string(i) + ": record " + std::to_string(sequence) + " lost or damaged");
    ++totals_.records;
}

void Application::onLink(size_t i, const QMessage &m, uint32_t tick) {
    Link &l = links_[i];
    const auto *link = adjunctFindLink(l.handle);
    if (m.wParam == QAPI_NOTIFY_ADJUNCT_STATUS) {
        const auto &status = *reinterpret_cast<const QapiStatusPayload *>(m.lParam);
        if (status.state == QAPI_ADJUNCT_UP && l.state == QAPI_ADJUNCT_CONNECTING) {
            l.state = QAPI_ADJUNCT_UP;
            ++totals_.linksUp;
            return;
        }
        // A link fails only while its server is silent, or just after; it is then started again.
        ++totals_.linkFailures;
        if (status.state != QAPI_ADJUNCT_FAILED || tick - l.lastSilence > kLinkFailureGrace)
            fail("link " + std::to_string(i) + ": status " + std::to_string(status.state));
        return startLink(i);
    }
    const auto &p = *reinterpret_cast<const QapiRouteRequestPayload *>(m.lParam);
    const uint32_t sequence = l.nextSequence++;
    if (m.wParam != QAPI_NOTIFY_ROUTE_REQUEST || !link || !test::routeRequestProblem(*link, p).empty() ||
        p.numberA != static_cast<int32_t>(i) || p.numberB != static_cast<int32_t>(sequence) ||
        LinkServer::digitsOf(sequence) != p.textA)
        return fail("link " + std::to_string(i) + ": route request " + std::to_string(sequence) +
                    " lost or damaged");
    ++totals_.routeRequests;
    if (l.answers.size() < l.answers.capacity())
        l.answers.push_back({after(tick, 1, 20), p.handle, sequence});
}

std::string Application::stationProblem(size_t i) {
    Station &s = stations_[i];
    ClientLedger &l = ledger_.clients[i];
    for (size_t k = 0; k < kKinds; ++k) {
        if (!l.caused[k].same(l.received[k], orderedKind(k)))
            return std::string(kindName(k)) + ": " + std::to_string(l.caused[k].count) + " caused, " +
                   std::to_string(l.received[k].count) + " received (or damaged, or out of order)";
    }
    if (s.heartbeats != s.ticksLive / 10) return "heartbeats";
    const StationClient *c = stationFindClient(s.handle);
    if (!c) return "not live";
    const bool registered = c->snapshot.regState == QAPI_REG_REGISTERED;
    if (registered != l.registered) return "registered other than the server left it";
    if (registered ? !s.snapshotSeen || !sameVisibleStatus(s.last, c->snapshot)
                   : s.snapshotSeen && s.last.regState == QAPI_REG_REGISTERED)
        return "the last snapshot is not the station's state";
    const qsim::Station *held =
        registered && !station_.silent() ? station_.board().find(stationId(i)) : nullptr;
    if (held && c->snapshot.callState != static_cast<uint8_t>(held->phase))
        return "call state " + std::to_string(c->snapshot.callState) + ", the server's " +
               std::to_string(static_cast<int>(held->phase));
    return "";
}

// What the station's user (or the far end) does next, drawn when the call
// state changes; an operation its snapshot allows must be taken.
void Application::actStation(size_t i, uint32_t tick) {
    Station &s = stations_[i];
    const QapiStatusSnapshot &n = s.last;
    if (!s.snapshotSeen || n.regState != QAPI_REG_REGISTERED) return;
    if (n.callState != s.phaseSeen) {
        s.phaseSeen = n.callState;
        static constexpr uint32_t kWait[][2] = {{1000, 11000}, {10, 40}, {20, 200}, {20, 150}, {100, 1500}};
        const size_t w = n.callState == 0   ? 0
                         : n.callState == 6 ? 1
                         : n.callState == 2 ? 2
                         : n.callState == 4 ? 3
                                            : 4;
        s.actAt = after(tick, kWait[w][0], kWait[w][1]);
    }
    if (tick < s.actAt) return;
    s.actAt = tick + 300;  // again, if the state has not changed by then
    auto must = [&](int result, const char *what) {
        ++totals_.operations;
        if (result != 0) fail("station " + std::to_string(stationId(i)) + ": " + what + " refused");
    };
    const uint32_t r = rng_.below(100);
    const bool world = !station_.silent() && tick < stillFrom_;
    switch (n.callState) {
    case 0:  // idle: a call, or a parked one taken
        if (r < 60 && n.canNewcall) {
            const std::string digits = std::to_string(stationId(rng_.below(kStations)));
            ledger_.clients[i].caused[kText].add(hashOfText(digits.c_str()));  // the dialed text
            ++ledger_.clients[i].ownTexts;
            must(QAPI_Client_newcall(s.handle, digits.c_str()), "new call");
        } else if (r < 75 && !parkKeys_.empty()) {
            must(QAPI_Client_resume(s.handle, static_cast<int32_t>(parkKeys_[rng_.below(parkKeys_.size())])),
                 "resume");
        }
        break;
    case 6:
        if (n.canAnswer) must(QAPI_Client_answer(s.handle), "answer");
        break;
    case 10:  // talking: hang up, the far end hangs up, hold, or park
        if (r < 60) {
            must(QAPI_Client_clear(s.handle), "clear");
        } else if (r < 75) {
            if (world) station_.send(station_.board().farEndClears(stationId(i)));
        } else if (r < 88 && n.canHold) {
            must(QAPI_Client_hold(s.handle), "hold");
        } else if (n.canSuspend) {
            must(QAPI_Client_suspend(s.handle), "park");
        }
        break;
    case 2:  // dial tone with a call on hold: a second call dialed, or the held one taken back
        if (r < 40 && n.canDigits) {
            must(QAPI_Client_digits(s.handle, std::to_string(stationId(rng_.below(kStations))).c_str()),
                 "digits");
            // What was posted is the dialed text as it stands now (it goes after 0.4 s).
            ledger_.clients[i].caused[kText].add(hashOfText(stationFindClient(s.handle)->dialedText));
            ++ledger_.clients[i].ownTexts;
        } else {
            must(n.canRetrieve ? QAPI_Client_retrieve(s.handle) : QAPI_Client_clear(s.handle), "retrieve");
        }
        break;
    case 4:
        if (world) station_.send(station_.board().farEndAnswers(stationId(i)));
        break;
    default:
        if (n.canClear) must(QAPI_Client_clear(s.handle), "clear");
        break;
    }
}

void Application::actLink(size_t i, uint32_t tick) {
    Link &l = links_[i];
    if (linkServers_[i].silent()) l.lastSilence = tick;
    for (size_t k = 0; k < l.answers.size();) {
        const Answer a = l.answers[k];
        if (a.due > tick) {
            ++k;
            continue;
        }
        l.answers.erase(l.answers.begin() + static_cast<ptrdiff_t>(k));
        const std::string digits = LinkServer::digitsOf(a.sequence);
        if (QAPI_Adjunct_response(l.handle, a.handle, digits.c_str(), static_cast<int32_t>(a.sequence)) == 0)
            ++totals_.answers;
        else
            fail("link " + std::to_string(i) + ": the answer to request " + std::to_string(a.sequence) +
                 " refused");
    }
}

void Application::readMessages(uint32_t tick) {
    QMessage m;
    while (qmsgPeekMessage(&m)) {
        late_.take(m, tick);
        const int32_t owner = m.window < owner_.size() ? owner_[m.window] : -1;
        if (m.message != QAPI_NOTIFY_MSG || owner < 0) {
            fail("a message to no window of the application");
        } else if (owner >= kLinkOwner) {
            onLink(size_t(owner - kLinkOwner), m, tick);
        } else if (owner >= kFeedOwner) {
            onFeed(size_t(owner - kFeedOwner), m);
        } else {
            onStation(size_t(owner), m);
        }
    }
}

void Application::checkStations(uint32_t lasting) {
    for (size_t i = 0; i < stations_.size(); ++i) {
        if (!stations_[i].handle) continue;
        const std::string problem = stationProblem(i);
        if (problem.empty()) {
            stations_[i].troubled = 0;
        } else if (++stations_[i].troubled == lasting) {
            fail("station " + std::to_string(stationId(i)) + ": " + problem);
        }
    }
}

void Application::afterTick(uint32_t tick) {
    for (Station &s : stations_) ++s.ticksLive;
    readMessages(tick);
    // A difference must last: a datagram the kernel hands over a tick late
    // is not a notification lost, nor is a record the library holds back
    // for a later tick while a burst goes through.
    if (!station_.libraryBehind()) checkStations(kLastingTicks);
    for (size_t i = 0; i < stations_.size(); ++i) {
        if (stations_[i].handle) actStation(i, tick);
    }
    for (size_t i = 0; i < links_.size(); ++i) actLink(i, tick);
}

void Application::finish(uint32_t tick) {
    readMessages(tick);
    for (Station &s : stations_) s.troubled = 0;
    checkStations(1);
}

void Application::stopEverything() {
    for (Station &s : stations_) {
        if (s.handle && QAPI_Client_stop(s.handle) != 0) fail("a station client would not stop");
    }
    for (Feed &f : feeds_) {
        if (f.handle && QAPI_Cmdr_stop(f.handle) != 0) fail("a feed would not stop");
    }
    for (Link &l : links_) {
        if (l.handle && QAPI_Adjunct_stop(l.handle) != 0) fail("a link would not stop");
    }
}

}  // namespace qapi::soak
