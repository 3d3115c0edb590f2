#include "dial/dial_codes.h"

#include <cstring>

namespace qapi {

DialCode dialCodeOf(char c) {
    if (c >= '0' && c <= '9') return static_cast<DialCode>(c - '0');
    switch (c) {
    case 'A':
    case 'a':
        return 10;
    case 'B':
    case 'b':
        return 11;
    case 'C':
    case 'c':
        return 12;
    case 'D':
    case 'd':
        return 13;
    case '*':
        return 14;
    case '#':
        return 15;
    default:
        return kNoDialCode;
    }
}

char dialCharOf(DialCode code) {
    static constexpr char kChars[] = "0123456789ABCD*#";
    return code <= 15 ? kChars[code] : static_cast<char>(0xFF);
}

char dialCharOrBlank(DialCode code) { return code <= 15 ? dialCharOf(code) : ' '; }

void packDialCodes(const char *text, uint8_t *buffer) {
    std::memset(buffer, kNoDialCode, kDialBufferSize);
    if (!text) return;
    for (size_t i = 0; i < kDialBufferSize; ++i) {
        const DialCode code = dialCodeOf(text[i]);
        if (code == kNoDialCode) return;
        buffer[i] = code;
    }
}

void fillFirstFree(uint8_t *buffer, uint8_t value, uint8_t freeMarker) {
    for (size_t i = 0; i < kDialBufferSize; ++i) {
        if (buffer[i] == freeMarker) {
            buffer[i] = value;
            return;
        }
    }
}

uint32_t parseLeadingDecimal(const char *text) {
    uint32_t value = 0;
    if (!text) return 0;
    for (size_t i = 0; i < 8; ++i) {
        if (text[i] < '0' || text[i] > '9') break;
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return value;
}

void unpackNumberCodes(const uint8_t *source, uint8_t *buffer) {
    std::memcpy(buffer, source, kNumberCodes);
    std::memset(buffer + kNumberCodes, kNoDialCode, kDialBufferSize - kNumberCodes);
}

size_t dialCodesToText(const uint8_t *buffer, char *out) {
    size_t i = 0;
    for (; i < kDialBufferSize; ++i) {
        const char c = dialCharOf(buffer[i]);
        if (c == static_cast<char>(0xFF)) break;
        out[i] = c;
    }
    out[i] = '\0';
    return i;
}

size_t dialCodesToBlankEnded(const uint8_t *codes, size_t count, char *out) {
    size_t i = 0;
    for (; i < count; ++i) {
        const char c = dialCharOrBlank(codes[i]);
        if (c == ' ') break;
        out[i] = c;
    }
    out[i] = '\0';
    return i;
}

}  // namespace qapi
