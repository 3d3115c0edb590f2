#include "bridge/json_in.h"

#include <limits>

namespace qbridge {
namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document(std::string &error) {
        JsonValue v;
        space();
        if (!value(v, 0)) {
            error = error_ + " at byte " + std::to_string(at_);
            return std::nullopt;
        }
        space();
        if (at_ != text_.size()) {
            error = "more after the value at byte " + std::to_string(at_);
            return std::nullopt;
        }
        return v;
    }

private:
    bool fail(const char *why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    bool more() const { return at_ < text_.size(); }
    char peek() const { return more() ? text_[at_] : '\0'; }
    void space() {
        while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w) return fail("not a JSON value");
        at_ += w.size();
        return true;
    }

    bool value(JsonValue &v, int depth) {
        if (depth > kDeepest) return fail("nested too deep");
        switch (peek()) {
        case '{':
            return object(v, depth);
        case '[':
            return array(v, depth);
        case '"':
            v.type = JsonValue::Type::string;
            return string(v.text);
        case 't':
            v.type = JsonValue::Type::boolean, v.flag = true;
            return word("true");
        case 'f':
            v.type = JsonValue::Type::boolean;
            return word("false");
        case 'n':
            return word("null");
        default:
            return number(v);
        }
    }

    bool object(JsonValue &v, int depth) {
        v.type = JsonValue::Type::object;
        ++at_;
        space();
        if (peek() == '}') return ++at_, true;
        for (;;) {
            std::string name;
            if (peek() != '"' || !string(name)) return fail("an object member needs a name in quotes");
            space();
            if (peek() != ':') return fail("':' missing after a member's name");
            ++at_;
            space();
            JsonValue member;
            if (!value(member, depth + 1)) return false;
            v.members.push_back({std::move(name), std::move(member)});
            space();
            if (peek() == '}') return ++at_, true;
            if (peek() != ',') return fail("',' or '}' missing in an object");
            ++at_;
            space();
        }
    }

    bool array(JsonValue &v, int depth) {
        v.type = JsonValue::Type::array;
        ++at_;
        space();
        if (peek() == ']') return ++at_, true;
        for (;;) {
            JsonValue item;
            if (!value(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            space();
            if (peek() == ']') return ++at_, true;
            if (peek() != ',') return fail("',' or ']' missing in an array");
            ++at_;
            space();
        }
    }

    bool hex4(uint32_t &out) {
        if (text_.size() - at_ < 4) return fail("\\u needs four hex digits");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return fail("\\u needs four hex digits");
            out = out * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }

    static void put(std::string &out, uint32_t cp) {
        if (cp < 0x100) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool string(std::string &out) {
        ++at_;  // the opening quote
        while (more()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (!more()) break;
            const char e = text_[at_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(at_, 2) == "\\u") {
                    at_ += 2;
                    uint32_t low = 0;
                    if (!hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return fail("a broken surrogate pair");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                put(out, cp);
                break;
            }
            default:
                return fail("an unknown escape in a string");
            }
        }
        return fail("a string without its closing quote");
    }

    bool number(JsonValue &v) {
        const bool negative = peek() == '-';
        if (negative) ++at_;
        if (!more() || peek() < '0' || peek() > '9') return fail("not a JSON value");
        bool fits = true;
        uint64_t magnitude = 0;
        const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()};
        while (more() && peek() >= '0' && peek() <= '9') {
            const auto d = static_cast<uint64_t>(peek() - '0');
            if (magnitude > (limit - d) / 10) fits = false;
            if (fits) magnitude = magnitude * 10 + d;
            ++at_;
        }
        bool fraction = false;
        if (peek() == '.') {
            fraction = true;
            ++at_;
            if (peek() < '0' || peek() > '9') return fail("a number's fraction needs digits");
            while (more() && peek() >= '0' && peek() <= '9') ++at_;
        }
        if (peek() == 'e' || peek() == 'E') {
            fraction = true;
            ++at_;
            if (peek() == '+' || peek() == '-') ++at_;
            if (peek() < '0' || peek() > '9') return fail("a number's exponent needs digits");
            while (more() && peek() >= '0' && peek() <= '9') ++at_;
        }
        v.type = JsonValue::Type::number;
        v.whole = fits && !fraction;
        if (v.whole)
            v.integer = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
        return true;
    }

    std::string_view text_;
    size_t at_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue *JsonValue::find(std::string_view name) const {
    for (const JsonMember &m : members)
        if (m.name == name) return &m.value;
    return nullptr;
}

std::optional<JsonValue> parseJson(std::string_view text, std::string &error) {
    return Parser(text).document(error);
}

}  // namespace qbridge
