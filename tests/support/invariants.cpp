#include "support/invariants.h"

#include <array>
#include <cstring>

#include "core/scratch.h"
#include "station/call_table.h"
#include "station/monitor_panel.h"
#include "station/park_table.h"

namespace qapi::test {
namespace {

constexpr char kDialChars[] = "0123456789ABCD*#";

// At most `most` characters before the NUL, each a dial character.
bool dialText(const char *text, size_t most) {
    const size_t n = strnlen(text, most + 1);
    return n <= most && std::strspn(text, kDialChars) == n;
}

// A static text of the library, read to its NUL; null is fine.
bool statusTextFits(const char *text) { return !text || strnlen(text, kTextBlockSize) < kTextBlockSize; }

}  // namespace

std::string snapshotProblem(const QapiStatusSnapshot &s) {
    if (s.regState < QAPI_REG_REGISTERING || s.regState > QAPI_REG_FAILED) return "regState";
    if (!statusTextFits(s.statusText)) return "status text";
    for (const uint8_t *f = &s.canNewcall; f <= &s.indicator3; ++f) {
        if (*f > 1) return "flag byte " + std::to_string(f - &s.canNewcall) + " is " + std::to_string(*f);
    }
    if (s.reserved1[0] | s.reserved1[1] | s.reserved1[2] | s.reserved2[0] | s.reserved2[1])
        return "reserved bytes";
    return "";
}

std::string stationClientProblem(const StationClient &c) {
    if (const std::string p = snapshotProblem(c.snapshot); !p.empty()) return p;
    if (c.queueHead < 0 || c.queueHead >= 64 || c.queueTail < 0 || c.queueTail >= 64) return "queue indices";
    if (c.dialedText[kDialBufferSize] != '\0' || c.parkListSent > 1 || c.magic != kClientMagic)
        return "record";
    static const auto kFree = [] {
        std::array<int32_t, kMonitorSlots> free;
        free.fill(kNoExtension);
        return free;
    }();
    if (std::memcmp(c.monitorExtension + c.monitorSlotsUsed, kFree.data(),
                    sizeof(int32_t) * (kMonitorSlots - c.monitorSlotsUsed)) != 0)
        return "taken monitor slot beyond the used ones";
    for (const CallEntry &e : c.callTable) {
        if (e.state != 0 && !std::strchr("\1\2\3\4\5\6\7\31", e.state)) return "call table state";
    }
    return "";
}

bool lineListFits(const QapiLineList &list, size_t most, size_t shortest, size_t longest) {
    for (size_t n = 0; n < QAPI_LINE_LIST_SLOTS && list.lines[n]; ++n) {
        const size_t len = strnlen(list.lines[n], kTextBlockSize);
        if (n >= most || len < shortest || len > longest) return false;
    }
    return true;
}

std::string stationNotificationProblem(const QMessage &m, const StationClient *watcher) {
    if (m.message != QAPI_NOTIFY_MSG) return "message number";
    const auto *text = reinterpret_cast<const char *>(m.lParam);
    switch (m.wParam) {
    case QAPI_NOTIFY_SNAPSHOT:
        return snapshotProblem(*reinterpret_cast<const QapiStatusSnapshot *>(m.lParam));
    case QAPI_NOTIFY_KEY:
    case QAPI_NOTIFY_DIGIT:
        return m.lParam == 255 || (m.lParam > 0 && std::strchr(kDialChars, int(m.lParam))) ? "" : "key";
    case QAPI_NOTIFY_NUMBER:
        return dialText(text, kNumberCodes) ? "" : "number";
    case QAPI_NOTIFY_TEXT:
        return strnlen(text, kTextBlockSize) <= kDialBufferSize ? "" : "text";
    case QAPI_NOTIFY_EXTENSION: {
        const auto *status = reinterpret_cast<const QapiExtensionStatus *>(m.lParam);
        if (status->status < 0 || status->status > 255) return "extension status";
        if (!watcher) return "";
        for (int32_t watched : watcher->monitorExtension) {
            if (watched == status->extension) return "";
        }
        return "status of an extension not watched";
    }
    case QAPI_NOTIFY_CALL_LIST:
        return lineListFits(*reinterpret_cast<const QapiLineList *>(m.lParam), kCallEntries, kCallLineLength,
                            kCallLineLength)
                   ? ""
                   : "call list";
    case QAPI_NOTIFY_PARK_LIST:
        return lineListFits(*reinterpret_cast<const QapiLineList *>(m.lParam), kParkEntries, 1, 17)
                   ? ""
                   : "park list";
    case QAPI_NOTIFY_HEARTBEAT:
        return m.lParam == 0 ? "" : "heartbeat value";
    default:
        return "code " + std::to_string(m.wParam);
    }
}

std::string cmdrPayloadProblem(const CmdrRecordPayload &p, unsigned kind) {
    if (p.kindLetter != 'A' + kind) return "kind letter";
    if (p.second > 59 || p.minute > 59 || p.hour > 23 || p.day < 1 || p.day > 31 || p.month < 1 ||
        p.month > 12 || p.year < 2000 || p.year > 2063)
        return "date or time out of range";
    const uint8_t zero[sizeof p.reserved3] = {};
    if (p.reserved1 != 0 || p.reserved2 != 0 || std::memcmp(p.reserved3, zero, sizeof zero) != 0)
        return "reserved";
    const auto &t = p.texts;
    if (kind == 1 || kind == 2
            ? strnlen(t.text, 96) > 95
            : !dialText(t.dial.textA, 31) || !dialText(t.dial.textB, 31) || !dialText(t.dial.textC, 28))
        return "texts";
    if (strnlen(p.addressText, 48) > 15 || strnlen(p.serverAddressText, 48) > 39) return "address texts";
    return "";
}

std::string routeRequestProblem(const AdjunctLink &link, const QapiRouteRequestPayload &p) {
    if (p.second > 59 || p.minute > 59 || p.hour > 23 || p.day > 31 || p.month > 12 || p.year < 2000 ||
        p.year > 2063)
        return "date or time out of range";
    if (!dialText(p.textA, 31) || !dialText(p.textB, 28)) return "texts";
    const RouteSlot *slot = p.handle >> 16 < kRouteSlots ? &link.slots[p.handle >> 16] : nullptr;
    if (!slot || slot->state != SlotState::Pending || (slot->requestId & 0xFFFF) != (p.handle & 0xFFFF))
        return "slot";
    return "";
}

}  // namespace qapi::test
