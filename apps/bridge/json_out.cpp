#include "bridge/json_out.h"

#include <cstring>

namespace qbridge {

std::string jsonText(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += '"';
    return out;
}

void JsonWriter::member(const char *name) {
    if (!empty_.empty()) {
        if (!empty_.back()) out_ += ',';
        empty_.back() = false;
    }
    if (name) {
        out_ += jsonText(name);
        out_ += ':';
    }
}

JsonWriter &JsonWriter::beginObject(const char *name) {
    member(name);
    out_ += '{';
    empty_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::endObject() {
    out_ += '}';
    empty_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::beginArray(const char *name) {
    member(name);
    out_ += '[';
    empty_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::endArray() {
    out_ += ']';
    empty_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::number(const char *name, int64_t value) { return raw(name, std::to_string(value)); }

JsonWriter &JsonWriter::unsignedNumber(const char *name, uint64_t value) {
    return raw(name, std::to_string(value));
}

JsonWriter &JsonWriter::boolean(const char *name, bool value) { return raw(name, value ? "true" : "false"); }

JsonWriter &JsonWriter::text(const char *name, std::string_view bytes) {
    member(name);
    out_ += jsonText(bytes);
    return *this;
}

JsonWriter &JsonWriter::field(const char *name, const char *array, size_t size) {
    return text(name, std::string_view(array, strnlen(array, size)));
}

JsonWriter &JsonWriter::null(const char *name) { return raw(name, "null"); }

JsonWriter &JsonWriter::raw(const char *name, std::string_view json) {
    member(name);
    out_ += json;
    return *this;
}

JsonWriter &JsonWriter::texts(const char *name, const std::vector<std::string> &values) {
    beginArray(name);
    for (const std::string &v : values) text(nullptr, v);
    return endArray();
}

}  // namespace qbridge
