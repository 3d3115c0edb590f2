#include "console/json_format.h"

#include <cstring>
#include <string>

#include "console/format.h"
#include "call_records/record_fields.h"

namespace qconsole {

using qrecords::forEachRecordField;

JsonObject snapshotJson(const QapiStatusSnapshot &s) {
    JsonObject o;
    o.number("regState", s.regState)
        .text("regStateName", regStateText(s.regState))
        .text("statusText", s.statusText);
    o.number("callState", s.callState).number("eventValue", s.eventValue).number("infoValue", s.infoValue);
    o.flag("canNewcall", s.canNewcall).flag("canDigits", s.canDigits).flag("isAlerting", s.isAlerting);
    o.flag("canAnswer", s.canAnswer).flag("canClear", s.canClear).flag("canHold", s.canHold);
    o.flag("canRetrieve", s.canRetrieve).flag("canCallback", s.canCallback).flag("canSuspend", s.canSuspend);
    o.flag("canConference", s.canConference).flag("canTransfer", s.canTransfer);
    o.flag("canRecordStart", s.canRecordStart).flag("canRecordStop", s.canRecordStop);
    o.flag("canMailbox", s.canMailbox).flag("canPickup", s.canPickup);
    o.flag("indicator1", s.indicator1).flag("indicator2", s.indicator2).flag("indicator3", s.indicator3);
    o.number("stationId", s.stationId);
    o.numbers("regValues", {s.regValues[0], s.regValues[1], s.regValues[2], s.regValues[3]});
    return o.number("regShort", s.regShort);
}

JsonObject lineListJson(const QapiLineList *list) {
    std::vector<std::string> lines;
    for (size_t i = 0; list && i < QAPI_LINE_LIST_SLOTS && list->lines[i]; ++i)
        lines.emplace_back(list->lines[i]);
    return JsonObject().texts("lines", lines);
}

JsonObject recordJson(const QapiCmdrRecordPayload &r) {
    JsonObject o;
    forEachRecordField(r, [&o](const char *name, const auto &value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int64_t>)
            o.number(name, value);
        else
            o.text(name, value);
    });
    return o;
}

JsonObject routeRequestJson(const QapiRouteRequestPayload &r) {
    JsonObject o;
    o.number("handle", r.handle).number("second", r.second).number("minute", r.minute).number("hour", r.hour);
    o.number("day", r.day).number("month", r.month).number("year", r.year);
    o.number("numberB", r.numberB).number("numberA", r.numberA);
    return o.field("textA", r.textA, sizeof r.textA).field("textB", r.textB, sizeof r.textB);
}

JsonObject statusJson(const QapiStatusPayload &p, const char *const *names, int count) {
    return JsonObject()
        .number("state", p.state)
        .text("stateName", stateName(p.state, names, count))
        .text("statusText", p.statusText);
}

JsonObject extensionJson(const void *payload) {
    int32_t words[2];
    std::memcpy(words, payload, sizeof words);
    return JsonObject().number("extension", words[0]).number("status", words[1]);
}

JsonObject characterJson(intptr_t value) {
    JsonObject o;
    o.number("value", value);
    if (value < 0 || value > 254) return o.text("character", nullptr);
    const char c = static_cast<char>(value);
    return o.text("character", std::string_view(&c, 1));
}

}  // namespace qconsole
