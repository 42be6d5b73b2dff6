// The simulated market: one mid price per symbol that moves by a bounded
// random step on every quote, and the order book built around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "feedsim/FeedOptions.h"
#include "feedsim/QuoteMessage.h"

namespace feedsim {

// Decimal places of a price level: six significant digits, as currency pairs
// are usually quoted (1.08501, 151.503), between 0 and 8.
int PriceDecimals(double mid);

class Market {
public:
    Market(const std::vector<SymbolSetup>& symbols, int depth, double step, double spread,
           uint64_t seed);

    std::size_t SymbolCount() const { return m_symbols.size(); }

    // Moves the mid of one symbol and returns its new book: `depth` bids
    // below and `depth` offers above the mid, best first, on the price grid of
    // the symbol, bid and offer never crossed. Safe from several threads.
    Book Next(std::size_t symbolIndex);

private:
    struct State {
        std::string symbol;
        double start;  // the walk is pulled gently back towards it
        double mid;
        int decimals;
    };

    std::mutex m_mutex;
    std::mt19937_64 m_random;
    std::vector<State> m_symbols;
    int m_nDepth;
    double m_step;
    double m_spread;
};

}  // namespace feedsim
