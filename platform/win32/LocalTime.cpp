#include "platform/LocalTime.h"

#include <ctime>

namespace vantrel::platform {

bool ToLocalTime(int64_t nEpochMillis, LocalTime& local) noexcept {
    // The C run-time reads the zone from TZ when set, else from Windows'
    // time-zone information; _tzset makes a changed TZ count.
    ::_tzset();
    const __time64_t seconds = nEpochMillis / 1000 - (nEpochMillis % 1000 < 0 ? 1 : 0);
    std::tm fields{};
    if (::_localtime64_s(&fields, &seconds) != 0) return false;
    // The offset: the local fields read as if they were UTC, minus the instant.
    std::tm copy = fields;
    const __time64_t asUtc = ::_mkgmtime64(&copy);
    if (asUtc == -1) return false;
    local.nYear = fields.tm_year + 1900;
    local.nMonth = fields.tm_mon + 1;
    local.nDay = fields.tm_mday;
    local.nHour = fields.tm_hour;
    local.nMinute = fields.tm_min;
    local.nSecond = fields.tm_sec;
    local.nWeekday = fields.tm_wday;
    local.nUtcOffsetMinutes = static_cast<int>((asUtc - seconds) / 60);
    return true;
}

}  // namespace vantrel::platform
