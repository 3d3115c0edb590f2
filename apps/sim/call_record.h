// Call detail records as the server sends them on the feed: 154 bytes each,
// sealed by a marker byte, a byte sum and a Fletcher check sum modulo 251.
//
// Layout (little-endian): 0 numberA, 4 numberB, 8 numberC, 12 numberD,
// 16 kind (low 6 bits), 24/56/88 three 32-byte dial-code fields (kinds 1 and
// 2: one 96-byte text there instead), 120 date and time, 124 duration count,
// 128 valueA, 132 valueB, 136 IPv4 address, 140 wordA, 142 wordB,
// 150 marker 0xFF, 151 sum of bytes 0-150, 152/153 check sum of bytes 0-151
// (low byte first).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/bytes.h"

namespace qsim::feed {

inline constexpr size_t kRecordSize = 154;
inline constexpr uint8_t kPoll = 0x58;
using Record = std::array<uint8_t, kRecordSize>;

// Two sums that start at 1 and 0; each addition wraps at 8 bits before it is
// reduced modulo 251.  s1 * 256 + s0, with 0 given as 0xFFFF.
uint16_t fletcher251(const uint8_t *bytes, size_t length);
uint8_t byteSum(const uint8_t *bytes, size_t length);

struct CallRecord {
    uint8_t kind = 0;  // 0 to 63
    int32_t numberA = 0, numberB = 0, numberC = 0;
    uint32_t numberD = 0;
    std::string digitsA, digitsB, digitsC;  // dial characters
    std::string text;                       // kinds 1 and 2, at most 96 bytes
    DateTime when;
    uint32_t durationCount = 0, valueA = 0, valueB = 0;
    uint32_t address = 0;  // host order
    uint16_t wordA = 0, wordB = 0;
};

// The sealed record.
Record encode(const CallRecord &r);
// Writes marker, byte sum and check sum.
void seal(Record &r);
// Spoils the low check byte, for a feed that is to see a broken record.
inline void breakCheckSum(Record &r) { r[152] ^= 0x01; }

// The index-th record of the simulator's fixed sequence: kinds 5, 1 and 3 in
// turn, a minute apart from 2024-05-17 10:30.
CallRecord sample(uint32_t index);
// One line for the log.
std::string describe(const CallRecord &r);

}  // namespace qsim::feed
