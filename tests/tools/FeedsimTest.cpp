// The simulator's options, its market and its messages. The messages are
// checked with the library's own decoder: what the simulator writes is what
// the library has to read.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "feedsim/FeedOptions.h"
#include "feedsim/Market.h"
#include "feedsim/QuoteMessage.h"
#include "fix/QuoteDecoding.h"

namespace {

using feedsim::FeedOptions;
using feedsim::ParseOutcome;

ParseOutcome Parse(std::vector<const char*> args, FeedOptions& options, std::string& error) {
    args.insert(args.begin(), "vantrel-feedsim");
    return feedsim::ParseFeedOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(FeedsimOptions, ReadsEveryOptionInBothForms) {
    FeedOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--port=0", "--port-file", "p", "--symbols", "EUR/USD,ABC=42.5,XYZ",
                     "--mid", "XYZ=7", "--rate", "0", "--depth=8", "--count", "12", "--crlf",
                     "--login", "alice", "--password=", "--line-prefix", "", "--seed", "9",
                     "--listen", "0.0.0.0", "--duration", "1.5", "--max-clients", "2"},
                    o, error),
              ParseOutcome::Run)
        << error;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.portFile, "p");
    ASSERT_EQ(o.symbols.size(), 3u);
    EXPECT_EQ(o.symbols[0].symbol, "EUR/USD");
    EXPECT_DOUBLE_EQ(o.symbols[0].mid, feedsim::DefaultMid("EUR/USD"));
    EXPECT_DOUBLE_EQ(o.symbols[1].mid, 42.5);
    EXPECT_DOUBLE_EQ(o.symbols[2].mid, 7.0);
    EXPECT_EQ(o.rate, 0.0);
    EXPECT_EQ(o.depth, 8);
    EXPECT_EQ(o.count, 12);
    EXPECT_TRUE(o.crlf);
    EXPECT_EQ(o.login, std::optional<std::string>("alice"));
    EXPECT_EQ(o.password, std::optional<std::string>(""));  // only an empty password
    EXPECT_EQ(o.linePrefix, std::optional<std::string>(""));
    EXPECT_EQ(o.seed, std::optional<uint64_t>(9));
    EXPECT_EQ(o.listenAddress, "0.0.0.0");
    EXPECT_DOUBLE_EQ(o.durationSeconds, 1.5);
    EXPECT_EQ(o.maxClients, 2);
    ASSERT_EQ(Parse({"--listen", "::1"}, o, error), ParseOutcome::Run) << error;
    EXPECT_EQ(o.listenAddress, "::1");
}

TEST(FeedsimOptions, DefaultsServeAHandfulOfCurrencyPairsToAnyLogin) {
    FeedOptions o;
    std::string error;
    ASSERT_EQ(Parse({}, o, error), ParseOutcome::Run);
    EXPECT_EQ(o.listenAddress, "127.0.0.1");
    EXPECT_GE(o.symbols.size(), 4u);
    EXPECT_FALSE(o.login);
    EXPECT_FALSE(o.password);
    EXPECT_FALSE(o.crlf);
}

TEST(FeedsimOptions, RejectsBadValuesNamingTheOption) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"},
        {"--port"},
        {"--port", "65536"},
        {"--port", "-1"},
        {"--rate", "fast"},
        {"--rate", "-1"},
        {"--depth", "0"},
        {"--depth", "9"},
        {"--spread", "0"},
        {"--count", "1.5"},
        {"--symbols", "EUR/USD,,GBP/USD"},
        {"--symbols", "EUR/USD,EUR/USD"},
        {"--symbols", "EUR USD"},
        {"--symbols", "EUR/USD=0"},
        {"--mid", "GBP/USD"},
        {"--symbols", "EUR/USD", "--mid", "GBP/USD=1.2"},
        {"--line-prefix", "a [QT] b"},
        {"--listen", "localhost"},
        {"--login", "a\nb"},
    };
    for (const auto& args : bad) {
        FeedOptions o;
        std::string error;
        EXPECT_EQ(Parse(args, o, error), ParseOutcome::Error) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    FeedOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--rate", "x"}, o, error), ParseOutcome::Error);
    EXPECT_NE(error.find("--rate"), std::string::npos) << error;
    EXPECT_EQ(Parse({"--help"}, o, error), ParseOutcome::Help);
}

TEST(FeedsimMarket, BooksAreOnTheGridUncrossedAndOrderedBestFirst) {
    const std::vector<feedsim::SymbolSetup> symbols = {
        {"EUR/USD", 1.085}, {"USD/JPY", 151.5}, {"TINY", 0.0002}, {"HUGE", 5e8}};
    feedsim::Market market(symbols, 4, 0.001, 0.0001, 42);
    for (int turn = 0; turn < 2000; ++turn) {
        const std::size_t index = static_cast<std::size_t>(turn) % symbols.size();
        const feedsim::Book book = market.Next(index);
        SCOPED_TRACE(book.symbol + " turn " + std::to_string(turn));
        ASSERT_EQ(book.offers.size(), 4u);
        ASSERT_FALSE(book.bids.empty());
        EXPECT_LT(book.bids[0].price, book.offers[0].price);
        const double scale = std::pow(10.0, book.decimals);
        for (std::size_t i = 0; i < book.bids.size(); ++i) {
            EXPECT_GT(book.bids[i].price, 0.0);
            EXPECT_NEAR(book.bids[i].price * scale, std::round(book.bids[i].price * scale), 1e-6);
            EXPECT_GT(book.bids[i].size, 0.0);
            if (i > 0) {
                EXPECT_LT(book.bids[i].price, book.bids[i - 1].price);
            }
        }
        for (std::size_t i = 1; i < book.offers.size(); ++i) {
            EXPECT_GT(book.offers[i].price, book.offers[i - 1].price);
        }
        // The walk stays near its start.
        EXPECT_GT(book.offers[0].price, symbols[index].mid * 0.5);
        EXPECT_LT(book.bids[0].price, symbols[index].mid * 2.0);
    }
}

TEST(FeedsimMarket, SameSeedSameWalk) {
    const std::vector<feedsim::SymbolSetup> symbols = {{"EUR/USD", 1.085}};
    feedsim::Market a(symbols, 2, 0.001, 0.0001, 7);
    feedsim::Market b(symbols, 2, 0.001, 0.0001, 7);
    for (int i = 0; i < 50; ++i) {
        const feedsim::Book x = a.Next(0);
        const feedsim::Book y = b.Next(0);
        ASSERT_EQ(x.bids[0].price, y.bids[0].price);
        ASSERT_EQ(x.offers[1].size, y.offers[1].size);
    }
}

struct Collect final : vantrel::fix::MDEntryVisitor {
    std::vector<char> types;
    std::vector<double> prices, sizes;
    bool onEntry(char cType, double dPx, double dSize) override {
        types.push_back(cType);
        prices.push_back(dPx);
        sizes.push_back(dSize);
        return true;
    }
};

TEST(FeedsimMessage, TheLibraryDecodesWhatTheSimulatorWrites) {
    feedsim::Book book;
    book.symbol = "USD/JPY";
    book.decimals = 3;
    book.bids = {{151.491, 1500000}, {151.483, 4000000}};
    book.offers = {{151.507, 2500000}};
    const std::string text = feedsim::BuildSnapshotMessage(book, "FEEDSIM", "demo", 17);

    EXPECT_EQ(vantrel::fix::SymbolOfPayload(text), "USD/JPY");
    EXPECT_NE(text.find("\x01" "270=151.491\x01"), std::string::npos);
    EXPECT_NE(text.find("\x01" "34=17\x01"), std::string::npos);
    Collect entries;
    vantrel::fix::DecodeMarketDataEntries(text, entries);
    EXPECT_EQ(entries.types, (std::vector<char>{'0', '0', '1'}));
    EXPECT_EQ(entries.prices, (std::vector<double>{151.491, 151.483, 151.507}));
    EXPECT_EQ(entries.sizes, (std::vector<double>{1500000, 4000000, 2500000}));
}

TEST(FeedsimMessage, TheLongestQuoteLineFitsTheClientsLineLimit) {
    // Clients read at most 1000 characters as one line: the largest message
    // the options allow, behind the longest prefix, must stay below that.
    feedsim::Market market({{std::string(32, 'S'), 9.99e8}}, 8, 0.0, 0.1, 1);
    const feedsim::Book book = market.Next(0);
    const std::string line = std::string(100, 'p') + "[QT]" +
                             feedsim::BuildSnapshotMessage(book, "FEEDSIM", std::string(32, 'T'),
                                                           2147483647);
    EXPECT_LT(line.size(), 1000u);
}

}  // namespace
