// The waits between reconnection attempts, as a schedule independent of any
// socket or clock so that its numbers can be tested without sleeping.
//
// The first wait is about one second; each further one is 1.6 times the one
// before, up to the cap. Every wait is drawn within 20 % either side of its
// step (and never above the cap), so that many hosts that lost the same
// server at the same moment do not come back to it in lock-step. Reset()
// returns to the first step; the quotes thread calls it once a connection
// has lived longer than the cap, so that a flapping server is not hit at the
// first step's rate.
#pragma once

#include <cstdint>

namespace vantrel {

class CReconnectBackoff {
public:
    static constexpr double kMultiplier = 1.6;
    static constexpr double kJitter = 0.2;

    // `nFirstMs`: the first step; `nMaxMs`: the cap (both at least 1);
    // `nSeed`: the random source's seed, so that a given seed always gives
    // the same schedule.
    CReconnectBackoff(int64_t nFirstMs, int64_t nMaxMs, uint64_t nSeed);

    // The next wait, in milliseconds, and the step after it.
    int64_t NextWaitMs();

    // Back to the first step.
    void Reset();

private:
    // Uniform in [0, 1), from a SplitMix64 sequence: the same numbers on
    // every platform and standard library.
    double NextUniform();

    double m_firstMs;
    double m_maxMs;
    double m_stepMs;
    uint64_t m_nState;
};

}  // namespace vantrel
