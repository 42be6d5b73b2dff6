// GetLastQuotes and GetLastNQuotes on quotes received over a real session:
// result codes and their order, capacities and counts, size scaling, the
// any-symbol request, stored messages that do not decode, and exact values
// whatever the host did to its floating-point state.
#include <cfenv>
#include <cstdint>
#include <cstring>
#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

constexpr double kUntouched = -7.5;
constexpr int kRoom = 6;

// The caller's side of one query: buffers pre-filled with a value the
// library never writes, so that every write shows.
struct Query {
    char symbol[32];
    int bidCount = 0, offerCount = 0;
    double bidPx[kRoom], bidSize[kRoom], offerPx[kRoom], offerSize[kRoom];

    explicit Query(const char* name) {
        std::memset(symbol, 'x', sizeof symbol);
        std::memcpy(symbol, name, std::strlen(name) + 1);
        for (double* a : {bidPx, bidSize, offerPx, offerSize}) std::fill(a, a + kRoom, kUntouched);
    }
    int Last(int bidCapacity, int offerCapacity) {
        bidCount = bidCapacity;
        offerCount = offerCapacity;
        return ::GetLastQuotes(symbol, &bidCount, bidPx, bidSize, &offerCount, offerPx, offerSize);
    }
    int LastN(int n) { return ::GetLastNQuotes(symbol, n, bidPx, bidSize, offerPx, offerSize); }

    static std::vector<double> Head(const double* a, int n = kRoom) { return std::vector<double>(a, a + n); }
    bool Untouched() const {
        for (const double* a : {bidPx, bidSize, offerPx, offerSize}) {
            if (std::count(a, a + kRoom, kUntouched) != kRoom) return false;
        }
        return true;
    }
};

std::vector<double> Values(std::initializer_list<double> head) {
    std::vector<double> v(head);
    v.resize(kRoom, kUntouched);
    return v;
}

class QueryTest : public SessionFixture {
protected:
    // A granted session holding `messages`.
    void Hold(const std::vector<std::string>& messages) {
        ASSERT_EQ(ServeLogin(), 1);
        ASSERT_TRUE(SendQuotes(messages));
    }
};

const std::string kTwoBids = SnapshotMessage("EUR/USD", {{"0", "1.2345", "1000000"}, {"0", "1.2344", "500000"}});

TEST_F(QueryTest, NoSessionComesBeforeEveryArgumentCheck) {
    EXPECT_EQ(::GetLastQuotes(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(::GetLastNQuotes(nullptr, 0, nullptr, nullptr, nullptr, nullptr), -2);
    Query q("EUR/USD");
    EXPECT_EQ(q.Last(0, 0), -2);
    EXPECT_EQ(q.LastN(3), -2);
    EXPECT_TRUE(q.Untouched());
    EXPECT_EQ(q.bidCount + q.offerCount, 0);
    EXPECT_EQ(LogText(), "");
}

TEST_F(QueryTest, InvalidArgumentsGiveMinus1AndWriteNothing) {
    Hold({kTwoBids});
    Query q("EUR/USD");
    int bids = 5, offers = 5, zero = 0;
    double* const px = q.bidPx;
    EXPECT_EQ(::GetLastQuotes(nullptr, &bids, px, px, &offers, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, nullptr, px, px, &offers, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &bids, px, px, nullptr, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &zero, px, px, &offers, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &bids, nullptr, px, &offers, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &bids, px, nullptr, &offers, px, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &bids, px, px, &offers, nullptr, px), -1);
    EXPECT_EQ(::GetLastQuotes(q.symbol, &bids, px, px, &offers, px, nullptr), -1);
    EXPECT_EQ(q.Last(0, 5), -1);  // a bid capacity of 0 with everything else valid
    EXPECT_EQ(q.Last(5, -1), -1);
    EXPECT_EQ(::GetLastNQuotes(nullptr, 2, px, px, px, px), -1);
    EXPECT_EQ(::GetLastNQuotes(q.symbol, 2, nullptr, px, px, px), -1);
    EXPECT_EQ(::GetLastNQuotes(q.symbol, 2, px, px, px, nullptr), -1);
    EXPECT_EQ(q.LastN(0), -1);
    EXPECT_EQ(q.LastN(-3), -1);
    EXPECT_TRUE(q.Untouched());
    EXPECT_EQ(bids + offers, 10);
}

TEST_F(QueryTest, CountsAreEntriesMetAndOnlyCapacityIsWritten) {
    const std::string walk = SnapshotMessage(
        "USD/JPY", {{"0", "1", "1000000"}, {"0", "2", "2000000"}, {"0", "3", "3000000"}, {"1", "4", "4000000"},
                    {"1", "5", "5000000"}, {"1", "6", "6000000"}, {"0", "7", "7000000"}});
    const std::string other = SnapshotMessage(
        "GBP/USD", {{"2", "9", "9"}, {"0", "1.5", "2500000"}, {"4", "9", "9"}, {"1", "1.6", "1"}, {"2", "9", "9"}});
    Hold({kTwoBids, walk, other});

    Query two("EUR/USD");
    ASSERT_EQ(two.Last(5, 5), 1);
    EXPECT_EQ(two.bidCount, 2);
    EXPECT_EQ(two.offerCount, 0);
    EXPECT_EQ(Query::Head(two.bidPx), Values({1.2345, 1.2344}));
    EXPECT_EQ(Query::Head(two.bidSize), Values({1.0, 0.5}));
    EXPECT_EQ(Query::Head(two.offerPx), Values({}));
    EXPECT_EQ(Query::Head(two.offerSize), Values({}));

    Query one("EUR/USD");
    ASSERT_EQ(one.Last(1, 5), 1);
    EXPECT_EQ(one.bidCount, 2);  // met two, stored one
    EXPECT_EQ(Query::Head(one.bidPx), Values({1.2345}));

    // Both sides full after the third offer: the last bid is not met.
    Query full("USD/JPY");
    ASSERT_EQ(full.Last(2, 2), 1);
    EXPECT_EQ(full.bidCount, 3);
    EXPECT_EQ(full.offerCount, 3);
    EXPECT_EQ(Query::Head(full.bidPx), Values({1, 2}));
    EXPECT_EQ(Query::Head(full.bidSize), Values({1, 2}));
    EXPECT_EQ(Query::Head(full.offerPx), Values({4, 5}));
    EXPECT_EQ(Query::Head(full.offerSize), Values({4, 5}));

    // Entries of other types are neither stored nor counted.
    Query mixed("GBP/USD");
    ASSERT_EQ(mixed.Last(3, 3), 1);
    EXPECT_EQ(mixed.bidCount, 1);
    EXPECT_EQ(mixed.offerCount, 1);
    EXPECT_EQ(Query::Head(mixed.bidPx), Values({1.5}));
    EXPECT_EQ(Query::Head(mixed.bidSize), Values({2.5}));
    EXPECT_EQ(Query::Head(mixed.offerPx), Values({1.6}));
    EXPECT_EQ(Query::Head(mixed.offerSize), Values({1e-6}));
}

TEST_F(QueryTest, LastNQuotesClearsAllNElementsFirst) {
    Hold({SnapshotMessage("EUR/USD", {{"0", "1.1", "1000000"}, {"1", "1.2", "3000000"}}),
          SnapshotMessage("NONE", {}), SnapshotMessage("TWO", {{"0", "1", "1"}, {"0", "2", "2"}})});
    Query q("EUR/USD");
    ASSERT_EQ(q.LastN(4), 1);
    EXPECT_EQ(Query::Head(q.bidPx), Values({1.1, 0, 0, 0}));
    EXPECT_EQ(Query::Head(q.bidSize), Values({1, 0, 0, 0}));
    EXPECT_EQ(Query::Head(q.offerPx), Values({1.2, 0, 0, 0}));
    EXPECT_EQ(Query::Head(q.offerSize), Values({3, 0, 0, 0}));

    Query none("NONE");
    ASSERT_EQ(none.LastN(3), 1);
    EXPECT_EQ(Query::Head(none.bidPx), Values({0, 0, 0}));
    EXPECT_EQ(Query::Head(none.offerSize), Values({0, 0, 0}));
    Query noneCounts("NONE");
    ASSERT_EQ(noneCounts.Last(2, 2), 1);
    EXPECT_EQ(noneCounts.bidCount + noneCounts.offerCount, 0);
    EXPECT_TRUE(noneCounts.Untouched());

    Query clipped("TWO");
    ASSERT_EQ(clipped.LastN(1), 1);
    EXPECT_EQ(Query::Head(clipped.bidPx), Values({1}));
}

TEST_F(QueryTest, SymbolIsMatchedExactlyAndAnEmptyOneTakesTheSmallest) {
    Hold({SnapshotMessage("USD/JPY", {{"0", "150", "1"}}), SnapshotMessage("eur/usd", {{"0", "9", "1"}}),
          SnapshotMessage("EUR/USD", {{"0", "1.1", "1"}})});
    for (const char* miss : {"EUR/US", "EUR/USD ", "Eur/usd", "GBP/USD"}) {
        Query q(miss);
        EXPECT_EQ(q.Last(2, 2), 0) << miss;
        EXPECT_EQ(q.LastN(2), 0) << miss;
        EXPECT_TRUE(q.Untouched());
        EXPECT_EQ(q.bidCount, 2);
    }
    Query lower("eur/usd");
    ASSERT_EQ(lower.Last(1, 1), 1);
    EXPECT_EQ(lower.bidPx[0], 9);

    Query any("");
    ASSERT_EQ(any.Last(1, 1), 1);
    EXPECT_EQ(any.bidPx[0], 1.1);
    EXPECT_EQ(std::string(any.symbol, 9), std::string("EUR/USD\0x", 9));  // NUL written, nothing after it
    Query anyN("");
    ASSERT_EQ(anyN.LastN(2), 1);
    EXPECT_STREQ(anyN.symbol, "EUR/USD");
}

TEST_F(QueryTest, StoredMessageThatDoesNotDecodeGivesZeroAndWritesNothing) {
    Hold({
        // The second entry's price does not convert: the first was already walked.
        SnapshotMessage("COMMA", {{"0", "1.5", "100"}, {"1", "1,5", "100"}}),
        SnapshotMessage("NOSIZE", {{"0", "1.5", "100"}, {"1", "1.6", ""}}),
        FixMessage("W", {{55, "SHORT"}, {268, "3"}, {269, "0"}, {270, "1.5"}, {271, "10"}, {269, "1"},
                         {270, "1.6"}, {271, "20"}}),
        FixMessage("B", {{148, "headline"}, {55, "NEWS"}}),
    });
    for (const char* symbol : {"COMMA", "NOSIZE", "SHORT", "NEWS"}) {
        ASSERT_NE(Stored(symbol), "<none>") << symbol;
        Query q(symbol);
        EXPECT_EQ(q.Last(4, 4), 0) << symbol;
        EXPECT_EQ(q.LastN(4), 0) << symbol;
        EXPECT_TRUE(q.Untouched()) << symbol;
        EXPECT_EQ(q.bidCount + q.offerCount, 8) << symbol;
    }
}

// Hosts change their thread's floating-point state (one that draws with
// Direct3D leaves the x87 unit at 24-bit precision; others round another way):
// prices and sizes are still the doubles their texts name, to the last bit,
// and the host gets its own state back.
TEST_F(QueryTest, ValuesAreExactWhateverTheHostsFloatingPointState) {
    struct Expected {
        const char* px;
        const char* size;
        uint64_t pxBits, sizeBits;  // the text's double; the size's times 1e-6
    };
    static const Expected kEntries[kRoom] = {
        {"4275.681376", "1234567.891", 0x40b0b3ae6ea85447u, 0x3ff3c0ca42c8964bu},
        {"2026.857799", "2500000", 0x409fab6e62dc6e2bu, 0x4004000000000000u},
        {"1394.048406", "333333.3", 0x4095c8319157abb9u, 0x3fd55555318abc87u},
        {"911.078913", "7000000.01", 0x408c78a19d2391d5u, 0x401c000000abcc76u},
        {"-0.1234567890123456789", "1234567.891", 0xbfbf9add3746f65fu, 0x3ff3c0ca42c8964bu},
        {"1234.567890123456", "2500000", 0x40934a4584fd0fdcu, 0x4004000000000000u},
    };
    struct Mode {
        const char* symbol;
        int rounding;
        unsigned x87Precision;  // 0: as it is
    };
    std::vector<Mode> modes = {{"NEAREST", FE_TONEAREST, 0}, {"UPWARD", FE_UPWARD, 0}, {"TOWARDZERO", FE_TOWARDZERO, 0}};
#if defined(_WIN32) && defined(__i386__)
    modes.push_back({"X87-24", FE_TONEAREST, _PC_24});
    modes.push_back({"X87-24-DOWNWARD", FE_DOWNWARD, _PC_24});
#endif
    std::vector<std::string> messages;
    for (const Mode& mode : modes) {
        std::vector<Entry> entries;
        for (const Expected& e : kEntries) entries.push_back({"0", e.px, e.size});
        messages.push_back(SnapshotMessage(mode.symbol, entries));
    }
    Hold(messages);

    const auto bits = [](double d) {
        uint64_t n;
        std::memcpy(&n, &d, sizeof n);
        return n;
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.symbol);
        Query q(mode.symbol);  // the first query of a message decodes it
        std::fesetround(mode.rounding);
#if defined(_WIN32) && defined(__i386__)
        const unsigned x87Before = _controlfp(0, 0);
        if (mode.x87Precision != 0) _controlfp(mode.x87Precision, _MCW_PC);
        const unsigned x87Set = _controlfp(0, 0);
        const int result = q.LastN(kRoom);
        const unsigned x87After = _controlfp(0, 0);
        _controlfp(x87Before, _MCW_PC);
        EXPECT_EQ(x87After, x87Set);
#else
        const int result = q.LastN(kRoom);
#endif
        const int roundingAfter = std::fegetround();
        std::fesetround(FE_TONEAREST);
        ASSERT_EQ(result, 1);
        EXPECT_EQ(roundingAfter, mode.rounding);
        for (int i = 0; i < kRoom; ++i) {
            EXPECT_EQ(bits(q.bidPx[i]), kEntries[i].pxBits) << kEntries[i].px;
            EXPECT_EQ(bits(q.bidSize[i]), kEntries[i].sizeBits) << kEntries[i].size;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace vantrel
