// A session that reconnects by itself ("QuotesReconnect"): quotes dropped
// while the server is away and back when it is, the backoff between attempts
// as the server counts them, one error and one warning per outage, and the
// ways reconnecting ends. Also the feed settings' illegal values.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "feed/ReconnectBackoff.h"
#include "platform/ErrorCodes.h"
#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

constexpr int kFirstWaitMs = 50;
constexpr uint64_t kSeed = 42;
const std::string kReconnect = "QuotesReconnect=Y\nQuotesReconnectMaxSeconds=1\n";

class ReconnectTest : public SessionFixture {
protected:
    // Reconnecting on, with a first wait of 50 ms, a cap of 1 s, attempt
    // events at most every `nEventIntervalMs`, and a fixed seed.
    void UseReconnect(const std::string& more = "", int nEventIntervalMs = 60000) {
        UseSettings(kReconnect + more);
        vantrel::testing::SetReconnectTimings(kFirstWaitMs, nEventIntervalMs, kSeed);
    }

    // Accepts a client on `s`, checks its credentials and sends `verdict`.
    static bool ServeVerdict(QuoteServer& s, const std::string& verdict = kGranted) {
        std::string line;
        return s.Accept() && s.ReadLine(line) && s.ReadLine(line) &&
               s.Received() == std::string(kLogin) + "\r\n" + kPassword + "\r\n" && s.Send(verdict);
    }

    // Logs in at `s` and waits until quote `n` is there.
    void LoginWithQuote(QuoteServer& s, uint64_t n) {
        std::future<int> login = StartLogin(s.port());
        ASSERT_TRUE(ServeVerdict(s));
        ASSERT_EQ(login.get(), 1);
        ASSERT_TRUE(SendQuote(s, n));
    }

    static bool SendQuote(QuoteServer& s, uint64_t n) {
        const std::string quote = RelatedQuote("EUR/USD", n);
        return s.Send("[QT]" + quote + "\r\n") && WaitUntil([&] { return Stored("EUR/USD") == quote; });
    }

    static bool QuotesGone() { return WaitUntil([] { return QueryRelated(0) == QueryOutcome::NotFound; }); }

    // The warnings and errors from log line `first` on must be exactly the
    // outage's loss and its recovery (after `nAttempts` attempts, -1: any).
    void ExpectOneErrorAndOneWarning(size_t first, const std::string& reason, int nAttempts = -1) {
        std::vector<std::string> alerts;
        // The warning follows the first quote's storing.
        WaitUntil([&] {
            alerts.clear();
            const std::vector<std::string> lines = LogLines();
            for (size_t i = first; i < lines.size(); ++i) {
                if (lines[i].rfind("Warning", 0) == 0 || lines[i].rfind("Error", 0) == 0) alerts.push_back(lines[i]);
            }
            return alerts.size() >= 2;
        });
        ASSERT_EQ(alerts.size(), 2u) << LogText();
        EXPECT_EQ(alerts[0], "Error (3): StartQuotesThread(): quotes lost (" + reason + "); reconnecting.");
        std::string recovered = "Warning: StartQuotesThread(): quotes are flowing again after ";
        if (nAttempts >= 0) recovered += std::to_string(nAttempts) + " reconnect attempts and ";
        EXPECT_EQ(alerts[1].compare(0, recovered.size(), recovered), 0) << alerts[1];
    }
};

// The server goes away in three ways and comes back on the same port: the
// quotes are gone meanwhile, the session stays counted and its thread alive,
// and the quotes of the new connection are served.
TEST_F(ReconnectTest, TheServerComesBackOnTheSamePort) {
    struct Case {
        const char* name;
        const char* settings;
        bool bRestart;  // the listener goes too, so attempts are refused until it is back
        void (*cut)(QuoteServer&);
        std::string reason;
    };
    const Case cases[] = {
        {"closed and restarted", "", true, [](QuoteServer& s) { s.Close(); }, "'recv' socket error = 0"},
        {"reset and restarted", "", true, [](QuoteServer& s) { s.Reset(); },
         "'recv' socket error = " +
             std::to_string(QuoteServer::ResetsAbortively() ? platform::kErrorConnectionReset : 0)},
        {"silent", "QuotesSilenceSeconds=1\n", false, [](QuoteServer&) {},
         "nothing received from the quotes server for 1 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseReconnect(c.settings);
        auto s = std::make_unique<QuoteServer>();
        const int port = s->port();
        LoginWithQuote(*s, 1);
        const size_t nLogLines = LogLines().size();
        c.cut(*s);
        if (c.bRestart) s.reset();
        ASSERT_TRUE(QuotesGone());
        EXPECT_EQ(g_nSessionsCnt.load(), 1);
        EXPECT_EQ(g_bQuotesThreadState.get(), 0);
        // Until the old connection has closed the port may still be taken.
        ASSERT_TRUE(!c.bRestart || WaitUntil([&] {
            try {
                s = std::make_unique<QuoteServer>("127.0.0.1", port);
                return true;
            } catch (const std::exception&) {
                return false;
            }
        }));
        ASSERT_TRUE(ServeVerdict(*s));
        ASSERT_TRUE(SendQuote(*s, 2));
        EXPECT_EQ(QueryRelated(0), QueryOutcome::Found);
        ExpectOneErrorAndOneWarning(nLogLines, c.reason);
        EXPECT_EQ(::Logoff(), 1);
    }
}

// The server stays down (it accepts and closes every attempt) for a while:
// the attempts come no faster than the backoff's schedule for the seed, their
// events come at most once per interval and carry the count, and the whole
// outage gives one error and, once quotes flow, one warning.
TEST_F(ReconnectTest, AttemptsFollowTheBackoffWithOneErrorAndOneWarning) {
    constexpr int kFailed = 8;
    constexpr int kEventIntervalMs = 400;
    UseReconnect("", kEventIntervalMs);
    LoginWithQuote(server, 1);
    const size_t nLogLines = LogLines().size();
    const Clock::time_point lost = Clock::now();
    server.Close();

    // Each attempt starts no earlier than the schedule's waits allow, counted
    // from the loss (the server sees it a little later, never earlier;
    // timers may fire up to a millisecond early).
    CReconnectBackoff schedule(kFirstWaitMs, 1000, kSeed);
    int64_t nEarliestMs = 0;
    for (int i = 0; i < kFailed; ++i) {
        nEarliestMs += schedule.NextWaitMs();
        ASSERT_TRUE(server.Accept()) << "attempt " << i;
        EXPECT_GE(ElapsedMs(lost), nEarliestMs - 2) << "attempt " << i;
        server.Close();
    }
    ASSERT_TRUE(ServeVerdict(server));
    ASSERT_TRUE(SendQuote(server, 2));
    const long nOutageMs = ElapsedMs(lost);
    ExpectOneErrorAndOneWarning(nLogLines, "'recv' socket error = 0", kFailed + 1);

    size_t nEvents = 0;
    uint64_t nLastCount = 0;
    const std::string prefix = "event: StartQuotesThread(): reconnecting: ";
    const std::vector<std::string> lines = LogLines();
    for (size_t i = nLogLines; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) != 0) continue;
        ++nEvents;
        const uint64_t nCount = std::stoull(lines[i].substr(prefix.size()));
        EXPECT_GT(nCount, nLastCount) << lines[i];
        nLastCount = nCount;
    }
    EXPECT_GE(nEvents, 1u);
    EXPECT_LE(nEvents, 1u + static_cast<size_t>(nOutageMs / kEventIntervalMs)) << LogText();
    EXPECT_EQ(::Logoff(), 1);
}

// Reconnecting ends at a refused login (the session is then lost as a
// session without reconnecting is, and stays counted), and a Logoff ends it
// at once wherever it stands: in a backoff wait, in a connect that the
// server never answers, or waiting for a verdict.
TEST_F(ReconnectTest, ReconnectingEndsAtARefusedLoginOrALogoff) {
    enum class Phase { Refused, BackoffWait, Connect, Verdict };
    struct Case {
        const char* name;
        Phase phase;
        int nFirstWaitMs;
    };
    const Case cases[] = {
        {"refused login", Phase::Refused, kFirstWaitMs},
        {"Logoff in a backoff wait", Phase::BackoffWait, 600000},
        {"Logoff in a connect", Phase::Connect, kFirstWaitMs},
        {"Logoff waiting for the verdict", Phase::Verdict, kFirstWaitMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseReconnect();
        vantrel::testing::SetReconnectTimings(c.nFirstWaitMs, 60000, kSeed);
        // A queue of one connection, so that one queued connection makes the
        // port drop every further connection attempt.
        QuoteServer s(0);
        LoginWithQuote(s, 1);
        s.Close();
        ASSERT_TRUE(QuotesGone());
        int filler = platform::kInvalidSocket;
        if (c.phase == Phase::Refused) {
            ASSERT_TRUE(ServeVerdict(s, "#0 Login refused\r\n"));
            ASSERT_TRUE(WaitThreadEnded());
            EXPECT_EQ(g_nSessionsCnt.load(), 1);
            EXPECT_TRUE(HasLogLine("Error (2): StartQuotesThread(): login failed [login:password fields]."));
            EXPECT_EQ(::Logoff(), 1);
            continue;
        }
        if (c.phase == Phase::Verdict) {
            ASSERT_TRUE(s.Accept());
        }
        if (c.phase == Phase::Connect) {
            filler = platform::CreateTcpSocket();
            int nError = 0;
            ASSERT_EQ(platform::ConnectTcp(&filler, "127.0.0.1", s.port(), kWaitMs, nullptr, &nError), 0);
            // The first attempt, 50 ms after the loss, is under way by then.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(::Logoff(), 1);
        EXPECT_LT(ElapsedMs(start), 1000);
        EXPECT_EQ(g_nSessionsCnt.load(), 0);
        platform::CloseSocket(&filler);
    }
}

// Illegal values keep their defaults with a warning each, and the session
// opens all the same.
TEST_F(ReconnectTest, IllegalSettingsKeepTheirDefaults) {
    UseSettings("QuotesKeepAliveSeconds=abc\nQuotesSilenceSeconds=-1\nQuotesReconnect=yes\n"
                "QuotesReconnectMaxSeconds=0\n");
    LoginWithQuote(server, 1);
    const std::vector<std::string> expected = {
        "Warning: ReadFeedSettings(): Illegal value abc for QuotesKeepAliveSeconds; using the default 30.",
        "Warning: ReadFeedSettings(): Illegal value -1 for QuotesSilenceSeconds (0 to 86400); using the default 0.",
        "Warning: ReadFeedSettings(): Illegal value yes for QuotesReconnect; using the default N.",
        "Warning: ReadFeedSettings(): Illegal value 0 for QuotesReconnectMaxSeconds (1 to 86400); using the default "
        "60.",
    };
    EXPECT_EQ(WarningAndErrorLines(), expected);
    EXPECT_EQ(::Logoff(), 1);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
