// Local (wall-clock) time of the host's time zone, broken down into fields,
// with the zone's offset from UTC at that instant (daylight time included).
#pragma once

#include <cstdint>

namespace vantrel::platform {

struct LocalTime {
    int nYear = 1970;
    int nMonth = 1;    // 1 to 12
    int nDay = 1;      // 1 to 31
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int nWeekday = 4;  // 0 = Sunday
    int nUtcOffsetMinutes = 0;  // local time minus UTC: +330 for UTC+05:30
};

// The local time of `nEpochMillis` in the zone the TZ environment variable
// names at the moment of the call (the system's zone when TZ is unset). False
// when the time cannot be broken down.
bool ToLocalTime(int64_t nEpochMillis, LocalTime& local) noexcept;

}  // namespace vantrel::platform
