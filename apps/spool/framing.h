// How an entry sits in a spool file: a header, then the entry's bytes.
//
// Written today (16 bytes): the mark "QSP2", the entry's length, the CRC-32
// of the entry and the CRC-32 of the twelve bytes before it (little-endian).
// The header's own check lets a reader that lost its place (damaged bytes)
// try every position after them cheaply, and trust a length before it reads
// that far.  Read as well (12 bytes): the first framing, the mark "QCDS",
// the length and the CRC-32 of the entry, which the collector wrote before.
// Zero bytes between entries are padding: no header starts with one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qspool {

inline constexpr size_t kHeaderBytes = 16;
inline constexpr size_t kFirstHeaderBytes = 12;
inline constexpr uint32_t kFirstLargestEntry = 4096;  // the first framing's bound

uint32_t crc32(const void *bytes, size_t length);

// The header and the entry, as they are written.
std::string frame(std::string_view entry);

// The header of an entry that starts at the front of `bytes`, fits
// `largest` and the file (`available` bytes from there); `bytes` holds at
// least kHeaderBytes of them, or all the file has there.
struct Header {
    size_t headerBytes = 0;
    uint32_t length = 0;  // the entry's
    uint32_t crc = 0;     // the entry's
};
std::optional<Header> readHeader(std::string_view bytes, uint64_t available, uint32_t largest);

}  // namespace qspool
