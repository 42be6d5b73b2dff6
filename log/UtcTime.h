// A UTC instant held as the log holds it: a Julian day number and the
// milliseconds since midnight of that day.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

struct UtcTime {
    int32_t nJulianDay = 0;  // days since 4714-11-24 BC (proleptic Gregorian)
    int32_t nMillis = 0;     // milliseconds since 00:00:00 of that day

    static UtcTime FromEpochMillis(int64_t nEpochMillis) noexcept;
    static UtcTime Now() noexcept;  // reads platform::NowUtcMillis once

    // "YYYYMMDD": the date part of log file names.
    std::string Date() const;
    // "YYYYMMDD-HH:MM:SS": 17 characters, no fraction of a second.
    std::string Stamp() const;
};

// Civil date <-> Julian day number (Gregorian calendar).
int32_t JulianDayFromDate(int nYear, int nMonth, int nDay) noexcept;
void DateFromJulianDay(int32_t nJulianDay, int& nYear, int& nMonth, int& nDay) noexcept;

}  // namespace vantrel
