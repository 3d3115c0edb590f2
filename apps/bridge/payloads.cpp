#include "bridge/payloads.h"

#include <cctype>
#include <cstring>
#include <type_traits>

#include "bridge/json_out.h"
#include "call_records/record_fields.h"

namespace qbridge {

std::string snakeCase(const char *camel) {
    std::string out;
    for (const char *c = camel; *c; ++c) {
        if (std::isupper(static_cast<unsigned char>(*c))) {
            out += '_';
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        } else {
            out += *c;
        }
    }
    return out;
}

std::string snapshotData(const QapiStatusSnapshot &s) {
    JsonWriter w;
    w.beginObject().number("reg_state", s.regState);
    if (s.statusText)
        w.text("status_text", libraryText(s.statusText));
    else
        w.null("status_text");
    w.number("call_state", s.callState).number("event_value", s.eventValue).number("info_value", s.infoValue);
    const std::pair<const char *, uint8_t> flags[] = {{"can_newcall", s.canNewcall},
                                                      {"can_digits", s.canDigits},
                                                      {"is_alerting", s.isAlerting},
                                                      {"can_answer", s.canAnswer},
                                                      {"can_clear", s.canClear},
                                                      {"can_hold", s.canHold},
                                                      {"can_retrieve", s.canRetrieve},
                                                      {"can_callback", s.canCallback},
                                                      {"can_suspend", s.canSuspend},
                                                      {"can_conference", s.canConference},
                                                      {"can_transfer", s.canTransfer},
                                                      {"can_record_start", s.canRecordStart},
                                                      {"can_record_stop", s.canRecordStop},
                                                      {"can_mailbox", s.canMailbox},
                                                      {"can_pickup", s.canPickup}};
    for (const auto &[name, value] : flags) w.boolean(name, value != 0);
    w.number("indicator1", s.indicator1)
        .number("indicator2", s.indicator2)
        .number("indicator3", s.indicator3);
    w.number("station_id", s.stationId).beginArray("reg_values");
    for (const int32_t v : s.regValues) w.number(nullptr, v);
    return w.endArray().number("reg_short", s.regShort).endObject().take();
}

std::vector<std::string> listLines(const QapiLineList *list) {
    std::vector<std::string> lines;
    for (size_t i = 0; list && i < QAPI_LINE_LIST_SLOTS && list->lines[i]; ++i)
        lines.push_back(libraryText(list->lines[i]));
    return lines;
}

std::string linesData(const std::vector<std::string> &lines) {
    return JsonWriter().beginObject().texts("lines", lines).endObject().take();
}

std::string recordData(const QapiCmdrRecordPayload &r) {
    JsonWriter w;
    w.beginObject();
    qrecords::forEachRecordField(r, [&w](const char *name, const auto &value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int64_t>)
            w.number(snakeCase(name).c_str(), value);
        else
            w.text(snakeCase(name).c_str(), value);
    });
    return w.endObject().take();
}

std::string routeRequestData(const QapiRouteRequestPayload &r, uint32_t deadlineMs) {
    JsonWriter w;
    w.beginObject().number("handle", r.handle).number("second", r.second).number("minute", r.minute);
    w.number("hour", r.hour).number("day", r.day).number("month", r.month).number("year", r.year);
    w.number("number_b", r.numberB).number("number_a", r.numberA);
    w.field("text_a", r.textA, sizeof r.textA).field("text_b", r.textB, sizeof r.textB);
    return w.number("deadline_ms", deadlineMs).endObject().take();
}

std::string libraryText(const char *text, size_t most) {
    return text ? std::string(text, strnlen(text, most)) : "";
}

}  // namespace qbridge
