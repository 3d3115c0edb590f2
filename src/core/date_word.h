// The packed date and time word that call records and route requests carry:
// second (bits 0-5), minute (6-11), hour (12-16), day (17-21), month (22-25)
// and the year after 2000 (26-31).
#pragma once

#include <cstdint>

namespace qapi {

// The fields as they stand in the word, without any check of their range;
// the year is the full year.
struct DateFields {
    uint16_t second;
    uint16_t minute;
    uint16_t hour;
    uint16_t day;
    uint16_t month;
    uint16_t year;
};

constexpr DateFields unpackDateWord(uint32_t word) {
    DateFields d{};
    d.second = static_cast<uint16_t>(word & 0x3F);
    d.minute = static_cast<uint16_t>((word >> 6) & 0x3F);
    d.hour = static_cast<uint16_t>((word >> 12) & 0x1F);
    d.day = static_cast<uint16_t>((word >> 17) & 0x1F);
    d.month = static_cast<uint16_t>((word >> 22) & 0x0F);
    d.year = static_cast<uint16_t>(2000 + ((word >> 26) & 0x3F));
    return d;
}

}  // namespace qapi
