#include "log/UtcTime.h"

#include <ctime>

#include <gtest/gtest.h>

#include "tests/support/HostProcess.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

// The Julian-day arithmetic must agree with the C library's calendar for every
// day over several centuries, leap years and century rules included (on
// Windows, whose C library starts in 1970, for the days from then on).
TEST(UtcTime, JulianDayConversionAgreesWithGmtimeForEveryDay) {
    int nCompared = 0;
    for (int64_t day = -80000; day < 80000; ++day) {
        const int64_t millis = day * 86400000 + 12345;
        const UtcTime t = UtcTime::FromEpochMillis(millis);
        std::tm tm{};
        if (!test::GmTime(millis / 1000, tm)) continue;
        ++nCompared;
        int y = 0, m = 0, d = 0;
        DateFromJulianDay(t.nJulianDay, y, m, d);
        ASSERT_EQ(y, tm.tm_year + 1900) << day;
        ASSERT_EQ(m, tm.tm_mon + 1) << day;
        ASSERT_EQ(d, tm.tm_mday) << day;
        ASSERT_EQ(JulianDayFromDate(y, m, d), t.nJulianDay) << day;
    }
    EXPECT_GE(nCompared, 80000);
}

TEST(UtcTime, StampAndDateAreZeroPaddedWithoutFraction) {
    const UtcTime t = UtcTime::FromEpochMillis(test::EpochMillis(2027, 1, 2, 3, 4, 5) + 999);
    EXPECT_EQ(t.Date(), "20270102");
    EXPECT_EQ(t.Stamp(), "20270102-03:04:05");
    const UtcTime last = UtcTime::FromEpochMillis(test::EpochMillis(2026, 12, 31, 23, 59, 59) + 999);
    EXPECT_EQ(last.Stamp(), "20261231-23:59:59");
    EXPECT_EQ(UtcTime::FromEpochMillis(-1).Stamp(), "19691231-23:59:59");
}

}  // namespace
}  // namespace vantrel
