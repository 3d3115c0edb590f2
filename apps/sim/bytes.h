// Byte buffers, little-endian fields and dial codes, as the simulator puts
// them on the wire.  Everything here is the simulator's own; it shares no
// code with the library it talks to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qsim {

using Bytes = std::vector<uint8_t>;

inline void putU16(Bytes &b, size_t at, uint16_t v) {
    b.at(at + 1) = static_cast<uint8_t>(v >> 8);
    b[at] = static_cast<uint8_t>(v);
}

inline void putU32(Bytes &b, size_t at, uint32_t v) {
    b.at(at + 3) = static_cast<uint8_t>(v >> 24);
    for (int i = 0; i < 3; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t getU16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t getU32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline constexpr uint8_t kNoCode = 0xFF;

// '0'-'9', 'A'-'D' (either case), '*', '#' give 0 to 15; anything else 0xFF.
uint8_t dialCode(char c);
// The character of a code 0 to 15; '?' for anything else.
char dialChar(uint8_t code);
// Writes the leading dial characters of `text` as codes into `count` bytes
// from `at`, 0xFF after the last; the first other character ends the text.
void putDialCodes(Bytes &b, size_t at, size_t count, const std::string &text);
// The characters of the codes up to the first code above 15.
std::string dialText(const uint8_t *codes, size_t count);
// Nibble form of a number for identifiers shown digit by digit: "4711" gives
// 0xFFFF4711 (a nibble above 9 shows as a blank, or is left out).
uint32_t nibbleWord(const std::string &digits);

// Date and time packed into one word: second in bits 0-5, minute 6-11,
// hour 12-16, day 17-21, month 22-25, year minus 2000 in 26-31.
struct DateTime {
    uint32_t year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    uint32_t packed() const {
        return (year - 2000) << 26 | month << 22 | day << 17 | hour << 12 | minute << 6 | second;
    }
    std::string text() const;  // "2024-05-17 10:30:00"
};

// "0x0000002A": `width` hexadecimal digits.
std::string hex(uint32_t v, int width = 8);
// "10.0.0.1" for a host-order address.
std::string dotted(uint32_t hostOrder);

}  // namespace qsim
