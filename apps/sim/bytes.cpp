#include "sim/bytes.h"

#include <cstdio>

namespace qsim {

uint8_t dialCode(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'D') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'd') return static_cast<uint8_t>(c - 'a' + 10);
    if (c == '*') return 14;
    if (c == '#') return 15;
    return kNoCode;
}

char dialChar(uint8_t code) { return code < 16 ? "0123456789ABCD*#"[code] : '?'; }

void putDialCodes(Bytes &b, size_t at, size_t count, const std::string &text) {
    for (size_t i = 0; i < count; ++i) b.at(at + i) = kNoCode;
    for (size_t i = 0; i < count && i < text.size(); ++i) {
        const uint8_t code = dialCode(text[i]);
        if (code == kNoCode) break;
        b[at + i] = code;
    }
}

std::string dialText(const uint8_t *codes, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && codes[i] < 16; ++i) out += dialChar(codes[i]);
    return out;
}

uint32_t nibbleWord(const std::string &digits) {
    uint32_t word = 0xFFFFFFFF;
    for (char c : digits) {
        if (c < '0' || c > '9') break;
        word = word << 4 | static_cast<uint32_t>(c - '0');
    }
    return word;
}

std::string DateTime::text() const {
    char out[32];
    std::snprintf(out, sizeof out, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
    return out;
}

std::string hex(uint32_t v, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, v);
    return text;
}

std::string dotted(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." +
           std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace qsim
