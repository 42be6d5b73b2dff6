#include "log/UtcTime.h"

#include <cstdio>

#include "platform/Clock.h"

namespace vantrel {
namespace {

constexpr int64_t kMillisPerDay = 86400000;
constexpr int32_t kJulianDayOfUnixEpoch = 2440588;  // 1970-01-01
// The widest text of an int ("-2147483648"). The buffers below hold every
// field at that width, so no date, however far from today, is cut short.
constexpr int kIntChars = 11;

}  // namespace

UtcTime UtcTime::FromEpochMillis(int64_t nEpochMillis) noexcept {
    int64_t nDays = nEpochMillis / kMillisPerDay;
    int64_t nRest = nEpochMillis % kMillisPerDay;
    if (nRest < 0) {  // instants before 1970 round towards the earlier day
        nRest += kMillisPerDay;
        --nDays;
    }
    UtcTime t;
    t.nJulianDay = static_cast<int32_t>(nDays + kJulianDayOfUnixEpoch);
    t.nMillis = static_cast<int32_t>(nRest);
    return t;
}

UtcTime UtcTime::Now() noexcept { return FromEpochMillis(platform::NowUtcMillis()); }

// The usual integer conversions (Fliegel and Van Flandern).
int32_t JulianDayFromDate(int nYear, int nMonth, int nDay) noexcept {
    const int a = (14 - nMonth) / 12;
    const int y = nYear + 4800 - a;
    const int m = nMonth + 12 * a - 3;
    return nDay + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void DateFromJulianDay(int32_t nJulianDay, int& nYear, int& nMonth, int& nDay) noexcept {
    const int a = nJulianDay + 32044;
    const int b = (4 * a + 3) / 146097;
    const int c = a - 146097 * b / 4;
    const int d = (4 * c + 3) / 1461;
    const int e = c - 1461 * d / 4;
    const int m = (5 * e + 2) / 153;
    nDay = e - (153 * m + 2) / 5 + 1;
    nMonth = m + 3 - 12 * (m / 10);
    nYear = 100 * b + d - 4800 + m / 10;
}

std::string UtcTime::Date() const {
    int y = 0, mo = 0, d = 0;
    DateFromJulianDay(nJulianDay, y, mo, d);
    char buffer[3 * kIntChars + 1];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", y, mo, d);
    return buffer;
}

std::string UtcTime::Stamp() const {
    int y = 0, mo = 0, d = 0;
    DateFromJulianDay(nJulianDay, y, mo, d);
    const int nSeconds = nMillis / 1000;
    char buffer[6 * kIntChars + 3 + 1];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d-%02d:%02d:%02d", y, mo, d,
                  nSeconds / 3600, nSeconds / 60 % 60, nSeconds % 60);
    return buffer;
}

}  // namespace vantrel
