#include "cdr/passwords.h"

#include <cctype>

namespace qcdr {
namespace {

constexpr std::string_view kHidden = "***";

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A key as libpq reads it: percent-escapes decoded, in lower case.
std::string plainKey(std::string_view key) {
    std::string out;
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size() && hexValue(key[i + 1]) >= 0 && hexValue(key[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(key[i + 1]) * 16 + hexValue(key[i + 2]));
            i += 2;
        } else {
            out += key[i];
        }
    }
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isKeyChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '%'; }

// Where the value that starts at `at` ends: a quoted one after its closing
// quote, a value of a URL's query at '&' or '#', any at a space.
size_t valueEnd(std::string_view text, size_t at, bool query) {
    if (!query && at < text.size() && text[at] == '\'') {
        for (size_t i = at + 1; i < text.size(); ++i) {
            if (text[i] == '\\')
                ++i;
            else if (text[i] == '\'')
                return i + 1;
        }
        return text.size();
    }
    size_t i = at;
    while (i < text.size() && !isSpace(text[i]) &&
           !(query && (text[i] == '&' || text[i] == '#' || text[i] == '"')))
        ++i;
    return i;
}

}  // namespace

std::string hidePasswords(std::string_view text, std::vector<std::string> *found) {
    std::string out;
    size_t copied = 0;
    const auto hide = [&](size_t from, size_t to) {
        if (to <= from) return;
        if (found) found->emplace_back(text.substr(from, to - from));
        out.append(text.substr(copied, from - copied));
        out += kHidden;
        copied = to;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "://") == 0) {
            // user:password@ before the host, as libpq reads it: up to the
            // first '@' or '/'.
            const size_t start = i + 3;
            size_t end = start;
            while (end < text.size() && text[end] != '@' && text[end] != '/') ++end;
            const size_t colon = text.substr(start, end - start).find(':');
            if (end < text.size() && text[end] == '@' && colon != std::string_view::npos)
                hide(start + colon + 1, end);
            i = end > i ? end - 1 : i;
            continue;
        }
        if (text[i] != '=' || i < copied) continue;
        size_t keyEnd = i;
        while (keyEnd > copied && isSpace(text[keyEnd - 1])) --keyEnd;
        size_t keyStart = keyEnd;
        while (keyStart > copied && isKeyChar(text[keyStart - 1])) --keyStart;
        if (plainKey(text.substr(keyStart, keyEnd - keyStart)) != "password") continue;
        const bool query = keyStart > 0 && (text[keyStart - 1] == '?' || text[keyStart - 1] == '&');
        size_t value = i + 1;
        while (!query && value < text.size() && isSpace(text[value])) ++value;
        const size_t end = valueEnd(text, value, query);
        hide(value, end);
        i = end > i ? end - 1 : i;
    }
    out.append(text.substr(copied));
    return out;
}

std::string withoutSecrets(std::string text, const std::vector<std::string> &secrets) {
    for (const std::string &secret : secrets) {
        if (secret.empty()) continue;
        for (size_t at = text.find(secret); at != std::string::npos;
             at = text.find(secret, at + kHidden.size()))
            text.replace(at, secret.size(), kHidden);
    }
    return text;
}

}  // namespace qcdr
