#include "quotes/Board.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "log/EscapeText.h"

namespace quotes {
namespace {

const char* const kGreen = "\x1b[32m";
const char* const kRed = "\x1b[31m";
const char* const kDim = "\x1b[2m";
const char* const kBold = "\x1b[1m";
const char* const kReset = "\x1b[0m";

// How long a changed price keeps the colour of its move.
constexpr auto kTickHighlight = std::chrono::milliseconds(1500);

std::string Printf(const char* format, double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, format, decimals, value);
    return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string LocalTime(WallClock::time_point when) {
    const std::time_t seconds = WallClock::to_time_t(when);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", millis);
    return text;
}

std::string Colored(const std::string& text, const char* color, bool bAnsi) {
    return bAnsi && color != nullptr ? std::string(color) + text + kReset : text;
}

int Direction(double before, double after) { return after > before ? 1 : after < before ? -1 : 0; }

}  // namespace

TopOfBook BestOf(const double* bidPrices, const double* bidSizes, int nBids,
                 const double* offerPrices, const double* offerSizes, int nOffers) {
    TopOfBook top;
    for (int i = 0; i < nBids; ++i) {
        if (!top.hasBid || bidPrices[i] > top.bid) {
            top.hasBid = true;
            top.bid = bidPrices[i];
            top.bidSize = bidSizes[i];
        }
    }
    for (int i = 0; i < nOffers; ++i) {
        if (!top.hasOffer || offerPrices[i] < top.offer) {
            top.hasOffer = true;
            top.offer = offerPrices[i];
            top.offerSize = offerSizes[i];
        }
    }
    return top;
}

std::string LoginResultText(int result) {
    switch (result) {
        case 1: return "login granted, session opened";
        case 0: return "a session was already open; this login was counted";
        case -1: return "login failed (no connection, no verdict in time, or credentials refused)";
        case -2: return "the library could not start its receiving thread";
        default: return "unexpected result " + std::to_string(result);
    }
}

std::string QueryResultText(int result) {
    switch (result) {
        case 1: return "quote copied";
        case 0: return "no quote stored for this symbol";
        case -1: return "invalid argument";
        case -2: return "no session";
        default: return "unexpected result " + std::to_string(result);
    }
}

int PriceDecimals(double price) {
    if (!std::isfinite(price) || price == 0.0) return 5;
    const double magnitude = std::fabs(price);
    const int base = std::clamp(5 - static_cast<int>(std::floor(std::log10(magnitude))), 0, 8);
    for (int d = base; d < 10; ++d) {
        const double scale = std::pow(10.0, d);
        if (std::fabs(std::round(price * scale) / scale - price) <= 1e-9 * std::max(1.0, magnitude)) {
            return d;
        }
    }
    return 10;
}

std::string FormatPrice(double price) { return Printf("%.*f", price, PriceDecimals(price)); }

std::vector<std::string> DiscoveryCandidates() {
    static const char* const kCodes[] = {"USD", "EUR", "JPY", "GBP", "CHF", "AUD", "NZD",
                                         "CAD", "NOK", "SEK", "DKK", "XAU", "XAG"};
    std::vector<std::string> candidates;
    for (const char* base : kCodes) {
        for (const char* quote : kCodes) {
            if (base == quote) continue;
            candidates.push_back(std::string(base) + "/" + quote);
            candidates.push_back(std::string(base) + quote);
        }
    }
    return candidates;
}

Board::Board(const std::vector<std::string>& symbols) {
    for (const std::string& symbol : symbols) {
        if (Find(symbol) == nullptr) m_rows.emplace_back(symbol);
    }
    m_nFixed = m_rows.size();
}

Board::Row* Board::Find(const std::string& symbol) {
    for (Row& row : m_rows) {
        if (row.symbol == symbol) return &row;
    }
    return nullptr;
}

bool Board::Has(const std::string& symbol) const {
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [&](const Row& row) { return row.symbol == symbol; });
}

bool Board::Add(const std::string& symbol) {
    if (Has(symbol)) return false;
    const auto at = std::lower_bound(
        m_rows.begin() + static_cast<std::ptrdiff_t>(m_nFixed), m_rows.end(), symbol,
        [](const Row& row, const std::string& s) { return row.symbol < s; });
    m_rows.insert(at, Row(symbol));
    return true;
}

std::vector<std::string> Board::Symbols() const {
    std::vector<std::string> symbols;
    for (const Row& row : m_rows) symbols.push_back(row.symbol);
    return symbols;
}

void Board::Record(const std::string& symbol, int result, const TopOfBook& top,
                   WallClock::time_point now) {
    Row* row = Find(symbol);
    if (row == nullptr) return;
    row->lastResult = result;
    if (result != 1) return;
    const TopOfBook& before = row->top;
    const bool bChanged = !row->bQuoted || before.hasBid != top.hasBid ||
                          before.hasOffer != top.hasOffer || before.bid != top.bid ||
                          before.offer != top.offer || before.bidSize != top.bidSize ||
                          before.offerSize != top.offerSize;
    if (!bChanged) return;
    if (row->bQuoted) {
        row->bidMove = Direction(before.bid, top.bid);
        row->offerMove = Direction(before.offer, top.offer);
    }
    row->top = top;
    row->bQuoted = true;
    row->changed = now;
}

bool Board::AllQuoted() const {
    return !m_rows.empty() &&
           std::all_of(m_rows.begin(), m_rows.end(), [](const Row& row) { return row.bQuoted; });
}

std::vector<std::string> Board::Unquoted() const {
    std::vector<std::string> symbols;
    for (const Row& row : m_rows) {
        if (!row.bQuoted) symbols.push_back(row.symbol);
    }
    return symbols;
}

bool Board::SessionLost() const {
    bool bAnyQuoted = false;
    for (const Row& row : m_rows) {
        if (!row.bQuoted) continue;
        bAnyQuoted = true;
        if (row.lastResult != 0) return false;
    }
    return bAnyQuoted;
}

std::string Printable(const std::string& text) { return vantrel::Escaped(text); }

std::vector<std::string> Board::Render(const RenderStyle& style) const {
    std::size_t symbolWidth = 7;
    for (const Row& row : m_rows) symbolWidth = std::max(symbolWidth, Printable(row.symbol).size());

    std::vector<std::string> lines;
    lines.push_back(Colored(PadRight("SYMBOL", symbolWidth) + "  " + PadLeft("BID SIZE(M)", 11) +
                                "  " + PadLeft("BID", 12) + "  " + PadLeft("OFFER", 12) + "  " +
                                PadLeft("OFFER SIZE(M)", 13) + "  " + PadLeft("SPREAD", 10) +
                                "  " + "CHANGED",
                            kBold, style.ansi));
    for (const Row& row : m_rows) {
        std::string line = PadRight(Printable(row.symbol), symbolWidth) + "  ";
        if (!row.bQuoted) {
            const std::string words = row.lastResult == 0 ? "waiting for a first quote"
                                                          : QueryResultText(row.lastResult);
            lines.push_back(line + Colored(words, kDim, style.ansi));
            continue;
        }
        const TopOfBook& t = row.top;
        const bool bFresh = style.now - row.changed < kTickHighlight;
        auto moveColor = [&](int move) {
            return !bFresh || move == 0 ? nullptr : move > 0 ? kGreen : kRed;
        };
        line += PadLeft(t.hasBid ? Printf("%.*f", t.bidSize, 2) : "-", 11) + "  ";
        line += Colored(PadLeft(t.hasBid ? FormatPrice(t.bid) : "-", 12), moveColor(row.bidMove),
                        style.ansi) +
                "  ";
        line += Colored(PadLeft(t.hasOffer ? FormatPrice(t.offer) : "-", 12),
                        moveColor(row.offerMove), style.ansi) +
                "  ";
        line += PadLeft(t.hasOffer ? Printf("%.*f", t.offerSize, 2) : "-", 13) + "  ";
        const int decimals = std::max(PriceDecimals(t.bid), PriceDecimals(t.offer));
        line += PadLeft(t.hasBid && t.hasOffer ? Printf("%.*f", t.offer - t.bid, decimals) : "-",
                        10) +
                "  ";
        line += LocalTime(row.changed);
        if (row.lastResult != 1) {
            line += "  " + Colored("stale: " + QueryResultText(row.lastResult), kDim, style.ansi);
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace quotes
