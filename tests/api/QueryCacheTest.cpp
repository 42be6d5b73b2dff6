// Queries answered from the entries kept with a stored message give exactly
// what a walk over a fresh decode of that message gives, for random messages
// (faulty ones included) and random capacities, on the first query of a
// message and on every later one, and after the message is replaced.
#include <array>
#include <cstring>
#include <random>

#include "fix/QuoteDecoding.h"
#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

constexpr int kRoom = 10;
constexpr double kUntouched = -7.5;

// What one query left in the caller's memory.
struct Outcome {
    int result = 0;
    int bidCount = 0, offerCount = 0;
    std::array<std::array<double, kRoom>, 4> arrays;  // bid prices, bid sizes, offer prices, offer sizes

    Outcome() {
        for (auto& a : arrays) a.fill(kUntouched);
    }
    bool operator==(const Outcome& o) const {
        return result == o.result && bidCount == o.bidCount && offerCount == o.offerCount &&
               std::memcmp(arrays.data(), o.arrays.data(), sizeof arrays) == 0;
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    out << "result " << o.result << ", counts " << o.bidCount << "/" << o.offerCount << ", arrays";
    for (const auto& a : o.arrays) {
        out << " [";
        for (double v : a) out << v << " ";
        out << "]";
    }
    return out;
}

// The walk over a freshly decoded message, written out step by step: each
// side counts its entries, an entry beyond the capacity marks the side full,
// the walk stops when both are full, and nothing is written unless the whole
// walk succeeds. `n` > 0 asks for GetLastNQuotes with that N.
Outcome FreshQuery(const std::string& text, int bidCapacity, int offerCapacity, int n) {
    struct Walk final : fix::MDEntryVisitor {
        int capacity[2];
        int index[2] = {-1, -1};
        bool full[2] = {false, false};
        std::vector<double> px[2], size[2];
        bool onEntry(char cType, double dPx, double dSize) override {
            if (cType == '0' || cType == '1') {
                const int side = cType - '0';
                if (++index[side] < capacity[side]) {
                    px[side].push_back(dPx);
                    size[side].push_back(dSize * 0.000001);
                } else {
                    full[side] = true;
                }
            }
            return !(full[0] && full[1]);
        }
    } walk;
    walk.capacity[0] = n > 0 ? n : bidCapacity;
    walk.capacity[1] = n > 0 ? n : offerCapacity;
    Outcome out;
    out.bidCount = bidCapacity;
    out.offerCount = offerCapacity;
    try {
        fix::DecodeMarketDataEntries(text, walk);
    } catch (...) {
        return out;
    }
    out.result = 1;
    for (int a = 0; a < 4 && n > 0; ++a) std::fill(out.arrays[a].begin(), out.arrays[a].begin() + n, 0.0);
    for (int side = 0; side < 2; ++side) {
        std::copy(walk.px[side].begin(), walk.px[side].end(), out.arrays[2 * side].begin());
        std::copy(walk.size[side].begin(), walk.size[side].end(), out.arrays[2 * side + 1].begin());
    }
    if (n == 0) {
        out.bidCount = walk.index[0] + 1;
        out.offerCount = walk.index[1] + 1;
    }
    return out;
}

Outcome LibraryQuery(const std::string& symbol, int bidCapacity, int offerCapacity, int n) {
    Outcome out;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", symbol.c_str());
    auto& a = out.arrays;
    out.bidCount = bidCapacity;
    out.offerCount = offerCapacity;
    out.result = n > 0 ? ::GetLastNQuotes(buffer, n, a[0].data(), a[1].data(), a[2].data(), a[3].data())
                       : ::GetLastQuotes(buffer, &out.bidCount, a[0].data(), a[1].data(), &out.offerCount,
                                         a[2].data(), a[3].data());
    return out;
}

// A market data message with up to 14 random entries; about one in four
// carries a fault: a price that does not convert, a missing size, a type of
// two characters, one entry fewer than NoMDEntries says, or a tag the group
// does not know, which ends the group inside an entry.
std::string RandomMessage(const std::string& symbol, std::mt19937& random) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const int nEntries = pick(15);
    FixFields body = {{55, symbol}, {268, std::to_string(nEntries)}};
    static const char* const kTypes[] = {"0", "1", "0", "1", "0", "1", "2", "4"};
    for (int i = 0; i < nEntries; ++i) {
        body.push_back({269, kTypes[pick(8)]});
        body.push_back({270, std::to_string(pick(3000)) + "." + std::to_string(pick(100000))});
        body.push_back({271, std::to_string(pick(10000000))});
    }
    if (nEntries > 0 && pick(4) == 0) {
        const std::size_t entry = 2 + 3 * static_cast<std::size_t>(pick(nEntries));
        switch (pick(5)) {
            case 0: body[entry + 1].second = "1,5"; break;
            case 1: body.erase(body.begin() + static_cast<std::ptrdiff_t>(entry + 2)); break;
            case 2: body[entry].second = "01"; break;
            case 3: body[1].second = std::to_string(nEntries + 1); break;
            default: body.insert(body.begin() + static_cast<std::ptrdiff_t>(entry + 2), {7999, "odd"}); break;
        }
    }
    return FixMessage("W", body);
}

class QueryCacheTest : public SessionFixture {};

TEST_F(QueryCacheTest, CachedResultsEqualAFreshWalkForRandomMessagesAndCapacities) {
    ASSERT_EQ(ServeLogin(), 1);
    std::mt19937 random(20261208);
    auto capacity = [&] { return 1 + static_cast<int>(random() % 8); };
    constexpr int kSymbols = 120;
    for (int round = 0; round < 2; ++round) {  // the second round replaces every message
        std::vector<std::string> messages;
        for (int s = 0; s < kSymbols; ++s) {
            char symbol[16];
            std::snprintf(symbol, sizeof symbol, "R%03d", s);
            messages.push_back(RandomMessage(symbol, random));
        }
        ASSERT_TRUE(SendQuotes(messages));
        for (int s = 0; s < kSymbols; ++s) {
            const std::string& text = messages[static_cast<std::size_t>(s)];
            const std::string symbol = text.substr(text.find("\x01" "55=") + 4, 4);
            for (int query = 0; query < 6; ++query) {
                const int bids = capacity(), offers = capacity(), n = query % 2 ? capacity() : 0;
                EXPECT_EQ(LibraryQuery(symbol, bids, offers, n), FreshQuery(text, bids, offers, n))
                    << "round " << round << ", " << symbol << ", capacities " << bids << "/" << offers
                    << ", n " << n;
            }
        }
        // The any-symbol request answers for the smallest symbol, cached too.
        EXPECT_EQ(LibraryQuery("", 3, 3, 0), FreshQuery(messages[0], 3, 3, 0));
    }
}

}  // namespace
}  // namespace test
}  // namespace vantrel
