// The monitor's board: one row per symbol with its top of book, the time the
// monitor saw it change, and the text shown for it. Knows nothing of the
// library beyond its result codes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quotes {

using WallClock = std::chrono::system_clock;

// The best bid and offer of one quote, sizes in millions.
struct TopOfBook {
    bool hasBid = false;
    bool hasOffer = false;
    double bid = 0.0;
    double bidSize = 0.0;
    double offer = 0.0;
    double offerSize = 0.0;
};

// The best (highest) bid and best (lowest) offer among the entries of one
// quote, whatever their order in the message.
TopOfBook BestOf(const double* bidPrices, const double* bidSizes, int nBids,
                 const double* offerPrices, const double* offerSizes, int nOffers);

// Text from the server (a symbol) or the library as it may be printed:
// control characters escaped as the library's log writes them (ESC as \x1B),
// so that no symbol can move the cursor, clear the screen or retitle the
// terminal.
std::string Printable(const std::string& text);

// The library's result codes in words.
std::string LoginResultText(int result);
std::string QueryResultText(int result);

// A price with the decimals it needs: at least six significant digits' worth
// (1.08500, 151.500), more when the value has them, at most 10.
std::string FormatPrice(double price);
int PriceDecimals(double price);

// Symbols probed by name when none are given: pairs of common currency
// codes, as "EUR/USD" and as "EURUSD".
std::vector<std::string> DiscoveryCandidates();

struct RenderStyle {
    bool ansi = false;   // colour the ticks and the status words
    WallClock::time_point now;
};

class Board {
public:
    Board() = default;
    explicit Board(const std::vector<std::string>& symbols);

    // Adds a row (kept in byte order after the rows given at construction).
    // False when the symbol has a row already.
    bool Add(const std::string& symbol);
    bool Has(const std::string& symbol) const;
    std::vector<std::string> Symbols() const;
    std::size_t Size() const { return m_rows.size(); }

    // Records the result of one query of `symbol` (1 with `top`, or a code).
    void Record(const std::string& symbol, int result, const TopOfBook& top,
                WallClock::time_point now);

    // Every row has had a quote (and there is at least one row).
    bool AllQuoted() const;

    // Rows that never had a quote.
    std::vector<std::string> Unquoted() const;

    // The session has ended: rows had quotes, and the latest query of every
    // one of them found none. While a session lives a stored quote is only
    // ever replaced, never removed; the library empties its store only when
    // the connection ends.
    bool SessionLost() const;

    // The table: a header line, then one line per row; symbols Printable.
    std::vector<std::string> Render(const RenderStyle& style) const;

private:
    struct Row {
        explicit Row(const std::string& name) : symbol(name) {}
        std::string symbol;
        bool bQuoted = false;       // had a quote at some time
        int lastResult = 0;
        TopOfBook top;              // the latest quote
        WallClock::time_point changed;
        int bidMove = 0;            // +1 up, -1 down at the last change
        int offerMove = 0;
    };

    Row* Find(const std::string& symbol);

    std::vector<Row> m_rows;
    std::size_t m_nFixed = 0;  // rows given at construction, in their order
};

}  // namespace quotes
