// Call records: the 154-byte record the server sends on a feed, its three
// integrity checks, and its decoding into the 260-byte payload that the
// application reads (NotifyCode 101).
//
// Record layout (little-endian integers):
//     0 numberA   4 numberB   8 numberC   12 numberD   16 kind (low 6 bits)
//    24 digitsA[32]   56 digitsB[32]   88 digitsC[28 read]
//    24 text[96] (kinds 1 and 2, over the three digit fields)
//   120 dateTime  124 durationCount  128 valueA  132 valueB  136 address
//   140 wordA (u16)  142 wordB (u16)  150 marker 0xFF  151 byte sum of 0-150
//   152 cmdrFletcher251 of 0-151, low byte   153 its high byte
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/endpoint.h"
#include "qapi.h"

namespace qapi {

struct CmdrFeed;
using CmdrRecordPayload = QapiCmdrRecordPayload;

inline constexpr size_t kCmdrRecordSize = 154;

namespace rec {
inline constexpr size_t kNumberA = 0;
inline constexpr size_t kNumberB = 4;
inline constexpr size_t kNumberC = 8;
inline constexpr size_t kNumberD = 12;
inline constexpr size_t kKind = 16;
inline constexpr size_t kDigitsA = 24;
inline constexpr size_t kDigitsB = 56;
inline constexpr size_t kDigitsC = 88;
inline constexpr size_t kText = 24;
inline constexpr size_t kDateTime = 120;
inline constexpr size_t kDurationCount = 124;
inline constexpr size_t kValueA = 128;
inline constexpr size_t kValueB = 132;
inline constexpr size_t kAddress = 136;
inline constexpr size_t kWordA = 140;
inline constexpr size_t kWordB = 142;
inline constexpr size_t kMarker = 150;
inline constexpr size_t kByteSum = 151;
inline constexpr size_t kCheckLow = 152;
inline constexpr size_t kCheckHigh = 153;

inline constexpr uint8_t kMarkerValue = 0xFF;
inline constexpr size_t kDigitsCodes = 32;
inline constexpr size_t kDigitsCCodes = 28;
inline constexpr size_t kTextLength = 96;
}  // namespace rec

// 16-bit check sum: two sums modulo 251, each addition wrapping at 8 bits
// before it is reduced.  s1 * 256 + s0; 0 is given as 0xFFFF.
uint16_t cmdrFletcher251(const uint8_t *bytes, size_t length);
// Sum of the bytes modulo 256.
uint8_t cmdrSumBytes(const uint8_t *bytes, size_t length);

// True iff the record's check sum, byte sum and marker are right.
bool cmdrRecordIsValid(const uint8_t *record);
// How many of the `count` records laid end to end at `records` pass, before
// the first that fails (count when all do).  As cmdrRecordIsValid of each in
// turn, but many records are checked at once where the processor allows.
size_t cmdrCountValidRecords(const uint8_t *records, size_t count);

// The payload's duration: 2c/125 rounded half up, for every count c.
uint32_t cmdrDurationOf(uint32_t durationCount);

// Decodes a valid record into `out`, which must be zero-filled.  The server
// address (an Endpoint's remoteAddress and its family) is written as text.
void cmdrDecodeRecord(const uint8_t *record, const uint8_t *serverAddress, RemoteFamily serverFamily,
                      CmdrRecordPayload &out);
// Decodes `count` valid records laid end to end, each into a payload cut from
// the scratch arena, and posts them to the feed's window in order.
void cmdrPostRecords(const CmdrFeed &feed, const uint8_t *records, size_t count);
void cmdrPostRecord(const CmdrFeed &feed, const uint8_t *record);

}  // namespace qapi
