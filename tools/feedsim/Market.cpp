#include "feedsim/Market.h"

#include <algorithm>
#include <cmath>

namespace feedsim {
namespace {

constexpr double kMillion = 1000000.0;

}  // namespace

int PriceDecimals(double mid) {
    const int decimals = 5 - static_cast<int>(std::floor(std::log10(mid)));
    return std::clamp(decimals, 0, 8);
}

Market::Market(const std::vector<SymbolSetup>& symbols, int depth, double step, double spread,
               uint64_t seed)
    : m_random(seed), m_nDepth(depth), m_step(step), m_spread(spread) {
    for (const SymbolSetup& setup : symbols) {
        m_symbols.push_back({setup.symbol, setup.mid, setup.mid, PriceDecimals(setup.mid)});
    }
}

Book Market::Next(std::size_t symbolIndex) {
    std::lock_guard<std::mutex> guard(m_mutex);
    State& s = m_symbols.at(symbolIndex);

    // A bounded step, pulled back a little towards the start so that a long
    // run keeps prices near their usual level (and never near zero).
    std::uniform_real_distribution<double> move(-1.0, 1.0);
    s.mid *= 1.0 + m_step * move(m_random);
    s.mid += (s.start - s.mid) * 0.01;
    s.mid = std::clamp(s.mid, s.start * 0.5, s.start * 2.0);

    // Work in whole ticks of the price grid, so every price written is exact
    // at its number of decimals.
    const double ticksPerUnit = std::pow(10.0, s.decimals);
    const double half = s.mid * m_spread / 2.0;
    const int64_t bestBid = static_cast<int64_t>(std::floor((s.mid - half) * ticksPerUnit));
    int64_t bestOffer = static_cast<int64_t>(std::ceil((s.mid + half) * ticksPerUnit));
    if (bestOffer <= bestBid) bestOffer = bestBid + 1;
    const int64_t gap = std::max<int64_t>(1, std::llround(half * ticksPerUnit));

    std::uniform_int_distribution<int> lots(2, 7);  // half-millions
    Book book;
    book.symbol = s.symbol;
    book.decimals = s.decimals;
    for (int i = 0; i < m_nDepth; ++i) {
        const int64_t bid = bestBid - i * gap;
        if (bid > 0) {
            book.bids.push_back({static_cast<double>(bid) / ticksPerUnit,
                                 i * kMillion + lots(m_random) * kMillion / 2});
        }
        book.offers.push_back({static_cast<double>(bestOffer + i * gap) / ticksPerUnit,
                               i * kMillion + lots(m_random) * kMillion / 2});
    }
    return book;
}

}  // namespace feedsim
