#include "bridge/commands.h"

#include <cstddef>
#include <limits>

#include "bridge/json_in.h"
#include "bridge/json_out.h"

namespace qbridge {
namespace {

constexpr size_t kLongestText = 64;  // digits and numbers: the library reads at most 32

enum class Arg { none, digitsOrNone, digits, number, extension, extensionOn, key };

struct Op {
    const char *name;
    Arg arg;
    int (*plain)(QapiHandle) = nullptr;
    int (*text)(QapiHandle, const char *) = nullptr;
    int (*number)(QapiHandle, int32_t) = nullptr;
    size_t gate = SIZE_MAX;  // the snapshot's permission byte (offset), if one gates it
    const char *gateName = nullptr;
};

#define GATE(field, name) offsetof(QapiStatusSnapshot, field), name

int watch(QapiHandle h, int32_t extension) { return QAPI_Client_bdp_register(h, extension, 1); }
int unwatch(QapiHandle h, int32_t extension) { return QAPI_Client_bdp_register(h, extension, 0); }

const Op kOps[] = {
    {"newcall", Arg::digitsOrNone, nullptr, QAPI_Client_newcall, nullptr, GATE(canNewcall, "can_newcall")},
    {"digits", Arg::digits, nullptr, QAPI_Client_digits, nullptr, GATE(canDigits, "can_digits")},
    {"answer", Arg::none, QAPI_Client_answer, nullptr, nullptr, GATE(canAnswer, "can_answer")},
    {"clear", Arg::none, QAPI_Client_clear, nullptr, nullptr, GATE(canClear, "can_clear")},
    {"hold", Arg::none, QAPI_Client_hold, nullptr, nullptr, GATE(canHold, "can_hold")},
    {"retrieve", Arg::none, QAPI_Client_retrieve, nullptr, nullptr, GATE(canRetrieve, "can_retrieve")},
    {"callb", Arg::none, QAPI_Client_callb, nullptr, nullptr, GATE(canCallback, "can_callback")},
    {"suspend", Arg::none, QAPI_Client_suspend, nullptr, nullptr, GATE(canSuspend, "can_suspend")},
    {"conference", Arg::none, QAPI_Client_conference, nullptr, nullptr,
     GATE(canConference, "can_conference")},
    {"transfer", Arg::none, QAPI_Client_transfer, nullptr, nullptr, GATE(canTransfer, "can_transfer")},
    {"record_start", Arg::none, QAPI_Client_record_start, nullptr, nullptr,
     GATE(canRecordStart, "can_record_start")},
    {"record_stop", Arg::none, QAPI_Client_record_stop, nullptr, nullptr,
     GATE(canRecordStop, "can_record_stop")},
    {"mailbox", Arg::none, QAPI_Client_mailbox, nullptr, nullptr, GATE(canMailbox, "can_mailbox")},
    {"transfer_undo", Arg::number, nullptr, QAPI_Client_transfer_undo, nullptr,
     GATE(canPickup, "can_pickup")},
    {"deflect", Arg::digits, nullptr, QAPI_Client_deflect, nullptr},
    {"bdp_register", Arg::extensionOn, nullptr, nullptr, watch},
    {"bdp_answer", Arg::extension, nullptr, nullptr, QAPI_Client_bdp_answer, GATE(canPickup, "can_pickup")},
    {"bdp_intrude", Arg::extension, nullptr, nullptr, QAPI_Client_bdp_intrude, GATE(canPickup, "can_pickup")},
    {"resume", Arg::key, nullptr, nullptr, QAPI_Client_resume},
};

std::string okReply() { return JsonWriter().beginObject().boolean("ok", true).endObject().take(); }

bool int32Of(const JsonValue *v, int32_t &out) {
    if (!v || v->type != JsonValue::Type::number || !v->whole ||
        v->integer < std::numeric_limits<int32_t>::min() || v->integer > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(v->integer);
    return true;
}

// A text argument: a string, or a whole number written in decimal.
bool textOf(const JsonValue *v, std::string &out) {
    if (v && v->type == JsonValue::Type::number && v->whole) {
        out = std::to_string(v->integer);
        return true;
    }
    if (!v || v->type != JsonValue::Type::string || v->text.size() > kLongestText ||
        v->text.find('\0') != std::string::npos)
        return false;
    out = v->text;
    return true;
}

// Why the library refused the operation, as far as the last snapshot tells.
std::string refusal(const Op &op, int32_t id, const StationView *view) {
    const std::string station = "station " + std::to_string(id);
    if (!view || !view->snapshot) return station + " has not reported yet: the library refused " + op.name;
    const QapiStatusSnapshot &s = *view->snapshot;
    if (s.regState != QAPI_REG_REGISTERED && op.gate != SIZE_MAX)
        return station + " is not registered: the library refused " + op.name;
    if (op.gate != SIZE_MAX && reinterpret_cast<const uint8_t *>(&s)[op.gate] == 0)
        return station + " does not allow " + op.name + " now (" + op.gateName + " is false)";
    return "the library refused " + std::string(op.name) + " on " + station;
}

std::string stationOp(const Op &op, const JsonValue &request, const JsonValue *args, CommandTarget &target) {
    int32_t id = 0;
    if (!int32Of(request.find("station"), id))
        return errorReply(std::string(op.name) + " needs \"station\": a number");
    const QapiHandle h = target.stationHandle(id);
    if (!h) return errorReply("the bridge drives no station " + std::to_string(id));
    const auto arg = [args](const char *name) { return args ? args->find(name) : nullptr; };
    int result = 1;
    std::string text;
    int32_t number = 0;
    switch (op.arg) {
    case Arg::none:
        result = op.plain(h);
        break;
    case Arg::digitsOrNone:
        if (arg("digits") && arg("digits")->type != JsonValue::Type::null) {
            if (!textOf(arg("digits"), text))
                return errorReply("\"digits\" must be a text of at most 64 bytes");
            result = op.text(h, text.c_str());
        } else {
            result = op.text(h, nullptr);
        }
        break;
    case Arg::digits:
    case Arg::number: {
        const char *name = op.arg == Arg::digits ? "digits" : "number";
        if (!textOf(arg(name), text))
            return errorReply(std::string(op.name) + " needs \"" + name + "\": a text of at most 64 bytes");
        result = op.text(h, text.c_str());
        break;
    }
    case Arg::extension:
    case Arg::extensionOn: {
        if (!int32Of(arg("extension"), number))
            return errorReply(std::string(op.name) + " needs \"extension\": a number");
        bool on = true;
        if (const JsonValue *v = arg("on"); v && op.arg == Arg::extensionOn) {
            if (v->type != JsonValue::Type::boolean) return errorReply("\"on\" must be true or false");
            on = v->flag;
        }
        result = (on ? op.number : unwatch)(h, number);
        break;
    }
    case Arg::key:
        if (!int32Of(arg("key"), number)) return errorReply("resume needs \"key\": a number");
        result = op.number(h, number);
        break;
    }
    return result == 0 ? okReply() : errorReply(refusal(op, id, target.stationView(id)));
}

std::string routeResponse(const JsonValue *args, const std::string &appId, CommandTarget &target) {
    const JsonValue *handle = args ? args->find("handle") : nullptr;
    if (!handle || handle->type != JsonValue::Type::number || !handle->whole || handle->integer < 0 ||
        handle->integer > std::numeric_limits<uint32_t>::max())
        return errorReply("route_response needs \"handle\": the number of the routing question");
    std::string digits;
    const JsonValue *d = args->find("digits");
    const bool none = !d || d->type == JsonValue::Type::null;
    if (!none && !textOf(d, digits)) return errorReply("\"digits\" must be a text of at most 64 bytes");
    int32_t value = 0;
    if (const JsonValue *v = args->find("value"); v && !int32Of(v, value))
        return errorReply("\"value\" must be a whole number");
    const std::string why = target.answerRoute(static_cast<uint32_t>(handle->integer),
                                               none ? nullptr : digits.c_str(), value, appId);
    return why.empty() ? okReply() : errorReply(why);
}

}  // namespace

std::string errorReply(const std::string &why) {
    return JsonWriter().beginObject().boolean("ok", false).text("error", why).endObject().take();
}

std::string runCommand(std::string_view body, const std::string &appId, CommandTarget &target) {
    std::string error;
    const std::optional<JsonValue> request = parseJson(body, error);
    if (!request) return errorReply("not JSON: " + error);
    if (request->type != JsonValue::Type::object) return errorReply("a command is a JSON object");
    const JsonValue *op = request->find("op");
    if (!op || op->type != JsonValue::Type::string) return errorReply("a command needs \"op\": its name");
    const JsonValue *args = request->find("args");
    if (args && args->type == JsonValue::Type::null) args = nullptr;
    if (args && args->type != JsonValue::Type::object) return errorReply("\"args\" must be an object");
    if (op->text == "snapshot")
        return JsonWriter().beginObject().boolean("ok", true).raw("state", target.state()).endObject().take();
    if (op->text == "route_response") return routeResponse(args, appId, target);
    for (const Op &o : kOps)
        if (op->text == o.name) return stationOp(o, *request, args, target);
    return errorReply("unknown op " + jsonText(op->text.substr(0, 64)));
}

}  // namespace qbridge
