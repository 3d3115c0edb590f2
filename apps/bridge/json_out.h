// JSON text as the bridge writes it: event bodies, replies.  The server's
// texts are bytes, not UTF-8, so every string is written as plain ASCII in
// which each byte from 0x80 up stands for the character of the same number
// (\u0080 to \u00FF): the text is always valid JSON and every byte comes
// back (in Python: value.encode("latin-1")).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qbridge {

// The bytes as a JSON string, quotes included.
std::string jsonText(std::string_view bytes);

// Writes one JSON value a member at a time.  Inside an object every call
// names its member; inside an array the name is left out (nullptr).
class JsonWriter {
public:
    JsonWriter &beginObject(const char *name = nullptr);
    JsonWriter &endObject();
    JsonWriter &beginArray(const char *name = nullptr);
    JsonWriter &endArray();
    JsonWriter &number(const char *name, int64_t value);
    JsonWriter &unsignedNumber(const char *name, uint64_t value);
    JsonWriter &boolean(const char *name, bool value);
    JsonWriter &text(const char *name, std::string_view bytes);
    // A text field of a payload: up to its first NUL, never past its array.
    JsonWriter &field(const char *name, const char *array, size_t size);
    JsonWriter &null(const char *name);
    // JSON text made elsewhere, as it is.
    JsonWriter &raw(const char *name, std::string_view json);
    JsonWriter &texts(const char *name, const std::vector<std::string> &values);

    const std::string &str() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void member(const char *name);
    std::string out_;
    std::vector<bool> empty_;  // per open object or array: nothing written in it yet
};

}  // namespace qbridge
