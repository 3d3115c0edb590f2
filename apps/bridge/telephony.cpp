#include "bridge/telephony.h"

#include <algorithm>

namespace qbridge {
namespace {

using namespace std::chrono_literals;

// A line that stayed up this long starts its next wait from 1 s again.
constexpr auto kSteady = 60s;

Telephony::Line line(const Endpoint &server) {
    Telephony::Line l;
    l.server = server;
    const bool v6 = server.host.find(':') != std::string::npos;
    l.name = (v6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
    l.window = qmsgCreateWindow();
    return l;
}

}  // namespace

Telephony::Telephony(const Options &options, Say say) : options_(options), say_(std::move(say)) {
    for (const int32_t id : options_.stations) stations_.push_back({id, qmsgCreateWindow(), nullptr});
    for (const Endpoint &f : options_.feeds) feeds_.push_back(line(f));
    if (options_.link) link_ = line(*options_.link);
}

Telephony::~Telephony() {
    stopAll();
    for (Station &s : stations_) qmsgDestroyWindow(s.window);
    for (Line &f : feeds_) qmsgDestroyWindow(f.window);
    if (link_) qmsgDestroyWindow(link_->window);
}

bool Telephony::startStations() {
    bool all = true;
    for (Station &s : stations_) {
        s.handle = QAPI_Client_start(s.window, s.id);
        if (!s.handle) {
            say_("station " + std::to_string(s.id) + ": the library refused to start it");
            all = false;
        }
    }
    if (!stations_.empty() && stations_.front().handle) {
        for (const int32_t extension : options_.watch) {
            if (QAPI_Client_bdp_register(stations_.front().handle, extension, 1) != 0) {
                say_("extension " + std::to_string(extension) + ": the library refused to watch it");
                all = false;
            }
        }
    }
    return all;
}

bool Telephony::start(Line &l, bool feed, Clock::time_point now) {
    l.handle = feed ? QAPI_Cmdr_start(l.window, l.server.host.c_str(), l.server.port)
                    : QAPI_Adjunct_start(l.window, l.server.host.c_str(), l.server.port);
    const char *what = feed ? "feed " : "link ";
    // A start may hold the thread up to the library's deadline.
    now = std::max(now, Clock::now());
    if (!l.handle) {
        l.failures = std::min(l.failures + 1, 7);
        const auto wait = std::chrono::seconds(std::min(60, 1 << (l.failures - 1)));
        l.nextTry = now + wait;
        const bool changed = l.state != "failed";
        l.state = "failed";
        l.text = "cannot connect";
        say_(what + l.name + ": cannot connect; next try in " + std::to_string(wait.count()) + " s");
        return changed;
    }
    l.upSince = now;
    l.occurrences.reset();  // a new connection
    l.state = feed ? "running" : "connecting";
    l.text.clear();
    say_(what + l.name + (l.failures ? ": connected again" : ": connected"));
    return true;
}

bool Telephony::startDue(Clock::time_point now) {
    bool changed = false;
    for (Line &f : feeds_)
        if (!f.handle && now >= f.nextTry) changed = start(f, true, now) || changed;
    if (link_ && !link_->handle && now >= link_->nextTry) changed = start(*link_, false, now) || changed;
    return changed;
}

void Telephony::failed(Line &l, const std::string &why, Clock::time_point now) {
    const bool feed = &l != (link_ ? &*link_ : nullptr);
    if (feed)
        QAPI_Cmdr_stop(l.handle);
    else
        QAPI_Adjunct_stop(l.handle);
    l.handle = nullptr;
    l.failures = std::min(l.failures + 1, 7);
    const auto wait = std::chrono::seconds(std::min(60, 1 << (l.failures - 1)));
    l.nextTry = now + wait;
    l.state = "failed";
    l.text = why;
    say_((feed ? "feed " : "link ") + l.name + ": failed: " + why + "; next try in " +
         std::to_string(wait.count()) + " s");
}

void Telephony::working(Line &l, Clock::time_point now) {
    if (l.failures && now - l.upSince >= kSteady) l.failures = 0;
}

Telephony::Clock::time_point Telephony::nextStart() const {
    Clock::time_point next = Clock::time_point::max();
    for (const Line &f : feeds_)
        if (!f.handle) next = std::min(next, f.nextTry);
    if (link_ && !link_->handle) next = std::min(next, link_->nextTry);
    return next;
}

void Telephony::stopAll() {
    for (Station &s : stations_) {
        if (s.handle) QAPI_Client_stop(s.handle);
        s.handle = nullptr;
    }
    for (Line &f : feeds_) {
        if (f.handle) QAPI_Cmdr_stop(f.handle);
        f.handle = nullptr;
    }
    if (link_ && link_->handle) QAPI_Adjunct_stop(link_->handle);
    if (link_) link_->handle = nullptr;
}

Telephony::Station *Telephony::station(int32_t id) {
    for (Station &s : stations_)
        if (s.id == id) return &s;
    return nullptr;
}

Telephony::Station *Telephony::stationOf(QWindow window) {
    for (Station &s : stations_)
        if (window && s.window == window) return &s;
    return nullptr;
}

Telephony::Line *Telephony::feedOf(QWindow window) {
    for (Line &f : feeds_)
        if (window && f.window == window) return &f;
    return nullptr;
}

}  // namespace qbridge
