#include "console/console.h"

#include <algorithm>
#include <cstdio>

#include "console/format.h"

namespace qconsole {
namespace {

const char *const kFeedStates[] = {"0", "running", "failed"};
const char *const kAdjunctStates[] = {"connecting", "up", "failed"};

std::string stationSource(int32_t id) { return "station " + std::to_string(id); }

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

void Console::print(const std::string &source, const std::string &text) {
    std::fprintf(out_, "%s: %s\n", source.c_str(), text.c_str());
    std::fflush(out_);
}

bool Console::result(const std::string &source, const std::string &what, bool ok) {
    print(source, what + (ok ? ": accepted" : ": refused"));
    if (!ok) ++refusals;
    return ok;
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
    if (!handle) qmsgDestroyWindow(window);
    else stations_.push_back({id, handle, window});
    return result(stationSource(id), "start", handle != nullptr);
}

bool Console::stopStation(int32_t id) {
    StationEntry *s = station(id);
    if (!s) {
        print("console", "no station " + std::to_string(id));
        return false;
    }
    const bool ok = QAPI_Client_stop(s->handle) == 0;
    if (ok) {
        qmsgDestroyWindow(s->window);
        stations_.erase(stations_.begin() + (s - stations_.data()));
    }
    return result(stationSource(id), "stop", ok);
}

bool Console::startLink(Link kind, const Endpoint &server) {
    LinkEntry &link = links_[static_cast<int>(kind)];
    if (link.handle) stopLink(kind);
    if (!link.window) link.window = qmsgCreateWindow();
    link.handle = link.start(link.window, server.host.c_str(), server.port);
    return result(link.source, "start " + server.host + " port " + std::to_string(server.port), link.handle != nullptr);
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
    return result("adjunct", "answer " + handleText(request) + " with " + quoted(digits) + " value " +
                                 std::to_string(value),
                  ok);
}

void Console::handle(const QMessage &m) {
    if (m.message != QAPI_NOTIFY_MSG) return;
    const uint32_t code = static_cast<uint32_t>(m.wParam);
    if (m.window && m.window == links_[static_cast<int>(Link::feed)].window) return feedNote(code, m.lParam);
    if (m.window && m.window == links_[static_cast<int>(Link::adjunct)].window) return adjunctNote(code, m.lParam);
    const auto s = std::find_if(stations_.begin(), stations_.end(), [&](const StationEntry &e) { return e.window == m.window; });
    if (s != stations_.end()) return stationNote(*s, code, m.lParam);
    print("console", "notification " + std::to_string(code) + " for a window it no longer has");
}

void Console::stationNote(StationEntry &s, uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_SNAPSHOT) {
        const auto &snapshot = payload<QapiStatusSnapshot>(value);
        if (s.id == -1 && snapshot.regState == QAPI_REG_REGISTERED) s.id = snapshot.stationId;
    }
    const std::string source = stationSource(s.id);
    switch (code) {
    case QAPI_NOTIFY_SNAPSHOT: return print(source, snapshotText(payload<QapiStatusSnapshot>(value)));
    case QAPI_NOTIFY_KEY: return print(source, "key " + characterText(value));
    case QAPI_NOTIFY_DIGIT: return print(source, "digit " + characterText(value));
    case QAPI_NOTIFY_NUMBER: return print(source, "number " + quoted(reinterpret_cast<const char *>(value)));
    case QAPI_NOTIFY_TEXT: return print(source, "text " + quoted(reinterpret_cast<const char *>(value)));
    case QAPI_NOTIFY_EXTENSION: return print(source, extensionText(reinterpret_cast<const void *>(value)));
    case QAPI_NOTIFY_CALL_LIST:
    case QAPI_NOTIFY_PARK_LIST: {
        const char *head = code == QAPI_NOTIFY_CALL_LIST ? "calls" : "parked";
        for (const std::string &line : lineListText(head, reinterpret_cast<const QapiLineList *>(value))) {
            print(source, line);
        }
        return;
    }
    case QAPI_NOTIFY_HEARTBEAT:
        if (options_.heartbeats) print(source, "heartbeat");
        return;
    default: print(source, "notification " + std::to_string(code) + " " + std::to_string(value));
    }
}

void Console::feedNote(uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_CMDR_RECORD) return print("feed", recordText(payload<QapiCmdrRecordPayload>(value)));
    if (code == QAPI_NOTIFY_CMDR_STATUS) return print("feed", statusText(payload<QapiStatusPayload>(value), kFeedStates, 3));
    print("feed", "notification " + std::to_string(code) + " " + std::to_string(value));
}

void Console::adjunctNote(uint32_t code, intptr_t value) {
    if (code == QAPI_NOTIFY_ADJUNCT_STATUS) {
        return print("adjunct", statusText(payload<QapiStatusPayload>(value), kAdjunctStates, 3));
    }
    if (code != QAPI_NOTIFY_ROUTE_REQUEST) {
        return print("adjunct", "notification " + std::to_string(code) + " " + std::to_string(value));
    }
    const auto &request = payload<QapiRouteRequestPayload>(value);
    print("adjunct", routeRequestText(request));
    if (options_.routeAnswer) respond(request.handle, options_.routeAnswer->c_str(), options_.routeValue);
}

}  // namespace qconsole
