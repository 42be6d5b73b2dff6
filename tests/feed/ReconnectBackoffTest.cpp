// The reconnection's schedule of waits, and the keep-alive timings that fit
// a dead path's detection into its bound: pure numbers, tested without
// sleeping.
#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "feed/ReconnectBackoff.h"
#include "platform/Socket.h"

namespace vantrel {
namespace {

// Every wait lies within 20 % of its step (1.6 times the one before, from
// the first, up to the cap) and never above the cap; the same seed gives
// the same waits.
TEST(ReconnectBackoff, WaitsGrowByTheFactorWithinTheJitterUpToTheCap) {
    struct Case {
        int64_t nFirstMs, nMaxMs;
        uint64_t nSeed;
    };
    const Case cases[] = {{1000, 60000, 1}, {1000, 60000, 0xDEADBEEF}, {50, 1000, 42}, {5000, 2000, 7}, {1, 1, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nFirstMs << " to " << c.nMaxMs << ", seed " << c.nSeed);
        CReconnectBackoff backoff(c.nFirstMs, c.nMaxMs, c.nSeed), again(c.nFirstMs, c.nMaxMs, c.nSeed);
        double step = static_cast<double>(std::min(c.nFirstMs, c.nMaxMs));
        for (int i = 0; i < 40; ++i) {
            const int64_t wait = backoff.NextWaitMs();
            EXPECT_GE(wait, std::max<int64_t>(1, static_cast<int64_t>(std::floor(step * 0.8)))) << i;
            EXPECT_LE(wait, std::min<int64_t>(c.nMaxMs, static_cast<int64_t>(std::ceil(step * 1.2)))) << i;
            EXPECT_EQ(again.NextWaitMs(), wait) << i;
            step = std::min(step * 1.6, static_cast<double>(c.nMaxMs));
        }
    }
}

// Hosts that lost the same server at once spread their attempts: the first
// waits of a hundred seeds cover the jitter's range. Reset returns to the
// first step.
TEST(ReconnectBackoff, SeedsSpreadTheWaitsAndResetStartsOver) {
    std::set<int64_t> firstWaits;
    for (uint64_t seed = 1; seed <= 100; ++seed) firstWaits.insert(CReconnectBackoff(1000, 60000, seed).NextWaitMs());
    EXPECT_GT(firstWaits.size(), 80u);
    EXPECT_LT(*firstWaits.begin(), 850);
    EXPECT_GT(*firstWaits.rbegin(), 1150);

    CReconnectBackoff backoff(1000, 60000, 9);
    for (int i = 0; i < 12; ++i) backoff.NextWaitMs();
    EXPECT_GE(backoff.NextWaitMs(), 48000);
    backoff.Reset();
    const int64_t wait = backoff.NextWaitMs();
    EXPECT_GE(wait, 800);
    EXPECT_LE(wait, 1200);
}

// The idle time and the probes at their intervals end within the bound, for
// Linux's four probes and Windows' ten.
TEST(KeepAliveTimings, ProbesEndWithinTheBound) {
    struct Case {
        int nBoundSeconds, nProbes, nIdleMs, nIntervalMs;
    };
    const Case cases[] = {{30, 4, 10000, 5000}, {30, 10, 10000, 2000}, {60, 4, 20000, 10000},
                          {3, 4, 1000, 500},    {1, 4, 1000, 100},     {86400, 10, 28800000, 5760000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nBoundSeconds << " s, " << c.nProbes << " probes");
        const platform::KeepAliveTimings t = platform::KeepAliveTimingsFor(c.nBoundSeconds, c.nProbes);
        EXPECT_EQ(t.nIdleMs, c.nIdleMs);
        EXPECT_EQ(t.nIntervalMs, c.nIntervalMs);
        if (c.nBoundSeconds > 1) {
            EXPECT_LE(t.nIdleMs + c.nProbes * t.nIntervalMs, c.nBoundSeconds * 1000);
        }
    }
}

}  // namespace
}  // namespace vantrel
