// The monitor's options and its board, without a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "quotes/Board.h"
#include "quotes/MonitorOptions.h"
#include "tests/support/TempDir.h"

namespace {

using quotes::MonitorOptions;
using quotes::ParseOutcome;

struct Parsed {
    ParseOutcome outcome;
    MonitorOptions options;
    std::string error;
    std::vector<int> secretArgs;
};

Parsed Parse(std::vector<const char*> args, const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), "vantrel-quotes");
    Parsed p;
    p.outcome = quotes::ParseMonitorOptions(
        static_cast<int>(args.size()), args.data(),
        [&env](const char* name) -> const char* {
            const auto found = env.find(name);
            return found == env.end() ? nullptr : found->second.c_str();
        },
        p.options, p.error, p.secretArgs);
    return p;
}

TEST(QuotesOptions, OptionsWinOverTheEnvironment) {
    const std::map<std::string, std::string> env = {{"VANTREL_HOST", "feed.example"},
                                                    {"VANTREL_PORT", "9000"},
                                                    {"VANTREL_LOGIN", "alice"},
                                                    {"VANTREL_PASSWORD", "from-env"}};
    Parsed p = Parse({}, env);
    ASSERT_EQ(p.outcome, ParseOutcome::Run) << p.error;
    EXPECT_EQ(p.options.host, "feed.example");
    EXPECT_EQ(p.options.port, 9000);
    EXPECT_EQ(p.options.login, "alice");
    EXPECT_EQ(p.options.password, std::optional<std::string>("from-env"));

    p = Parse({"--host", "10.1.2.3", "--port=7011", "--login", "bob", "--password", "pw"}, env);
    ASSERT_EQ(p.outcome, ParseOutcome::Run) << p.error;
    EXPECT_EQ(p.options.host, "10.1.2.3");
    EXPECT_EQ(p.options.port, 7011);
    EXPECT_EQ(p.options.login, "bob");
    EXPECT_EQ(p.options.password, std::optional<std::string>("pw"));
}

TEST(QuotesOptions, ReportsWhereThePasswordStandsSoItCanBeBlanked) {
    Parsed p = Parse({"--once", "--password", "a", "--password=b"});
    ASSERT_EQ(p.outcome, ParseOutcome::Run);
    EXPECT_EQ(p.secretArgs, (std::vector<int>{3, 4}));
    EXPECT_EQ(p.options.password, std::optional<std::string>("b"));
    EXPECT_FALSE(Parse({}).options.password);  // nothing given: asked for later
}

TEST(QuotesOptions, ReadsThePasswordFileFirstLine) {
    vantrel::test::TempDir dir;
    vantrel::test::WriteFile(dir / "pw", "s3cret\r\nsecond line\n");
    const std::string path = dir / "pw";
    Parsed p = Parse({"--password-file", path.c_str()});
    ASSERT_EQ(p.outcome, ParseOutcome::Run) << p.error;
    EXPECT_EQ(p.options.password, std::optional<std::string>("s3cret"));
    const std::string missing = dir / "none";
    EXPECT_EQ(Parse({"--password-file", missing.c_str()}).outcome, ParseOutcome::Error);
}

TEST(QuotesOptions, SymbolListsAndBadValues) {
    Parsed p = Parse({"--symbols", "EUR/USD,USD/JPY,EUR/USD"});
    EXPECT_EQ(p.options.symbols, (std::vector<std::string>{"EUR/USD", "USD/JPY"}));
    for (const auto& args : std::vector<std::vector<const char*>>{
             {"--symbols", "EUR/USD,"}, {"--port", "0"}, {"--port", "80a"}, {"--interval", "5"},
             {"--wait", "-1"}, {"--duration", "soon"}, {"--host"}, {"--host="}, {"--what"}}) {
        EXPECT_EQ(Parse(args).outcome, ParseOutcome::Error) << args[0];
    }
    EXPECT_EQ(Parse({}, {{"VANTREL_PORT", "99999"}}).outcome, ParseOutcome::Error);
}

TEST(QuotesBoard, PricesShowTheDecimalsTheyNeed) {
    EXPECT_EQ(quotes::FormatPrice(1.085), "1.08500");
    EXPECT_EQ(quotes::FormatPrice(1.08501), "1.08501");
    EXPECT_EQ(quotes::FormatPrice(1.085015), "1.085015");
    EXPECT_EQ(quotes::FormatPrice(151.5), "151.500");
    EXPECT_EQ(quotes::FormatPrice(0.65), "0.650000");
    EXPECT_EQ(quotes::FormatPrice(2350.0), "2350.00");
    EXPECT_EQ(quotes::FormatPrice(0.0), "0.00000");
}

TEST(QuotesBoard, BestOfTakesHighestBidAndLowestOfferInAnyOrder) {
    const double bidPx[] = {1.1, 1.3, 1.2};
    const double bidSz[] = {1, 3, 2};
    const double offerPx[] = {1.6, 1.4};
    const double offerSz[] = {6, 4};
    const quotes::TopOfBook top = quotes::BestOf(bidPx, bidSz, 3, offerPx, offerSz, 2);
    EXPECT_EQ(top.bid, 1.3);
    EXPECT_EQ(top.bidSize, 3);
    EXPECT_EQ(top.offer, 1.4);
    EXPECT_EQ(top.offerSize, 4);
    const quotes::TopOfBook empty = quotes::BestOf(bidPx, bidSz, 0, offerPx, offerSz, 1);
    EXPECT_FALSE(empty.hasBid);
    EXPECT_TRUE(empty.hasOffer);
}

quotes::TopOfBook Top(double bid, double offer) {
    quotes::TopOfBook t;
    t.hasBid = t.hasOffer = true;
    t.bid = bid;
    t.offer = offer;
    t.bidSize = t.offerSize = 1.0;
    return t;
}

TEST(QuotesBoard, SessionIsLostOnlyWhenEveryQuotedRowLostItsQuote) {
    const auto now = quotes::WallClock::now();
    quotes::Board board({"EUR/USD", "USD/JPY", "NEVER"});
    EXPECT_FALSE(board.SessionLost());  // nothing quoted yet
    board.Record("EUR/USD", 1, Top(1.1, 1.2), now);
    board.Record("USD/JPY", 1, Top(150.1, 150.2), now);
    board.Record("NEVER", 0, {}, now);
    EXPECT_FALSE(board.AllQuoted());
    EXPECT_EQ(board.Unquoted(), (std::vector<std::string>{"NEVER"}));

    // One message that no longer decodes is not a lost session.
    board.Record("EUR/USD", 0, {}, now);
    EXPECT_FALSE(board.SessionLost());
    board.Record("USD/JPY", 0, {}, now);
    EXPECT_TRUE(board.SessionLost());
    board.Record("USD/JPY", 1, Top(150.1, 150.2), now);
    EXPECT_FALSE(board.SessionLost());
}

TEST(QuotesBoard, DiscoveredRowsFollowTheGivenOnesInByteOrder) {
    quotes::Board board({"ZZZ"});
    EXPECT_TRUE(board.Add("USD/JPY"));
    EXPECT_TRUE(board.Add("EUR/USD"));
    EXPECT_FALSE(board.Add("ZZZ"));
    EXPECT_EQ(board.Symbols(), (std::vector<std::string>{"ZZZ", "EUR/USD", "USD/JPY"}));
}

TEST(QuotesBoard, RenderShowsQuotesWaitingAndStaleRows) {
    const auto now = quotes::WallClock::now();
    quotes::Board board({"EUR/USD", "GBP/USD", "USD/JPY"});
    board.Record("EUR/USD", 1, Top(1.08490, 1.08502), now);
    board.Record("USD/JPY", 1, Top(151.491, 151.507), now);
    board.Record("USD/JPY", 0, {}, now);
    quotes::RenderStyle style;
    style.now = now;
    const std::vector<std::string> lines = board.Render(style);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("SPREAD"), std::string::npos);
    EXPECT_NE(lines[1].find("1.08490"), std::string::npos);
    EXPECT_NE(lines[1].find("0.00012"), std::string::npos);
    EXPECT_NE(lines[2].find("waiting"), std::string::npos);
    EXPECT_NE(lines[3].find("151.491"), std::string::npos);
    EXPECT_NE(lines[3].find("stale"), std::string::npos);
    for (const std::string& line : lines) EXPECT_EQ(line.find('\x1b'), std::string::npos);
}

// A symbol is the server's text: whatever bytes it holds, the board shows
// them escaped as the log does, so none can retitle or clear the terminal,
// and the columns stay aligned on the escaped width.
TEST(QuotesBoard, ControlCharactersOfSymbolsAreShownEscaped) {
    const struct {
        std::string symbol;
        std::string shown;
    } cases[] = {
        {"\x1b]0;owned\x07" "EUR", "\\x1B]0;owned\\x07EUR"},
        {"\x1b[2J\x1b[H", "\\x1B[2J\\x1B[H"},
        {"A\r\nB\tC\x7f", "A\\r\\nB\\x09C\\x7F"},
        {"EUR/USD \xc3\xa9", "EUR/USD \xc3\xa9"},
    };
    quotes::Board board;
    for (const auto& c : cases) {
        EXPECT_EQ(quotes::Printable(c.symbol), c.shown);
        board.Add(c.symbol);
        board.Record(c.symbol, 1, Top(1.5, 1.6), quotes::WallClock::now());
    }
    const std::vector<std::string> lines = board.Render(quotes::RenderStyle{});
    ASSERT_EQ(lines.size(), 5u);
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    for (const std::string& line : lines) EXPECT_TRUE(std::none_of(line.begin(), line.end(), control)) << line;
    for (const auto& c : cases) {
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(c.shown, 0) == 0; }),
                  1);
    }
    for (std::size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i].find("1.5"), lines[1].find("1.5")) << lines[i];
}

}  // namespace
