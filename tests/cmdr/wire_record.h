// Call records as the server sends them, built field by field for the tests.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "cmdr/record.h"

namespace qapi::test {

struct WireRecord {
    std::array<uint8_t, kCmdrRecordSize> bytes{};

    explicit WireRecord(uint8_t kindByte) {
        for (size_t i = rec::kDigitsA; i < rec::kDateTime; ++i) bytes[i] = 0xFF;  // empty dial fields
        bytes[rec::kKind] = kindByte;
    }
    WireRecord &u32(size_t offset, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
        return *this;
    }
    WireRecord &u16(size_t offset, uint16_t v) {
        bytes[offset] = static_cast<uint8_t>(v);
        bytes[offset + 1] = static_cast<uint8_t>(v >> 8);
        return *this;
    }
    WireRecord &codes(size_t offset, std::initializer_list<uint8_t> list) {
        size_t i = offset;
        for (uint8_t c : list) bytes[i++] = c;
        return *this;
    }
    // Marker, byte sum and check sum, as the server writes them.
    const std::array<uint8_t, kCmdrRecordSize> &sealed() {
        bytes[rec::kMarker] = rec::kMarkerValue;
        bytes[rec::kByteSum] = cmdrSumBytes(bytes.data(), rec::kByteSum);
        const uint16_t check = cmdrFletcher251(bytes.data(), rec::kCheckLow);
        bytes[rec::kCheckLow] = static_cast<uint8_t>(check);
        bytes[rec::kCheckHigh] = static_cast<uint8_t>(check >> 8);
        return bytes;
    }
};

// The packed date and time word.
inline uint32_t packedDateTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                               uint32_t second) {
    return (year - 2000) << 26 | month << 22 | day << 17 | hour << 12 | minute << 6 | second;
}

}  // namespace qapi::test
