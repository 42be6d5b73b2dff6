#include "platform/LocalTime.h"

#include <ctime>

namespace vantrel::platform {

bool ToLocalTime(int64_t nEpochMillis, LocalTime& local) noexcept {
    // localtime_r need not look at TZ again after the first call; tzset makes
    // a changed TZ count.
    ::tzset();
    const time_t seconds = static_cast<time_t>(nEpochMillis / 1000 - (nEpochMillis % 1000 < 0 ? 1 : 0));
    struct tm fields {};
    if (::localtime_r(&seconds, &fields) == nullptr) return false;
    local.nYear = fields.tm_year + 1900;
    local.nMonth = fields.tm_mon + 1;
    local.nDay = fields.tm_mday;
    local.nHour = fields.tm_hour;
    local.nMinute = fields.tm_min;
    local.nSecond = fields.tm_sec;
    local.nWeekday = fields.tm_wday;
    local.nUtcOffsetMinutes = static_cast<int>(fields.tm_gmtoff / 60);
    return true;
}

}  // namespace vantrel::platform
