// Faults of the quotes server, injected by a scripted server on loopback:
// each case says what the server does wrong, and checks that the library
// neither crashes nor hangs, ends or keeps the session as it promises, and
// loses none of the quotes it promises to keep.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

// A short quote of `symbol` whose bid price is `n`.
std::string Quote(const std::string& symbol, int n) {
    return FixMessage("W", {{55, symbol}, {268, "1"}, {269, "0"}, {270, std::to_string(n)}, {271, "1"}});
}

using FeedFaultTest = SessionFixture;

#if defined(VANTREL_FEEDSIM)
// The feed simulator as a process of its own, which a test can stop with
// SIGSTOP: its kernel still answers for its connections, so nothing but the
// silence tells the library it has hung.
class FeedsimProcess {
public:
    explicit FeedsimProcess(const std::string& portFile) {
        std::remove(portFile.c_str());
        const std::string rate = "20";
        const char* argv[] = {VANTREL_FEEDSIM, "--port", "0", "--port-file", portFile.c_str(),
                              "--rate", rate.c_str(), "--quiet", nullptr};
        if (::posix_spawn(&m_pid, VANTREL_FEEDSIM, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
            m_pid = -1;
            return;
        }
        WaitUntil([&] {
            std::ifstream in(portFile);
            return static_cast<bool>(in >> m_nPort);
        });
    }
    ~FeedsimProcess() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    int port() const { return m_nPort; }
    void Stop() { ::kill(m_pid, SIGSTOP); }

private:
    pid_t m_pid = -1;
    int m_nPort = 0;
};

// The result of a query for any symbol.
int QueryAnySymbol() {
    char symbol[1001] = "";
    double bids[8], bidSizes[8], offers[8], offerSizes[8];
    int nBids = 8, nOffers = 8;
    return ::GetLastQuotes(symbol, &nBids, bids, bidSizes, &nOffers, offers, offerSizes);
}

// A server process that hangs (stopped) while its host stays up: with a
// silence bound the session is lost within it, with an error that names the
// silence; without one (keep-alive alone, at its shortest), the session is
// kept, because the stopped server's kernel answers every probe.
TEST_F(FeedFaultTest, AStoppedServerIsLostOnlyWithASilenceBound) {
    struct Case {
        const char* settings;
        bool bLost;
    };
    const Case cases[] = {
        {"QuotesSilenceSeconds=2\n", true},
        {"QuotesKeepAliveSeconds=1\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        UseSettings(c.settings);
        FeedsimProcess feedsim(logDir / "port");
        ASSERT_GT(feedsim.port(), 0);
        ASSERT_EQ(::Login("127.0.0.1", feedsim.port(), kLogin, kPassword), 1);
        ASSERT_TRUE(WaitUntil([] { return QueryAnySymbol() == 1; }));
        feedsim.Stop();
        const Clock::time_point stopped = Clock::now();
        EXPECT_EQ(g_bQuotesThreadState.waitFor(1, std::chrono::seconds(4)), c.bLost);
        if (c.bLost) {
            EXPECT_LE(ElapsedMs(stopped), 2000 + 1500);
            EXPECT_TRUE(HasLogLine("Error (3): StartQuotesThread(): nothing received from the quotes server for 2 s; "
                                   "the session is lost."))
                << LogText();
        }
        EXPECT_EQ(QueryAnySymbol(), c.bLost ? 0 : 1);
        EXPECT_EQ(::Logoff(), 1);
    }
}
#endif

// The server misbehaves before its verdict is complete. The verdict wait is
// bounded (300 ms for the silent server, 5 s otherwise); a verdict that comes
// in time, however slowly, still counts.
TEST_F(FeedFaultTest, ServerFaultsDuringTheHandshake) {
    struct Case {
        const char* name;
        int nVerdictMs;
        std::function<void(QuoteServer&)> serve;
        int nExpected;
        const char* logged;  // a line the log must hold
    };
    const std::vector<Case> cases = {
        {"silence after accept", 300, [](QuoteServer&) {}, -1,
         "Warning: StartQuotesThread(): 'recv' socket error = 110."},
        {"reset in the middle of the verdict", 5000,
         [](QuoteServer& s) {
             s.Send("#1 Login gr");
             s.WaitUntilDelivered();
             s.Reset();
         },
         -1, "Warning: ReadString() Info: All connections was closed."},
        // 18 bytes at 10 ms: about 180 ms, inside the bound.
        {"verdict dripped one byte every 10 ms", 5000, [](QuoteServer& s) { s.Drip(kGranted, 10); }, 1,
         "event: StartQuotesThread(): login granted."},
        // The verdict is judged on its first 1000 characters.
        {"1 MB without a line feed as the verdict", 5000,
         [](QuoteServer& s) { s.Send(std::string(1 << 20, 'v') + kGranted); }, -1,
         "Error (2): StartQuotesThread(): login failed [login:password fields]."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vantrel::testing::SetHandshakeTimeouts(5000, c.nVerdictMs);
        const Clock::time_point start = Clock::now();
        std::future<int> login = StartLogin(server.port());
        std::string line;
        ASSERT_TRUE(server.Accept());
        ASSERT_TRUE(server.ReadLine(line) && server.ReadLine(line));
        c.serve(server);
        EXPECT_EQ(login.get(), c.nExpected);
        EXPECT_LT(ElapsedMs(start), c.nVerdictMs + 4000);
        EXPECT_EQ(g_nSessionsCnt.load(), c.nExpected == 1 ? 1 : 0);
        EXPECT_TRUE(HasLogLine(c.logged)) << LogText();
        EXPECT_EQ(::Logoff(), c.nExpected == 1 ? 1 : 0);
        server.Close();
    }
}

// The connection is reset while a line is half sent: the session is lost
// (the thread ends, the stored quotes go with it, the session stays counted)
// and the half line is never taken for a quote; Logoff and the next Login work.
TEST_F(FeedFaultTest, ResetInTheMiddleOfALine) {
    ASSERT_EQ(ServeLogin(), 1);
    const std::string eur = Quote("EUR/USD", 1);
    ASSERT_TRUE(SendQuotes({eur}));
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    const uint64_t nLines = LinesHandled();
    ASSERT_TRUE(server.Send("[QT]" + Quote("GBP/USD", 2).substr(0, 25)));
    ASSERT_TRUE(server.WaitUntilDelivered());
    server.Reset();

    ASSERT_TRUE(WaitThreadEnded());
    EXPECT_EQ(LinesHandled(), nLines);
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped);
    EXPECT_EQ(g_nSessionsCnt.load(), 1);
    EXPECT_TRUE(HasLogLine("Warning: ReadString() Info: All connections was closed."));
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'recv' socket error = 104."));
    EXPECT_EQ(::Logoff(), 1);

    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuotes({eur}));
    EXPECT_EQ(Stored("EUR/USD"), eur);
    EXPECT_EQ(::Logoff(), 1);
}

// The whole stream dripped one byte every 10 ms, each in its own segment:
// every quote arrives whole and is stored, nothing is skipped.
TEST_F(FeedFaultTest, StreamDrippedOneByteEvery10Ms) {
    std::future<int> login = StartLogin(server.port());
    std::string line;
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.ReadLine(line) && server.ReadLine(line));
    const std::vector<std::string> quotes = {Quote("EUR/USD", 1), Quote("USD/JPY", 150)};
    const uint64_t nLines = LinesHandled();
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    ASSERT_TRUE(server.Drip(std::string(kGranted) + "[QT]" + quotes[0] + "\r\n" + "[QT]" + quotes[1] + "\n", 10));
    EXPECT_EQ(login.get(), 1);
    ASSERT_TRUE(WaitUntil([&] { return LinesHandled() == nLines + 2; }));
    EXPECT_EQ(Stored("EUR/USD"), quotes[0]);
    EXPECT_EQ(Stored("USD/JPY"), quotes[1]);
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped);
    EXPECT_EQ(::Logoff(), 1);
}

// 1 MB without a line feed: it is read as lines of 1000 characters (the
// first one, which carries the marker, is skipped as a bad quote, the others
// hold no marker), and the quote after it is stored.
TEST_F(FeedFaultTest, OneMegabyteWithoutALineFeed) {
    ASSERT_EQ(ServeLogin(), 1);
    const uint64_t nLines = LinesHandled();
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    const std::string eur = Quote("EUR/USD", 1);
    const std::string unbroken = "[QT]" + std::string((1 << 20) - 4, 'A');
    ASSERT_TRUE(server.Send(unbroken + "\n[QT]" + eur + "\n"));
    // 1048 full pieces, the last 576 characters ended by the LF, the quote.
    const uint64_t nExpected = (1 << 20) / 1000 + 1 + 1;
    ASSERT_TRUE(WaitUntil([&] { return LinesHandled() == nLines + nExpected; }));
    EXPECT_EQ(Stored("EUR/USD"), eur);
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped + 1);
    EXPECT_EQ(g_bQuotesThreadState.get(), 0);  // still receiving
    EXPECT_EQ(::Logoff(), 1);
}

// A flood of garbage lines, cut messages and bad checksums with good quotes
// mixed in: every good quote is stored (the latest of each symbol is what the
// store holds), the thread stays alive, and the skipped quotes are logged at
// a limited rate: the first ten in full, then at most one report a second,
// which together account for every skipped quote.
TEST_F(FeedFaultTest, FloodOfBadQuotesAmongGoodOnes) {
    constexpr int kSymbols = 200;
    constexpr int kRounds = 10;
    ASSERT_EQ(ServeLogin(), 1);
    const uint64_t nLines = LinesHandled();
    const uint64_t nStored = GetQuotesFeedStats().nStored.load();
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    const size_t nLogLines = LogLines().size();

    std::string flood;
    std::vector<std::string> latest(kSymbols);
    uint64_t nBad = 0, nTotal = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int s = 0; s < kSymbols; ++s) {
            const std::string symbol = "S" + std::to_string(s);
            latest[s] = Quote(symbol, round);
            const std::string newer = Quote(symbol, round + 1000);
            const int sum = FixCheckSum(newer.substr(0, newer.rfind("10=")));
            flood += "[QT]" + latest[s] + "\n";
            flood += "[QT]" + WithCheckSumText(newer, std::to_string((sum + 1) % 256)) + "\n";
            flood += "[QT]garbage " + std::to_string(nTotal) + "\n";
            flood += "[QT]" + newer.substr(0, newer.size() / 2) + "\n";
            flood += "no marker at all\n";
            nBad += 3;
            nTotal += 5;
        }
    }
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(server.Send(flood));
    ASSERT_TRUE(WaitUntil([&] { return LinesHandled() == nLines + nTotal; }, 60000));

    EXPECT_EQ(GetQuotesFeedStats().nStored.load(), nStored + kSymbols * kRounds);
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped + nBad);
    for (int s = 0; s < kSymbols; ++s) EXPECT_EQ(Stored("S" + std::to_string(s)), latest[s]) << s;
    const std::string after = Quote("EUR/USD", 7);
    ASSERT_TRUE(SendQuotes({after}));
    EXPECT_EQ(Stored("EUR/USD"), after);

    EXPECT_EQ(::Logoff(), 1);
    const long elapsedMs = ElapsedMs(start);

    // Every skipped quote is accounted for once the session has ended, in at
    // most one event a second after the first ten.
    const SkipEvents events = SkipEventsFrom(nLogLines);
    EXPECT_EQ(events.nAccounted, nBad);
    EXPECT_TRUE(events.bWellFormed);
    EXPECT_GE(events.nEvents, 10u);
    EXPECT_LE(events.nEvents, 10u + static_cast<size_t>(elapsedMs / 1000) + 2) << "over " << elapsedMs << " ms";
}

// Quotes the decode could not read safely or the same way as the check at
// ingest: a data length that runs past the message (it crashed the host at
// its first query), a data field without its length, a tag beyond an int, an
// empty value. Each is skipped with its reason, and the quote stored before
// it is still the one the queries answer with.
TEST_F(FeedFaultTest, QuotesTheDecodeCannotReadSafelyAreSkipped) {
    ASSERT_EQ(ServeLogin(), 1);
    const std::string good = Quote("EUR/USD", 5);
    ASSERT_TRUE(SendQuotes({good}));
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    const size_t nLogLines = LogLines().size();
    const FixFields entry = {{268, "1"}, {269, "0"}, {270, "9"}, {271, "1"}};
    const auto with = [&](FixFields fields) {
        fields.emplace(fields.begin(), 55, "EUR/USD");
        fields.insert(fields.end(), entry.begin(), entry.end());
        return FixMessage("W", fields);
    };
    const std::vector<std::string> bad = {
        with({{95, "5000"}, {96, "x"}}),
        with({{96, "x"}}),
        with({{21, ""}}),
        with({{58, "t\x01" "71000000269=1"}}),  // a tag beyond an int
        with({{58, "t"}, {354, "9"}, {355, "xy"}}),
        with({{95, "100000000"}, {96, "x"}}),  // last, so that a query would decode it
    };
    ASSERT_TRUE(SendQuotes(bad));
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped + bad.size());
    EXPECT_EQ(Stored("EUR/USD"), good);

    char symbol[] = "EUR/USD";
    double bid[2] = {0, 0}, bidSize[2] = {0, 0}, offer[2] = {0, 0}, offerSize[2] = {0, 0};
    int bids = 2, offers = 2;
    EXPECT_EQ(::GetLastQuotes(symbol, &bids, bid, bidSize, &offers, offer, offerSize), 1);
    EXPECT_EQ(bids, 1);
    EXPECT_EQ(bid[0], 5);
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): quote skipped: Invalid message: Length field 95 does not "
                           "give the size of data field 96 at byte " +
                           std::to_string(bad.back().find("\x01" "96=") + 1)));
    EXPECT_EQ(SkipEventsFrom(nLogLines).nAccounted, bad.size());
}

}  // namespace
}  // namespace test
}  // namespace vantrel
