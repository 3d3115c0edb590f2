#include "console/format.h"

#include <cstdio>
#include <cstring>

namespace qconsole {
namespace {

std::string dateText(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                     unsigned second) {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
    return text;
}

// Text fields of payloads are NUL-terminated inside their arrays; never
// read past the array even if one is not.
std::string field(const char *text, size_t size) {
    return quoted(std::string(text, strnlen(text, size)).c_str());
}

}  // namespace

const char *regStateText(int32_t state) {
    switch (state) {
    case QAPI_REG_REGISTERING:
        return "registering";
    case QAPI_REG_REGISTERED:
        return "registered";
    case QAPI_REG_FAILED:
        return "failed";
    default:
        return "unknown";
    }
}

std::string stateName(int32_t state, const char *const *names, int count) {
    return state >= 0 && state < count ? names[state] : std::to_string(state);
}

std::string quoteBytes(std::string_view bytes, const char *hex, bool named) {
    std::string out = "\"";
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const char *name = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (named && name) {
            out += name;
        } else if (c < 0x20 || c > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, hex, c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string quoted(const char *text) { return text ? quoteBytes(text, "\\x%02X", false) : "-"; }

std::string allowedText(const QapiStatusSnapshot &s) {
    const struct {
        uint8_t on;
        const char *name;
    } flags[] = {
        {s.canNewcall, "newcall"},
        {s.canDigits, "digits"},
        {s.canAnswer, "answer"},
        {s.canClear, "clear"},
        {s.canHold, "hold"},
        {s.canRetrieve, "retrieve"},
        {s.canCallback, "callback"},
        {s.canSuspend, "suspend"},
        {s.canConference, "conference"},
        {s.canTransfer, "transfer"},
        {s.canRecordStart, "record-start"},
        {s.canRecordStop, "record-stop"},
        {s.canMailbox, "mailbox"},
        {s.canPickup, "pickup"},
    };
    std::string out;
    for (const auto &f : flags) {
        if (f.on) out += (out.empty() ? "" : ",") + std::string(f.name);
    }
    return out.empty() ? "-" : out;
}

std::string snapshotText(const QapiStatusSnapshot &s) {
    std::string indicators;
    const uint8_t lit[] = {s.indicator1, s.indicator2, s.indicator3};
    for (int i = 0; i < 3; ++i) {
        if (lit[i]) indicators += (indicators.empty() ? "" : ",") + std::to_string(i + 1);
    }
    return std::string("snapshot reg=") + regStateText(s.regState) + " call=" + std::to_string(s.callState) +
           " alerting=" + std::to_string(s.isAlerting) + " allows=" + allowedText(s) +
           " indicators=" + (indicators.empty() ? "-" : indicators) +
           " event=" + std::to_string(s.eventValue) + " info=" + std::to_string(s.infoValue) +
           " id=" + std::to_string(s.stationId) + " reg-values=" + std::to_string(s.regValues[0]) + "," +
           std::to_string(s.regValues[1]) + "," + std::to_string(s.regValues[2]) + "," +
           std::to_string(s.regValues[3]) + " reg-short=" + std::to_string(s.regShort) +
           " status=" + quoted(s.statusText);
}

std::vector<std::string> lineListText(const char *head, const QapiLineList *list) {
    std::vector<std::string> out{std::string(head)};
    size_t count = 0;
    for (size_t i = 0; list && i < QAPI_LINE_LIST_SLOTS && list->lines[i]; ++i) {
        out.push_back("  " + quoted(list->lines[i]));
        ++count;
    }
    out.front() += " " + std::to_string(count);
    return out;
}

std::string recordText(const QapiCmdrRecordPayload &r) {
    std::string out = "record " + std::string(1, static_cast<char>(r.kindLetter)) + " " +
                      dateText(r.year, r.month, r.day, r.hour, r.minute, r.second) +
                      " duration=" + std::to_string(r.duration) + " numbers=" + std::to_string(r.numberA) +
                      "," + std::to_string(r.numberB) + "," + std::to_string(r.numberC) +
                      " numberD=" + std::to_string(r.numberD);
    if (r.kindLetter == 'B' || r.kindLetter == 'C') {  // kinds 1 and 2 carry one text
        out += " text=" + field(r.texts.text, sizeof r.texts.text);
    } else {
        out += " texts=" + field(r.texts.dial.textA, 32) + "," + field(r.texts.dial.textB, 32) + "," +
               field(r.texts.dial.textC, 32);
    }
    return out + " words=" + std::to_string(r.wordA) + "," + std::to_string(r.wordB) +
           " values=" + std::to_string(r.valueA) + "," + std::to_string(r.valueB) +
           " address=" + field(r.addressText, sizeof r.addressText) +
           " server=" + field(r.serverAddressText, sizeof r.serverAddressText);
}

std::string routeRequestText(const QapiRouteRequestPayload &r) {
    char handle[16];
    std::snprintf(handle, sizeof handle, "0x%08X", static_cast<unsigned>(r.handle));
    return std::string("route request handle=") + handle + " " +
           dateText(r.year, r.month, r.day, r.hour, r.minute, r.second) +
           " numberA=" + std::to_string(r.numberA) + " numberB=" + std::to_string(r.numberB) +
           " digitsA=" + field(r.textA, sizeof r.textA) + " digitsB=" + field(r.textB, sizeof r.textB);
}

std::string statusText(const QapiStatusPayload &p, const char *const *names, int count) {
    return "status " + stateName(p.state, names, count) + (p.statusText ? " " + quoted(p.statusText) : "");
}

std::string extensionText(const void *payload) {
    int32_t words[2];
    std::memcpy(words, payload, sizeof words);
    return "extension " + std::to_string(words[0]) + " status " + std::to_string(words[1]);
}

std::string characterText(intptr_t value) {
    if (value < 0 || value > 254) return "none";
    return std::string("'") + static_cast<char>(value) + "'";
}

}  // namespace qconsole
