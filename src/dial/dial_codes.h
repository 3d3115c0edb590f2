// Dial codes: numbers travel between the library and the call server as one
// dial key per byte (0-9, 10-13 for A-D, 14 '*', 15 '#'), in 32-byte buffers
// filled with 0xFF after the last code.  All operations work on caller-owned
// memory and never allocate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi {

using DialCode = uint8_t;

inline constexpr DialCode kNoDialCode = 0xFF;
inline constexpr size_t kDialBufferSize = 32;
inline constexpr size_t kNumberCodes = 28;

// '0'-'9', 'A'-'D' in either case, '*', '#'; any other byte gives 255.
DialCode dialCodeOf(char c);
// The dial character of a code, letters in upper case; 0xFF above 15.
char dialCharOf(DialCode code);
// As dialCharOf, but a blank above 15.
char dialCharOrBlank(DialCode code);

// Fills the 32-byte buffer with 0xFF, then packs the leading dial characters
// of `text` (at most 32; the first non-dial character ends the text).
void packDialCodes(const char *text, uint8_t *buffer);
// Writes `value` at the first of the 32 bytes equal to `freeMarker`; a full
// buffer drops the value.
void fillFirstFree(uint8_t *buffer, uint8_t value, uint8_t freeMarker);
// The number made of the first (at most 8) leading decimal digits; 0 if none.
uint32_t parseLeadingDecimal(const char *text);
// 28 codes from `source`, then four 0xFF: an inbound number of the server.
void unpackNumberCodes(const uint8_t *source, uint8_t *buffer);
// The dial characters of a 32-byte buffer up to its first non-code, and a NUL;
// `out` holds at least 33 bytes.  Returns the position of the NUL.
size_t dialCodesToText(const uint8_t *buffer, char *out);
// Text of at most `count` codes for the call-record and adjunct side: stops at
// the first code above 15; writes the NUL.  `out` holds count + 1 bytes.
size_t dialCodesToBlankEnded(const uint8_t *codes, size_t count, char *out);

}  // namespace qapi
