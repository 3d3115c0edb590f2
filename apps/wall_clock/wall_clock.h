// The wall clock of the programs' status lines and records: microseconds
// since 1970 (UTC), and their text.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace qtools {

inline int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "2024-05-17T10:30:00.123Z" with 3 fraction digits, "...00.123456Z" with 6.
inline std::string utcText(int64_t us, int fractionDigits) {
    const auto seconds = static_cast<time_t>(us / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    const int fraction = static_cast<int>(us % 1000000) / (fractionDigits == 3 ? 1000 : 1);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%0*dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fractionDigits == 3 ? 3 : 6, fraction);
    return text;
}

}  // namespace qtools
