#include "feed/ReconnectBackoff.h"

#include <algorithm>
#include <cmath>

namespace vantrel {

CReconnectBackoff::CReconnectBackoff(int64_t nFirstMs, int64_t nMaxMs, uint64_t nSeed)
    : m_firstMs(static_cast<double>(std::max<int64_t>(1, nFirstMs))),
      m_maxMs(static_cast<double>(std::max<int64_t>(1, nMaxMs))),
      m_stepMs(std::min(m_firstMs, m_maxMs)),
      m_nState(nSeed) {}

double CReconnectBackoff::NextUniform() {
    uint64_t z = (m_nState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);  // 53 bits
}

int64_t CReconnectBackoff::NextWaitMs() {
    const double factor = 1.0 + kJitter * (2.0 * NextUniform() - 1.0);
    const double waitMs = std::min(m_stepMs * factor, m_maxMs);
    m_stepMs = std::min(m_stepMs * kMultiplier, m_maxMs);
    return std::max<int64_t>(1, std::llround(waitMs));
}

void CReconnectBackoff::Reset() { m_stepMs = std::min(m_firstMs, m_maxMs); }

}  // namespace vantrel
