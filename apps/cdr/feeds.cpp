#include "cdr/feeds.h"

#include <cstring>

namespace qcdr {
namespace {

// A feed that has stayed up this long starts its next wait from 1 s again.
constexpr auto kSteady = std::chrono::seconds(60);

}  // namespace

Feeds::Feeds(const std::vector<qtools::Endpoint> &servers, Say say) : say_(std::move(say)) {
    feeds_.resize(servers.size());
    for (size_t i = 0; i < servers.size(); ++i) {
        Feed &f = feeds_[i];
        f.server = servers[i];
        const bool v6 = f.server.host.find(':') != std::string::npos;
        f.name = (v6 ? "[" + f.server.host + "]" : f.server.host) + ":" + std::to_string(f.server.port);
        f.window = qmsgCreateWindow();
    }
}

Feeds::~Feeds() {
    stopAll();
    for (Feed &f : feeds_) qmsgDestroyWindow(f.window);
}

void Feeds::stopAll() {
    for (Feed &f : feeds_) {
        if (f.handle) QAPI_Cmdr_stop(f.handle);
        f.handle = nullptr;
    }
}

size_t Feeds::running() const {
    size_t n = 0;
    for (const Feed &f : feeds_) n += f.handle != nullptr;
    return n;
}

void Feeds::startDue(Clock::time_point now) {
    for (Feed &f : feeds_) {
        if (f.handle) {
            if (f.backoff.failures() && now - f.upSince >= kSteady) f.backoff.succeeded();
            continue;
        }
        if (now < f.nextTry) continue;
        f.handle = QAPI_Cmdr_start(f.window, f.server.host.c_str(), f.server.port);
        // The start may have held the thread for a while (a connection
        // that takes its time).
        now = Clock::now() > now ? Clock::now() : now;
        if (!f.handle) {
            const auto wait = f.backoff.failed();
            f.nextTry = now + wait;
            say_("feed " + f.name + ": cannot connect; next try in " + std::to_string(wait.count()) + " s");
            continue;
        }
        f.upSince = now;
        f.occurrences.reset();  // a new connection
        say_("feed " + f.name + (f.backoff.failures() ? ": connected again" : ": connected"));
    }
}

void Feeds::failed(Feed &f, const std::string &why, Clock::time_point now) {
    QAPI_Cmdr_stop(f.handle);
    f.handle = nullptr;
    const auto wait = f.backoff.failed();
    f.nextTry = now + wait;
    say_("feed " + f.name + ": failed: " + why + "; next try in " + std::to_string(wait.count()) + " s");
}

bool Feeds::handle(const QMessage &m, Clock::time_point now, int64_t nowUs, const std::function<void(Row &&)> &take) {
    if (m.message != QAPI_NOTIFY_MSG || m.window == 0) return false;
    Feed *feed = nullptr;
    for (Feed &f : feeds_)
        if (f.window == m.window) feed = &f;
    if (!feed) return false;
    if (m.wParam == QAPI_NOTIFY_CMDR_RECORD && m.lParam) {
        Row row;
        std::memcpy(&row.record, reinterpret_cast<const void *>(m.lParam), sizeof row.record);
        row.server = feed->name;
        row.receivedUs = nowUs;
        row.key = recordKey(row.record, static_cast<uint16_t>(feed->server.port));
        row.occurrence = feed->occurrences.next(row.key, row.record);
        if (feed->backoff.failures()) feed->backoff.succeeded();
        take(std::move(row));
    } else if (m.wParam == QAPI_NOTIFY_CMDR_STATUS && m.lParam && feed->handle) {
        const auto *status = reinterpret_cast<const QapiStatusPayload *>(m.lParam);
        if (status->state == QAPI_CMDR_FAILED)
            failed(*feed, status->statusText ? status->statusText : "the feed failed", now);
    }
    return true;
}

}  // namespace qcdr
