#include "bridge/bridge.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "bridge/json_out.h"
#include "bridge/payloads.h"
#include "call_records/record_key.h"

namespace qbridge {
namespace {

using namespace std::chrono_literals;

constexpr auto kConfirmPatience = 30s;  // an unconfirmed event this old: the connection is made again
constexpr auto kDrainAtExit = 3s;       // at the end, waiting for the last confirmations
constexpr size_t kRememberedReplies = 256;
constexpr size_t kMemoryBytes = 64 * 1024 * 1024;

int64_t epochAfter(const std::optional<RunMark> &previous) {
    const int64_t now = wallClockUs();
    return previous && previous->epoch >= now ? previous->epoch + 1 : now;
}

template <typename T>
T payload(intptr_t value) {
    T out;
    std::memcpy(&out, reinterpret_cast<const void *>(value), sizeof out);
    return out;
}

std::string hex(const uint8_t *bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) out += {kHex[bytes[i] >> 4], kHex[bytes[i] & 15]};
    return out;
}

void writeLine(JsonWriter &w, const Telephony::Line &l) {
    w.beginObject().text("server", l.name).text("state", l.state);
    if (l.text.empty())
        w.null("text");
    else
        w.text("text", l.text);
    w.endObject();
}

}  // namespace

Bridge::Bridge(const Options &options, Say say)
    : options_(options),
      say_(std::move(say)),
      spool_(options.spool, qspool::Bounds{options.spoolBytes, 1024 * 1024}),
      marker_(options.spool + ".run"),
      maker_(options.site, epochAfter(marker_.previous())),
      delivery_(spool_,
                DeliveryLimits{options.window, options.memoryEvents, kMemoryBytes, options.spoolBytes}),
      broker_(options, say_),
      site_(options.stations),
      routing_(options.routeDeadlineMs) {}

Bridge::~Bridge() = default;

int Bridge::run(const volatile std::sig_atomic_t &stop) {
    if (spool_.damagedBytes())
        say_("spool " + spool_.path() + ": " + std::to_string(spool_.damagedBytes()) +
             " damaged bytes set aside in " + spool_.path() + ".damaged");
    if (!spool_.empty())
        say_("spool " + spool_.path() + ": " + std::to_string(spool_.waiting()) +
             " events wait; they are sent first");
    if (const auto &p = marker_.previous(); p && p->safeSeq < p->lastSeq) {
        previousGaps_.push_back(
            {p->epoch, p->safeSeq + 1, p->lastSeq, "the bridge ended before the broker confirmed them"});
        say_("epoch " + std::to_string(p->epoch) + " ended before events " + std::to_string(p->safeSeq + 1) +
             " to " + std::to_string(p->lastSeq) + " were confirmed: they may be missing");
    }
    if (QAPI_Stack_initialize(options_.stationPort) != 0)
        throw std::runtime_error("the library did not start");
    telephony_.emplace(options_, say_);
    telephony_->startStations();
    telephony_->startDue(Clock::now());
    say_("bridging site " + options_.site + " as epoch " + std::to_string(maker_.epoch()) + " to " +
         options_.broker.shown());
    emitStatus("up");
    try {
        while (!stop) turn();
    } catch (const std::exception &e) {
        // A spool that cannot be read any more, or no memory: what is not
        // on the disk yet is lost, and said.
        const size_t unsafe = delivery_.unsafe();
        say_(std::string("stopped by an error: ") + e.what() + "; " + std::to_string(unsafe) +
             " events neither confirmed nor on the disk are lost; " + std::to_string(spool_.waiting()) +
             " wait in the spool");
        telephony_.reset();
        QAPI_Stack_release();
        return unsafe ? 2 : 1;
    }
    finish();
    telephony_.reset();
    QAPI_Stack_release();
    return delivery_.counts().lost ? 2 : 0;
}

void Bridge::turn() {
    const auto now = Clock::now();
    if (telephony_->startDue(now)) statusDue_ = true;
    broker_.step(now, *this);
    if (broker_.takeLost()) delivery_.connectionLost();
    routesDue(now);
    if (statusDue_ || now >= nextStatus_) emitStatus("running");
    publish();
    wait();
    QMessage m;
    while (qmsgPeekMessage(&m)) take(m);
}

void Bridge::publish() {
    if (broker_.ready() && delivery_.unconfirmed() &&
        Clock::now() - delivery_.oldestPublished() > kConfirmPatience)
        broker_.drop("no confirmation for " + std::to_string(kConfirmPatience.count()) + " s");
    if (broker_.takeLost()) delivery_.connectionLost();
    delivery_.pump(broker_);
    if (broker_.takeLost()) delivery_.connectionLost();
    delivery_.flush();
    for (const std::string &line : delivery_.takeNews()) {
        say_(line);
        statusDue_ = true;
    }
    const uint64_t unsafe = delivery_.firstUnsafe(maker_.epoch());
    marker_.mark({maker_.epoch(), maker_.lastSeq(), unsafe ? unsafe - 1 : maker_.lastSeq()});
}

void Bridge::wait() {
    pollfd fds[2] = {{qmsgQueueFd(), POLLIN, 0}, {-1, 0, 0}};
    nfds_t n = 1;
    if (const int fd = broker_.fd(); fd >= 0) {
        short events = broker_.pollEvents();
        // Events wait for room in the socket.
        if (broker_.ready() && delivery_.pending() && delivery_.unconfirmed() < options_.window)
            events |= POLLOUT;
        fds[n++] = {fd, events, 0};
    }
    const auto next =
        std::min({broker_.wakeAt(), telephony_->nextStart(), routing_.nextDeadline(), nextStatus_});
    const auto now = Clock::now();
    const auto ms = next <= now ? 0 : std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    ::poll(fds, n, static_cast<int>(std::min<int64_t>(ms, 1000)));
}

void Bridge::take(const QMessage &m) {
    if (m.message != QAPI_NOTIFY_MSG) return;
    const auto code = static_cast<uint32_t>(m.wParam);
    if (Telephony::Station *s = telephony_->stationOf(m.window)) return stationNote(*s, code, m.lParam);
    if (Telephony::Line *f = telephony_->feedOf(m.window)) return feedNote(*f, code, m.lParam);
    if (telephony_->isLink(m.window)) return linkNote(code, m.lParam);
}

void Bridge::emit(std::string_view kind, std::string_view id, std::string_view event, std::string_view data,
                  std::string messageId) {
    delivery_.add(maker_.make(kind, id, event, data, std::move(messageId)), broker_.ready());
}

void Bridge::stationNote(Telephony::Station &s, uint32_t code, intptr_t value) {
    const std::string id = std::to_string(s.id);
    StationView *view = site_.station(s.id);
    const char *text = reinterpret_cast<const char *>(value);
    switch (code) {
    case QAPI_NOTIFY_SNAPSHOT: {
        if (!value) return;
        const auto snapshot = payload<QapiStatusSnapshot>(value);
        view->snapshot = snapshot;
        return emit("station", id, "snapshot", snapshotData(snapshot));
    }
    case QAPI_NOTIFY_KEY:
    case QAPI_NOTIFY_DIGIT: {
        JsonWriter w;
        w.beginObject().text("display", code == QAPI_NOTIFY_KEY ? "key" : "digit");
        const char c = static_cast<char>(value);
        if (value < 0 || value > 254)
            w.null("char");
        else
            w.text("char", std::string_view(&c, 1));
        return emit("station", id, "display", w.endObject().str());
    }
    case QAPI_NOTIFY_NUMBER:
    case QAPI_NOTIFY_TEXT: {
        const std::string t = libraryText(text);
        (code == QAPI_NOTIFY_NUMBER ? view->number : view->text) = t;
        return emit("station", id, "display",
                    JsonWriter()
                        .beginObject()
                        .text("display", code == QAPI_NOTIFY_NUMBER ? "number" : "text")
                        .text("text", t)
                        .endObject()
                        .str());
    }
    case QAPI_NOTIFY_EXTENSION: {
        if (!value) return;
        const auto status = payload<QapiExtensionStatus>(value);
        site_.lamp(status.extension, status.status);
        return emit("extension", std::to_string(status.extension), "status",
                    JsonWriter()
                        .beginObject()
                        .number("extension", status.extension)
                        .number("status", status.status)
                        .endObject()
                        .str());
    }
    case QAPI_NOTIFY_CALL_LIST:
        view->calls = listLines(reinterpret_cast<const QapiLineList *>(value));
        return emit("station", id, "call-list", linesData(view->calls));
    case QAPI_NOTIFY_PARK_LIST: {
        // Every station is told of the same list: it is published once.
        std::vector<std::string> lines = listLines(reinterpret_cast<const QapiLineList *>(value));
        const std::string data = linesData(lines);
        if (site_.parked(std::move(lines))) emit("park", "list", "changed", data);
        return;
    }
    default:
        return;  // the heartbeat, and whatever this bridge does not know
    }
}

void Bridge::feedNote(Telephony::Line &feed, uint32_t code, intptr_t value) {
    const auto now = Clock::now();
    if (code == QAPI_NOTIFY_CMDR_RECORD && value) {
        const auto record = payload<QapiCmdrRecordPayload>(value);
        // The collector's key: a record the server sends again keeps its id.
        const qrecords::RecordKey key = qrecords::recordKey(record, static_cast<uint16_t>(feed.server.port));
        const uint32_t occurrence = feed.occurrences.next(key, record);
        telephony_->working(feed, now);
        emit("cdr", std::to_string(feed.server.port), "record", recordData(record),
             options_.site + ".cdr." + hex(key.data(), key.size()) + "." + std::to_string(occurrence));
    } else if (code == QAPI_NOTIFY_CMDR_STATUS && value && feed.handle) {
        const auto status = payload<QapiStatusPayload>(value);
        if (status.state == QAPI_CMDR_FAILED) {
            telephony_->failed(feed, status.statusText ? libraryText(status.statusText) : "failed", now);
            statusDue_ = true;
        }
    }
}

void Bridge::linkNote(uint32_t code, intptr_t value) {
    Telephony::Line &link = *telephony_->link();
    const auto now = Clock::now();
    if (code == QAPI_NOTIFY_ADJUNCT_STATUS && value && link.handle) {
        const auto status = payload<QapiStatusPayload>(value);
        if (status.state == QAPI_ADJUNCT_UP) {
            link.state = "up";
            telephony_->working(link, now);
        } else if (status.state == QAPI_ADJUNCT_FAILED) {
            // Its open questions went with it.
            for (const uint32_t h : routing_.open()) routeClosed(h, "nobody", nullptr, 0);
            telephony_->failed(link, status.statusText ? libraryText(status.statusText) : "failed", now);
        }
        statusDue_ = true;
    } else if (code == QAPI_NOTIFY_ROUTE_REQUEST && value) {
        const auto request = payload<QapiRouteRequestPayload>(value);
        routing_.asked(request.handle, now);
        emit("route", std::to_string(request.handle), "request",
             routeRequestData(request, options_.routeDeadlineMs));
    }
}

void Bridge::routesDue(Clock::time_point now) {
    for (const uint32_t h : routing_.due(now)) {
        Telephony::Line *link = telephony_->link();
        const char *digits = options_.routeDefault ? options_.routeDefault->c_str() : nullptr;
        if (digits && link && link->handle &&
            QAPI_Adjunct_response(link->handle, h, digits, options_.routeDefaultValue) == 0)
            routeClosed(h, "default", digits, options_.routeDefaultValue);
        else
            routeClosed(h, "nobody", nullptr, 0);
    }
}

void Bridge::routeClosed(uint32_t handle, const char *by, const char *digits, int32_t value,
                         const std::string &appId) {
    routing_.close(handle, by);
    JsonWriter w;
    w.beginObject().number("handle", handle).text("by", by);
    if (!appId.empty()) w.text("app_id", appId);
    if (digits)
        w.text("digits", digits);
    else
        w.null("digits");
    w.number("value", value).endObject();
    emit("route", std::to_string(handle), "answered", w.str());
}

std::string Bridge::answerRoute(uint32_t handle, const char *digits, int32_t value,
                                const std::string &appId) {
    const std::string question = "routing question " + std::to_string(handle);
    switch (routing_.status(handle)) {
    case Routing::Status::unknown:
        return "no " + question + " is open";
    case Routing::Status::closed:
        return question + " is closed: answered by " + routing_.closedBy(handle);
    case Routing::Status::open:
        break;
    }
    Telephony::Line *link = telephony_->link();
    if (!link || !link->handle) return "the routing link is down";
    if (QAPI_Adjunct_response(link->handle, handle, digits, value) != 0)
        return "the library refused the answer to " + question;
    routeClosed(handle, "consumer", digits, value, appId);
    return "";
}

void Bridge::emitStatus(const char *state) {
    JsonWriter w;
    w.beginObject().text("state", state).beginArray("stations");
    for (const Telephony::Station &s : telephony_->stations()) {
        const StationView *view = site_.station(s.id);
        w.beginObject().number("id", s.id);
        if (view && view->snapshot)
            w.number("reg_state", view->snapshot->regState);
        else
            w.null("reg_state");
        w.endObject();
    }
    w.endArray().beginArray("feeds");
    for (const Telephony::Line &f : telephony_->feeds()) writeLine(w, f);
    w.endArray().beginArray("links");
    if (Telephony::Line *l = telephony_->link()) writeLine(w, *l);
    w.endArray();
    w.beginObject("spool")
        .text("path", spool_.path())
        .unsignedNumber("waiting", spool_.waiting())
        .unsignedNumber("bytes", spool_.bytes())
        .endObject();
    w.unsignedNumber("lost", delivery_.counts().lost).beginArray("gaps");
    std::vector<Gap> gaps = previousGaps_;
    gaps.insert(gaps.end(), delivery_.gaps().begin(), delivery_.gaps().end());
    for (const Gap &g : gaps)
        w.beginObject()
            .number("epoch", g.epoch)
            .unsignedNumber("from", g.from)
            .unsignedNumber("to", g.to)
            .text("why", g.why)
            .endObject();
    w.endArray();
    if (const auto &p = marker_.previous(); firstStatus_ && p)
        w.beginObject("previous")
            .number("epoch", p->epoch)
            .unsignedNumber("last_seq", p->lastSeq)
            .unsignedNumber("safe_seq", p->safeSeq)
            .endObject();
    w.endObject();
    emit("bridge", options_.site, "status", w.str());
    firstStatus_ = false;
    statusDue_ = false;
    nextStatus_ = Clock::now() + std::chrono::seconds(options_.statusSeconds);
}

void Bridge::confirmed(uint64_t tag, bool multiple) { delivery_.confirmed(tag, multiple); }

void Bridge::command(Command &&c) {
    // At the end, a command is left to the next run: unacknowledged, the
    // broker gives it again.
    if (stopping_) return;
    ++commands_;
    if (c.redelivered && !c.correlationId.empty()) {
        // A command whose acknowledgement a lost connection took: answered
        // again, not carried out again.
        for (const auto &[id, reply] : recentReplies_)
            if (id == c.correlationId) return broker_.answer(c, reply);
    }
    std::string reply = c.tooLarge
                            ? errorReply("the command has " + std::to_string(c.size) + " bytes; at most " +
                                         std::to_string(options_.commandBytes) + " are taken")
                            : runCommand(c.body, c.appId, *this);
    if (!c.correlationId.empty() && reply.size() <= 4096) {
        recentReplies_.emplace_back(c.correlationId.substr(0, 256), reply);
        if (recentReplies_.size() > kRememberedReplies) recentReplies_.pop_front();
    }
    broker_.answer(c, std::move(reply));
}

QapiHandle Bridge::stationHandle(int32_t id) {
    Telephony::Station *s = telephony_->station(id);
    return s ? s->handle : nullptr;
}

const StationView *Bridge::stationView(int32_t id) { return site_.station(id); }

std::string Bridge::state() {
    JsonWriter w;
    w.beginObject()
        .text("site", options_.site)
        .number("epoch", maker_.epoch())
        .unsignedNumber("seq", maker_.lastSeq());
    site_.write(w);
    w.beginArray("feeds");
    for (const Telephony::Line &f : telephony_->feeds()) writeLine(w, f);
    w.endArray().beginArray("links");
    if (Telephony::Line *l = telephony_->link()) writeLine(w, *l);
    w.endArray().beginArray("routes");
    for (const uint32_t h : routing_.open()) w.number(nullptr, h);
    return w.endArray().endObject().take();
}

void Bridge::finish() {
    QMessage m;
    while (qmsgPeekMessage(&m)) take(m);
    stopping_ = true;
    telephony_->stopAll();
    emitStatus("stopping");
    const auto deadline = Clock::now() + kDrainAtExit;
    publish();
    while (broker_.ready() && !delivery_.idle() && Clock::now() < deadline) {
        pollfd p{broker_.fd(), broker_.pollEvents(), 0};
        ::poll(&p, 1, 50);
        broker_.step(Clock::now(), *this);
        if (broker_.takeLost()) delivery_.connectionLost();
        publish();
    }
    delivery_.shutdown();
    broker_.finish();
    const uint64_t unsafe = delivery_.firstUnsafe(maker_.epoch());
    marker_.mark({maker_.epoch(), maker_.lastSeq(), unsafe ? unsafe - 1 : maker_.lastSeq()});
    const DeliveryCounts &c = delivery_.counts();
    say_("stopped: " + std::to_string(c.made) + " events, " + std::to_string(c.confirmed) + " confirmed, " +
         std::to_string(c.spooled) + " spooled (" + std::to_string(spool_.waiting()) +
         " wait in the spool), " + std::to_string(c.resent) + " sent again, " + std::to_string(c.lost) +
         " lost; " + std::to_string(commands_) + " commands");
}

}  // namespace qbridge
