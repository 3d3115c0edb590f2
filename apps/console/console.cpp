#include "console/console.h"

#include <algorithm>
#include <cstdio>

#include "console/format.h"
#include "console/json_format.h"

namespace qconsole {
namespace {

const char *const kFeedStates[] = {"0", "running", "failed"};
const char *const kAdjunctStates[] = {"connecting", "up", "failed"};

std::string handleText(uint32_t handle) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(handle));
    return text;
}

template <typename T>
const T &payload(intptr_t value) {
    return *reinterpret_cast<const T *>(value);
}

}  // namespace

Console::~Console() {
    for (const StationEntry &s : stations_) qmsgDestroyWindow(s.window);
    for (const LinkEntry &link : links_) {
        if (link.window) qmsgDestroyWindow(link.window);
    }
}

void Console::print(const Source &source, const std::string &text) {
    out_.note(source, "message", text, JsonObject().text("text", text));
}

bool Console::result(const Source &source, const std::string &what, bool ok) {
    out_.note(source, "result", what + (ok ? ": accepted" : ": refused"),
              JsonObject().text("what", what).flag("accepted", ok));
    if (!ok) ++refusals;
    return ok;
}

void Console::commandError(const std::string &text) {
    std::fprintf(stderr, "qapi-console: %s\n", text.c_str());
    ++commandErrors;
}

StationEntry *Console::station(int32_t id) {
    for (StationEntry &s : stations_) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

bool Console::startStation(int32_t id) {
    const QWindow window = qmsgCreateWindow();
    const QapiHandle handle = QAPI_Client_start(window, id);
    if (!handle)
        qmsgDestroyWindow(window);
    else
        stations_.push_back({id, handle, window});
    return result(Source::station(id), "start", handle != nullptr);
}

bool Console::stopStation(int32_t id) {
    StationEntry *s = station(id);
    if (!s) {
        commandError("no station " + std::to_string(id));
        return false;
    }
    const bool ok = QAPI_Client_stop(s->handle) == 0;
    if (ok) {
        qmsgDestroyWindow(s->window);
        stations_.erase(stations_.begin() + (s - stations_.data()));
    }
    return result(Source::station(id), "stop", ok);
}

bool Console::startLink(Link kind, const Endpoint &server) {
    LinkEntry &link = links_[static_cast<int>(kind)];
    if (link.handle) stopLink(kind);
    if (!link.window) link.window = qmsgCreateWindow();
    link.handle = link.start(link.window, server.host.c_str(), server.port);
    return result(link.source, "start " + server.host + " port " + std::to_string(server.port),
                  link.handle != nullptr);
}

bool Console::stopLink(Link kind) {
    LinkEntry &link = links_[static_cast<int>(kind)];
    const bool ok = link.handle && link.stop(link.handle) == 0;
    if (ok) link.handle = nullptr;
    return result(link.source, "stop", ok);
}

bool Console::respond(uint32_t request, const char *digits, int32_t value) {
    const QapiHandle adjunct = link(Link::adjunct);
    const bool ok = adjunct && QAPI_Adjunct_response(adjunct, request, digits, value) == 0;
    return result(
        "adjunct",
        "answer " + handleText(request) + " with " + quoted(digits) + " value " + std::to_string(value), ok);
}

void Console::handle(const QMessage &m) {
    if (m.message != QAPI_NOTIFY_MSG) return;
    const uint32_t code = static_cast<uint32_t>(m.wParam);
    if (m.window && m.window == links_[static_cast<int>(Link::feed)].window) return feedNote(code, m.lParam);
    if (m.window && m.window == links_[static_cast<int>(Link::adjunct)].window)
        return adjunctNote(code, m.lParam);
    const auto s = std::find_if(stations_.begin(), stations_.end(),
                                [&](const StationEntry &e) { return e.window == m.window; });
    if (s != stations_.end()) return stationNote(*s, code, m.lParam);
    print("console", "notification " + std::to_string(code) + " for a window it no longer has");
}

void Console::other(const Source &source, uint32_t code, intptr_t value) {
    out_.note(source, "notification", "notification " + std::to_string(code) + " " + std::to_string(value),
              JsonObject().number("code", code).number("value", value));
}

void Console::stationNote(StationEntry &s, uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_SNAPSHOT) {
        const auto &snapshot = payload<QapiStatusSnapshot>(value);
        if (s.id == -1 && snapshot.regState == QAPI_REG_REGISTERED) s.id = snapshot.stationId;
    }
    const Source source = Source::station(s.id);
    const char *text = reinterpret_cast<const char *>(value);
    switch (code) {
    case QAPI_NOTIFY_SNAPSHOT: {
        const auto &snapshot = payload<QapiStatusSnapshot>(value);
        return out_.note(source, "snapshot", snapshotText(snapshot), snapshotJson(snapshot));
    }
    case QAPI_NOTIFY_KEY:
        return out_.note(source, "key", "key " + characterText(value), characterJson(value));
    case QAPI_NOTIFY_DIGIT:
        return out_.note(source, "digit", "digit " + characterText(value), characterJson(value));
    case QAPI_NOTIFY_NUMBER:
        return out_.note(source, "number", "number " + quoted(text), JsonObject().text("number", text));
    case QAPI_NOTIFY_TEXT:
        return out_.note(source, "text", "text " + quoted(text), JsonObject().text("text", text));
    case QAPI_NOTIFY_EXTENSION: {
        const void *extension = reinterpret_cast<const void *>(value);
        return out_.note(source, "extension", extensionText(extension), extensionJson(extension));
    }
    case QAPI_NOTIFY_CALL_LIST:
    case QAPI_NOTIFY_PARK_LIST: {
        const char *head = code == QAPI_NOTIFY_CALL_LIST ? "calls" : "parked";
        const auto *list = reinterpret_cast<const QapiLineList *>(value);
        return out_.note(source, head, lineListText(head, list), lineListJson(list));
    }
    case QAPI_NOTIFY_HEARTBEAT:
        if (options_.heartbeats) out_.note(source, "heartbeat", "heartbeat", JsonObject());
        return;
    default:
        other(source, code, value);
    }
}

void Console::feedNote(uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_CMDR_RECORD) {
        const auto &record = payload<QapiCmdrRecordPayload>(value);
        out_.note("feed", "record", recordText(record), recordJson(record));
        if (csv_ && !csv_->append(record) && recordsLost++ == 0) {
            std::fprintf(stderr, "qapi-console: the CSV file takes no more call records\n");
        }
        return;
    }
    if (code != QAPI_NOTIFY_CMDR_STATUS) return other("feed", code, value);
    const auto &status = payload<QapiStatusPayload>(value);
    out_.note("feed", "status", statusText(status, kFeedStates, 3), statusJson(status, kFeedStates, 3));
}

void Console::adjunctNote(uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_ADJUNCT_STATUS) {
        const auto &status = payload<QapiStatusPayload>(value);
        return out_.note("adjunct", "status", statusText(status, kAdjunctStates, 3),
                         statusJson(status, kAdjunctStates, 3));
    }
    if (code != QAPI_NOTIFY_ROUTE_REQUEST) return other("adjunct", code, value);
    const auto &request = payload<QapiRouteRequestPayload>(value);
    out_.note("adjunct", "route-request", routeRequestText(request), routeRequestJson(request));
    if (options_.routeAnswer) respond(request.handle, options_.routeAnswer->c_str(), options_.routeValue);
}

}  // namespace qconsole
