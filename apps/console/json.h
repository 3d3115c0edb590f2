// JSON text for the console's --format json: one object per line, built a
// member at a time.  The texts the server sends are arbitrary bytes, so
// every string comes out as plain ASCII: each byte from 0x80 up stands for
// the character of the same number (U+0080 to U+00FF), which keeps every
// byte recoverable and the line valid JSON whatever arrived.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qconsole {

// The bytes as a JSON string, quotes included.
std::string jsonString(std::string_view bytes);

class JsonObject {
public:
    JsonObject &number(const char *key, int64_t value);
    JsonObject &flag(const char *key, bool value);
    // A NUL-terminated text, or null for a null pointer.
    JsonObject &text(const char *key, const char *value);
    JsonObject &text(const char *key, std::string_view value);
    // A text field of a payload: up to its first NUL, never past its array.
    JsonObject &field(const char *key, const char *array, size_t size);
    JsonObject &numbers(const char *key, const std::vector<int64_t> &values);
    JsonObject &texts(const char *key, const std::vector<std::string> &values);
    // The members of another object, after this one's.
    JsonObject &members(const JsonObject &other);

    // The object: "{...}".
    std::string str() const { return "{" + members_ + "}"; }

private:
    JsonObject &raw(const char *key, const std::string &json);
    std::string members_;
};

}  // namespace qconsole
