// Reads the JSON of a command: a small, checked parser for text that comes
// from anyone who may publish to the commands queue.  It never reads past
// the text, nests at most kDeepest levels, and reports what it could not
// read instead of failing in any other way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qbridge {

struct JsonMember;

struct JsonValue {
    enum class Type { null, boolean, number, string, array, object };
    Type type = Type::null;
    bool flag = false;
    // A number: `integer` holds it when it is whole and fits in 64 bits.
    bool whole = false;
    int64_t integer = 0;
    // A string: its bytes (\u0000 to \u00FF as one byte each, higher code
    // points as UTF-8).
    std::string text;
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;

    // The member of an object (the first of that name), or null.
    const JsonValue *find(std::string_view name) const;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

constexpr int kDeepest = 8;

// The value the whole text holds; nullopt with `error` set when the text is
// not one JSON value.
std::optional<JsonValue> parseJson(std::string_view text, std::string &error);

}  // namespace qbridge
