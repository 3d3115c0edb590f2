#include "console/json.h"

#include <cstring>

#include "console/format.h"

namespace qconsole {

std::string jsonString(std::string_view bytes) { return quoteBytes(bytes, "\\u%04X", true); }

JsonObject &JsonObject::raw(const char *key, const std::string &json) {
    if (!members_.empty()) members_ += ',';
    members_ += jsonString(key) + ":" + json;
    return *this;
}

JsonObject &JsonObject::number(const char *key, int64_t value) { return raw(key, std::to_string(value)); }

JsonObject &JsonObject::flag(const char *key, bool value) { return raw(key, value ? "true" : "false"); }

JsonObject &JsonObject::text(const char *key, const char *value) {
    return value ? raw(key, jsonString(value)) : raw(key, "null");
}

JsonObject &JsonObject::text(const char *key, std::string_view value) { return raw(key, jsonString(value)); }

JsonObject &JsonObject::field(const char *key, const char *array, size_t size) {
    return raw(key, jsonString(std::string_view(array, strnlen(array, size))));
}

JsonObject &JsonObject::numbers(const char *key, const std::vector<int64_t> &values) {
    std::string list;
    for (const int64_t v : values) list += (list.empty() ? "" : ",") + std::to_string(v);
    return raw(key, "[" + list + "]");
}

JsonObject &JsonObject::texts(const char *key, const std::vector<std::string> &values) {
    std::string list;
    for (const std::string &v : values) list += (list.empty() ? "" : ",") + jsonString(v);
    return raw(key, "[" + list + "]");
}

JsonObject &JsonObject::members(const JsonObject &other) {
    if (other.members_.empty()) return *this;
    if (!members_.empty()) members_ += ',';
    members_ += other.members_;
    return *this;
}

}  // namespace qconsole
