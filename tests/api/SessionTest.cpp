// Sessions end to end against a scripted quotes server: counting, the
// handshake and its verdict, failures and time-outs, the Lost state, and what
// the quotes thread does with the lines it receives.
#include <algorithm>
#include <optional>

#if !defined(_WIN32)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "config/Config.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "tests/api/SessionFixture.h"
#include "tests/support/HostProcess.h"

namespace vantrel {
namespace test {
namespace {

// The platform's own number for a socket error, as the log writes it.
std::string Code(int nError) { return std::to_string(nError); }

// A snapshot of `symbol` whose text is exactly `length` bytes long (padded
// through SenderCompID).
std::string SnapshotOfLength(const std::string& symbol, size_t length) {
    for (size_t pad = 1; pad < length; ++pad) {
        const std::string text = FixMessage(
            "W", {{49, std::string(pad, 'F')}, {56, "CLIENT"}, {34, "9"}, {52, "20261208-10:11:12.345"},
                  {55, symbol}, {268, "1"}, {269, "0"}, {270, "1.25"}, {271, "1000000"}});
        if (text.size() >= length) return text.size() == length ? text : "";
    }
    return "";
}

const std::string kEur = SnapshotMessage("EUR/USD", {{"0", "1.2345", "1000000"}, {"1", "1.2347", "2000000"}});

using SessionTest = SessionFixture;

TEST_F(SessionTest, LoginsAndLogoffsAreCounted) {
    EXPECT_EQ(::Logoff(), 0);
    EXPECT_EQ(::GetExceptionHandler(), nullptr);
    ASSERT_EQ(ServeLogin(), 1);
    EXPECT_EQ(::GetExceptionHandler(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return HasLogLine("event: CQuotesContainer::AddRef(): m_nRefsCnt = 1"); }));

    // A second Login only counts: no connection, no log line.
    const std::string logBefore = LogText();
    EXPECT_EQ(::Login("127.0.0.1", server.port(), kLogin, kPassword), 0);
    EXPECT_EQ(g_nSessionsCnt.load(), 2);
    EXPECT_FALSE(server.HasPendingClient());
    EXPECT_EQ(::Logoff(), 1);
    EXPECT_EQ(LogText(), logBefore);

    // The session still runs on the remaining count.
    ASSERT_TRUE(SendQuotes({kEur}));
    EXPECT_EQ(Stored("EUR/USD"), kEur);

    EXPECT_EQ(::Logoff(), 1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_EQ(::Logoff(), 0);

    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 10u) << LogText();
    std::sort(lines.begin() + 3, lines.begin() + 5);  // Login and the thread race here
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "event: Login() is started.",
                         "event: StartQuotesThread(): Thread is started.",
                         "event: StartQuotesThread(): login granted.",
                         "event: CQuotesContainer::AddRef(): m_nRefsCnt = 1",
                         "event: Login() is finished.",
                         "event: Logoff() is started.",
                         "event: StartQuotesThread(): Logging off.",
                         "event: CQuotesContainer::Release(): m_nRefsCnt = 0",
                         "event: StartQuotesThread(): Thread is finished.",
                         "event: Logoff() is finished.",
                     }));
}

struct Verdict {
    const char* name;
    std::string bytes;
    int result;
};

void PrintTo(const Verdict& verdict, std::ostream* out) { *out << verdict.name; }

class VerdictTest : public SessionFixture, public ::testing::WithParamInterface<Verdict> {};

TEST_P(VerdictTest, OnlyAFirstLineHoldingTheExactTextGrants) {
    EXPECT_EQ(ServeLogin(GetParam().bytes), GetParam().result);
    if (GetParam().result == 1) {
        EXPECT_EQ(g_nSessionsCnt.load(), 1);
        EXPECT_EQ(::Logoff(), 1);
        return;
    }
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(HasLogLine("Error (2): StartQuotesThread(): login failed [login:password fields]."));
    EXPECT_TRUE(server.WaitForClientClose());
    EXPECT_EQ(::Logoff(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, VerdictTest,
    ::testing::Values(Verdict{"Exact", "#1 Login granted\n", 1},
                      Verdict{"TextAround", "OK: #1 Login granted, welcome\r\n", 1},
                      Verdict{"CarriageReturnInside", "#1 Login\r granted\r\n", 1},
                      Verdict{"OtherCase", "#1 login granted\r\n", -1},
                      Verdict{"Empty", "\r\n", -1},
                      Verdict{"Partial", "#1 Login grant\r\n", -1},
                      Verdict{"GreetingFirst", "Welcome\r\n#1 Login granted\r\n", -1},
                      Verdict{"AfterNul", std::string("x\0#1 Login granted\r\n", 20), -1},
                      Verdict{"TextBeyond1000", std::string(985, '.') + "#1 Login granted\r\n", -1}),
    [](const ::testing::TestParamInfo<Verdict>& param) { return std::string(param.param.name); });

TEST_F(SessionTest, RestOfALongVerdictLineIsTheFirstQuoteLine) {
    const std::string verdict = std::string(984, '.') + "#1 Login granted";  // exactly 1000
    const uint64_t before = LinesHandled();
    ASSERT_EQ(ServeLogin(verdict + "[QT]" + kEur + "\r\n"), 1);
    ASSERT_TRUE(WaitUntil([&] { return LinesHandled() == before + 1; }));
    EXPECT_EQ(Stored("EUR/USD"), kEur);
}

TEST_F(SessionTest, ConnectionThatCannotBeMadeFailsTheLogin) {
    // A send on a socket that never connected fails with EPIPE on Linux: run
    // with SIGPIPE at its default disposition, so a signal would end the test.
    LetSigpipeEndTheProcess();

    ClosedPort closed;
    EXPECT_EQ(::Login("127.0.0.1", closed.port(), kLogin, kPassword), -1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'send' socket error = " +
                           Code(platform::kErrorConnectionRefused) + "."));

    EXPECT_EQ(::Login("no-such-host.invalid", server.port(), kLogin, kPassword), -1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'send' socket error = " +
                           Code(platform::kErrorHostNotResolved) + "."));
    EXPECT_FALSE(server.HasPendingClient());
    EXPECT_EQ(::Logoff(), 0);

    // The unsent credentials are logged on one line, with the password
    // masked and the line ends escaped.
    const std::string unsent = std::string("Error (2)>: SendString() Error: Can`t send string: ") + kLogin +
                               "\\r\\n********\\r\\n\n";
    size_t count = 0;
    for (std::string::size_type at = 0; (at = LogText().find(unsent, at)) != std::string::npos; ++at) ++count;
    EXPECT_EQ(count, 2u) << LogText();
}

TEST_F(SessionTest, ConnectIsBounded) {
    UnansweredPort silent;
    ASSERT_TRUE(silent.ready());
    vantrel::testing::SetHandshakeTimeouts(300, 5000);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(::Login("127.0.0.1", silent.port(), kLogin, kPassword), -1);
    EXPECT_GE(ElapsedMs(start), 250);
    EXPECT_LT(ElapsedMs(start), 4000);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'send' socket error = " +
                           Code(platform::kErrorTimedOut) + "."))
        << LogText();
}

// An IPv6 address as the host: the session and its quotes, a name with an
// IPv6 and an IPv4 address, and a refused connection reported as over IPv4.
TEST_F(SessionTest, HostMayBeAnIPv6Address) {
    if (!LoopbackAvailable("::1")) GTEST_SKIP() << "no IPv6 loopback (::1) here";
    QuoteServer v6("::1", 0);
    ASSERT_EQ(ServeLoginAt(v6, "::1"), 1);
    const uint64_t before = LinesHandled();
    ASSERT_TRUE(v6.Send("[QT]" + kEur + "\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return LinesHandled() == before + 1; }));
    EXPECT_EQ(Stored("EUR/USD"), kEur);
    EXPECT_EQ(::Logoff(), 1);

    // Where the hosts file gives localhost ::1 as well, that address refuses
    // and 127.0.0.1 serves.
    {
        ClosedPort refusing("::1", server.port());
        ASSERT_EQ(ServeLoginAt(server, "localhost"), 1);
        EXPECT_EQ(::Logoff(), 1);
    }

    ClosedPort closed("::1");
    EXPECT_EQ(::Login("::1", closed.port(), kLogin, kPassword), -1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_EQ(WarningAndErrorLines(),
              (std::vector<std::string>{"Error (2): SendString() Error: Can`t send string: " + std::string(kLogin) +
                                            "\\r\\n********\\r\\n",
                                        "Warning: StartQuotesThread(): 'send' socket error = " +
                                            Code(platform::kErrorConnectionRefused) + "."}))
        << LogText();
}

#if !defined(_WIN32)
// Keep-alive set on the socket before connecting stays on the socket that
// replaces it for an IPv6 address, or a dead path would go unnoticed there.
TEST(ConnectTcp, SocketReplacedForIPv6KeepsTheKeepAliveOptions) {
    if (!LoopbackAvailable("::1")) GTEST_SKIP() << "no IPv6 loopback (::1) here";
    QuoteServer v6("::1", 0);
    int socket = platform::CreateTcpSocket();
    const int options[][3] = {{SOL_SOCKET, SO_KEEPALIVE, 1}, {IPPROTO_TCP, TCP_KEEPIDLE, 7},
                              {IPPROTO_TCP, TCP_KEEPINTVL, 3}, {IPPROTO_TCP, TCP_KEEPCNT, 2},
                              {IPPROTO_TCP, TCP_USER_TIMEOUT, 12000}};
    for (const auto& o : options) ASSERT_EQ(::setsockopt(socket, o[0], o[1], &o[2], sizeof o[2]), 0);
    int error = 0;
    ASSERT_EQ(platform::ConnectTcp(&socket, "::1", v6.port(), 5000, nullptr, &error), 0) << error;
    for (const auto& o : options) {
        int value = 0;
        socklen_t length = sizeof value;
        EXPECT_EQ(::getsockopt(socket, o[0], o[1], &value, &length), 0);
        EXPECT_EQ(value, o[2]) << "option " << o[1];
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    EXPECT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length), 0);
    EXPECT_EQ(local.ss_family, AF_INET6);
    platform::CloseSocket(&socket);
}
#endif

TEST_F(SessionTest, VerdictWaitIsBoundedAndAFailedReadRefuses) {
    vantrel::testing::SetHandshakeTimeouts(5000, 300);
    struct Case {
        const char* name;
        void (QuoteServer::*end)();  // null: stay silent
        std::vector<std::string> logged;
    };
    const std::vector<Case> cases = {
        {"silent", nullptr,
         {"Error (3): ReadString() Error: Can`t receive string. nWSALastError = " + Code(platform::kErrorTimedOut),
          "Warning: StartQuotesThread(): 'recv' socket error = " + Code(platform::kErrorTimedOut) + "."}},
        {"orderly close", &QuoteServer::Close,
         {"Error (3): ReadString() Error: Can`t receive string. nWSALastError = 0",
          "Warning: StartQuotesThread(): 'recv' socket error = 0."}},
        {"reset", &QuoteServer::Reset,
         {"Warning: ReadString() Info: All connections was closed.",
          "Warning: StartQuotesThread(): 'recv' socket error = " + Code(platform::kErrorConnectionReset) + "."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.end == &QuoteServer::Reset && !QuoteServer::ResetsAbortively()) continue;
        vantrel::testing::ResetFileLog();
        std::filesystem::remove_all(logDir.path());
        const Clock::time_point start = Clock::now();
        std::future<int> login = StartLogin(server.port());
        std::string line;
        ASSERT_TRUE(server.Accept());
        ASSERT_TRUE(server.ReadLine(line) && server.ReadLine(line));
        if (c.end != nullptr) (server.*c.end)();
        EXPECT_EQ(login.get(), -1);
        if (c.end == nullptr) {
            EXPECT_GE(ElapsedMs(start), 250);
            EXPECT_TRUE(server.WaitForClientClose());
        }
        EXPECT_LT(ElapsedMs(start), 4000);
        EXPECT_EQ(g_nSessionsCnt.load(), 0);
        const std::vector<std::string> lines = LogLines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end() - 1), c.logged);
        EXPECT_EQ(lines.back(), "event: Login() is finished.");
        EXPECT_EQ(::Logoff(), 0);
    }
}

class LostSessionTest : public SessionFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(LostSessionTest, SessionStaysCountedWithoutQuotesUntilLoggedOff) {
    const bool bReset = GetParam();
    if (bReset && !QuoteServer::ResetsAbortively()) GTEST_SKIP() << "the test server cannot reset a connection here";
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuotes({kEur}));
    const uint64_t nEnded = GetQuotesFeedStats().nSessions.load();
    if (bReset) {
        server.Reset();
    } else {
        server.Close();
    }
    ASSERT_TRUE(WaitThreadEnded());
    EXPECT_EQ(GetQuotesFeedStats().nSessions.load(), nEnded + 1);
    EXPECT_EQ(g_nSessionsCnt.load(), 1);
    if (bReset) {
        EXPECT_TRUE(HasLogLine("Warning: ReadString() Info: All connections was closed."));
        EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'recv' socket error = " +
                               Code(platform::kErrorConnectionReset) + "."));
    } else {
        EXPECT_TRUE(HasLogLine("Error (3): ReadString() Error: Can`t receive string. nWSALastError = 0"));
        EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'recv' socket error = 0."));
    }
    EXPECT_TRUE(HasLogLine("event: CQuotesContainer::Release(): m_nRefsCnt = 0"));
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Thread is finished."));

    // Queries pass the session check but find nothing; nothing is written.
    char symbol[16] = "EUR/USD";
    int bids = 2, offers = 2;
    double values[4][2] = {{7, 7}, {7, 7}, {7, 7}, {7, 7}};
    EXPECT_EQ(::GetLastQuotes(symbol, &bids, values[0], values[1], &offers, values[2], values[3]), 0);
    symbol[0] = '\0';
    EXPECT_EQ(::GetLastNQuotes(symbol, 2, values[0], values[1], values[2], values[3]), 0);
    EXPECT_EQ(bids + offers, 4);
    EXPECT_EQ(values[0][0] + values[3][1], 14);
    EXPECT_EQ(symbol[1], 'U');

    // Login only counts: no new connection until the count is back to 0.
    EXPECT_EQ(::Login("127.0.0.1", server.port(), kLogin, kPassword), 0);
    EXPECT_FALSE(server.HasPendingClient());
    EXPECT_EQ(g_nSessionsCnt.load(), 2);
    EXPECT_EQ(::Logoff(), 1);
    EXPECT_EQ(::Logoff(), 1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_EQ(::Logoff(), 0);

    // The next Login connects again and starts with an empty store.
    ASSERT_EQ(ServeLogin(), 1);
    EXPECT_EQ(Stored("EUR/USD"), "<none>");
    EXPECT_EQ(::Logoff(), 1);
}

INSTANTIATE_TEST_SUITE_P(ServerEnds, LostSessionTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Reset" : "OrderlyClose");
                         });

TEST_F(SessionTest, PayloadIsEverythingAfterTheFirstMarker) {
    ASSERT_EQ(ServeLogin(), 1);
    const uint64_t nSkipped = GetQuotesFeedStats().nSkipped.load();
    const std::string gbp = FixMessage("W", {{49, "[QT]FEED"}, {56, "C"}, {34, "2"}, {52, "20261208-10:11:12"},
                                             {55, "GBP/USD"}, {268, "1"}, {269, "0"}, {270, "1.5"}, {271, "1"}});
    const std::string chf = SnapshotMessage("USD/CHF", {{"1", "0.91", "1"}});
    const std::string jpy = SnapshotMessage("USD/JPY", {{"0", "150.25", "3000000"}});
    ASSERT_TRUE(SendQuoteLines({"noise before it [QT]" + kEur,
                                "[QT]" + gbp,
                                "no marker " + chf,
                                "[qt]" + chf,
                                std::string("x\0[QT]", 6) + chf,
                                "[QT]" + jpy.substr(0, 40) + "\r" + jpy.substr(40)},
                               6));
    EXPECT_EQ(Stored("EUR/USD"), kEur);
    EXPECT_EQ(Stored("GBP/USD"), gbp);
    EXPECT_EQ(Stored("USD/CHF"), "<none>");
    EXPECT_EQ(Stored("USD/JPY"), jpy);
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), nSkipped);
}

TEST_F(SessionTest, LineLongerThan1000ArrivesInPieces) {
    const std::string first = SnapshotOfLength("AAA/AAA", 1200);
    const std::string second = SnapshotOfLength("BBB/BBB", 996);
    const std::string third = SnapshotOfLength("CCC/CCC", 496);
    ASSERT_FALSE(first.empty() || second.empty() || third.empty());
    const std::string line = ("[QT]" + first).substr(0, 1000) + "[QT]" + second + "[QT]" + third;
    ASSERT_EQ(line.size(), 2500u);

    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuoteLines({line}, 3));
    EXPECT_EQ(Stored("AAA/AAA"), "<none>");  // its payload was cut after 996 characters
    EXPECT_EQ(Stored("BBB/BBB"), second);
    EXPECT_EQ(Stored("CCC/CCC"), third);
}

TEST_F(SessionTest, RejectedPayloadsAreSkippedWithOneEventEach) {
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuotes({kEur}));
    const std::string newer = SnapshotMessage("EUR/USD", {{"0", "2", "1"}});
    const int sum = FixCheckSum(newer.substr(0, newer.rfind("10=")));
    const std::string gbp = SnapshotMessage("GBP/USD", {{"0", "1.27", "1"}});
    ASSERT_TRUE(SendQuotes({"garbage", WithCheckSumText(newer, std::to_string((sum + 1) % 256)), "",
                            FixMessage("W", {{268, "0"}}), gbp}));
    EXPECT_EQ(g_bQuotesThreadState.get(), 0);  // still receiving
    EXPECT_EQ(Stored("EUR/USD"), kEur);        // the bad CheckSum kept the previous quote
    EXPECT_EQ(Stored("GBP/USD"), gbp);

    std::vector<std::string> skipped;
    for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.rfind("Warning", 0), std::string::npos) << line;
        EXPECT_EQ(line.rfind("Error", 0), std::string::npos) << line;
        if (line.rfind("event: StartQuotesThread(): quote skipped: ", 0) == 0) skipped.push_back(line);
    }
    ASSERT_EQ(skipped.size(), 4u);
    EXPECT_NE(skipped[1].find("CheckSum"), std::string::npos) << skipped[1];
    EXPECT_NE(skipped[3].find("Field not found"), std::string::npos) << skipped[3];
    EXPECT_EQ(::Logoff(), 1);
}

TEST_F(SessionTest, SkippedQuoteEventsAreRateLimitedAfterTheFirstTenOfASession) {
    FakeClock clock(EpochMillis(2026, 12, 8, 10, 0, 0));
    const int64_t t0 = FakeClock::s_nNow.load();
    const std::string prefix = "event: StartQuotesThread(): quote skipped: ";
    auto skipEvents = [&] {
        std::vector<std::string> found;
        for (const std::string& line : LogLines()) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
        }
        return found;
    };
    auto sendGarbage = [&](size_t count) {
        return SendQuoteLines(std::vector<std::string>(count, "[QT]garbage"), count);
    };
    auto endsWith = [](const std::string& text, const std::string& end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    const uint64_t skippedBefore = GetQuotesFeedStats().nSkipped.load();

    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(sendGarbage(15));
    std::vector<std::string> events = skipEvents();
    ASSERT_EQ(events.size(), 10u);  // the first ten in full, the other five held back
    for (const std::string& e : events) EXPECT_EQ(e.find("quotes skipped since"), std::string::npos) << e;

    clock.set(t0 + 999);
    ASSERT_TRUE(sendGarbage(1));
    EXPECT_EQ(skipEvents().size(), 10u);
    // A second after the last report the six held back are reported, with no
    // further skip to carry them.
    clock.set(t0 + 1000);
    ASSERT_TRUE(WaitUntil([&] { return skipEvents().size() == 11u; }));
    events = skipEvents();
    EXPECT_EQ(events[10].substr(0, events[0].size()), events[0]);  // the same reason first
    EXPECT_TRUE(endsWith(events[10], " (6 quotes skipped since the last report)")) << events[10];
    ASSERT_TRUE(sendGarbage(2));
    ASSERT_TRUE(SendQuotes({kEur}));  // a good quote in between is stored as ever
    EXPECT_EQ(Stored("EUR/USD"), kEur);
    EXPECT_EQ(skipEvents().size(), 11u);

    // A clock set back does not silence the reports.
    clock.set(t0 - 60000);
    ASSERT_TRUE(WaitUntil([&] { return skipEvents().size() == 12u; }));
    events = skipEvents();
    EXPECT_TRUE(endsWith(events[11], " (2 quotes skipped since the last report)")) << events[11];

    // What is held back when the session ends is reported before it ends.
    ASSERT_TRUE(sendGarbage(1));
    EXPECT_EQ(::Logoff(), 1);
    events = skipEvents();
    ASSERT_EQ(events.size(), 13u);
    EXPECT_TRUE(endsWith(events[12], " (1 quotes skipped since the last report)")) << events[12];
    EXPECT_EQ(GetQuotesFeedStats().nSkipped.load(), skippedBefore + 19);

    // A new session starts with its first ten in full again.
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(sendGarbage(1));
    events = skipEvents();
    ASSERT_EQ(events.size(), 14u);
    EXPECT_EQ(events[13], events[0]);
    EXPECT_EQ(::Logoff(), 1);
}

// However the skips arrive and the session ends, the events account for every
// skipped quote: one each for those logged in full plus the counts reported.
TEST_F(SessionTest, SkippedQuoteEventsCountEverySkippedQuote) {
    enum class End { Logoff, ConnectionLost, ReportDue };
    const struct {
        const char* name;
        bool bRealClock;
        size_t nBursts;
        size_t nPerBurst;
        End end;
    } cases[] = {
        {"held back until Logoff", false, 1, 25, End::Logoff},
        {"held back until the connection is lost", false, 1, 25, End::ConnectionLost},
        {"held back until due, no further skip", false, 1, 25, End::ReportDue},
        {"only the first ten", false, 1, 10, End::Logoff},
        {"a flood on the real clock", true, 10, 1000, End::Logoff},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<FakeClock> clock;
        if (!c.bRealClock) clock.emplace(EpochMillis(2026, 12, 8, 10, 0, 0));
        const size_t nLinesBefore = LogLines().size();
        const uint64_t nSent = c.nBursts * c.nPerBurst;
        ASSERT_EQ(ServeLogin(), 1);
        for (size_t b = 0; b < c.nBursts; ++b) {
            ASSERT_TRUE(SendQuoteLines(std::vector<std::string>(c.nPerBurst, "[QT]garbage " + std::to_string(b)),
                                       c.nPerBurst));
        }
        switch (c.end) {
            case End::Logoff:
                EXPECT_EQ(::Logoff(), 1);
                break;
            case End::ConnectionLost:
                server.Close();
                ASSERT_TRUE(WaitThreadEnded());
                EXPECT_EQ(::Logoff(), 1);
                break;
            case End::ReportDue:
                clock->set(FakeClock::s_nNow.load() + 1000);
                EXPECT_TRUE(WaitUntil([&] { return SkipEventsFrom(nLinesBefore).nAccounted == nSent; }));
                EXPECT_EQ(::Logoff(), 1);
                break;
        }
        const SkipEvents events = SkipEventsFrom(nLinesBefore);
        EXPECT_EQ(events.nAccounted, nSent);
        EXPECT_TRUE(events.bWellFormed);
    }
}

TEST_F(SessionTest, LogoffIsNotKeptWaitingByAnUnfinishedLine) {
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(server.Send("[QT]" + kEur.substr(0, 30)));
    ASSERT_TRUE(server.WaitUntilDelivered());
    // The quotes thread has taken the bytes in and waits for the rest.
    ASSERT_TRUE(WaitUntil([] { return UnreadBytes(g_Socket) == 0; }));
    std::future<int> logoff = std::async(std::launch::async, [] { return ::Logoff(); });
    const bool bReturned = logoff.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!bReturned) server.Send("\n");  // let the test end
    EXPECT_TRUE(bReturned);
    EXPECT_EQ(logoff.get(), 1);
    EXPECT_TRUE(HasLogLine("event: StartQuotesThread(): Logging off."));
}

TEST_F(SessionTest, NullHostLoginOrPasswordChangesNothing) {
    for (int round = 0; round < 2; ++round) {
        const int32_t nCount = g_nSessionsCnt.load();
        const std::string logBefore = LogText();
        EXPECT_EQ(::Login(nullptr, server.port(), kLogin, kPassword), -1);
        EXPECT_EQ(::Login("127.0.0.1", server.port(), nullptr, kPassword), -1);
        EXPECT_EQ(::Login("127.0.0.1", server.port(), kLogin, nullptr), -1);
        EXPECT_EQ(g_nSessionsCnt.load(), nCount);
        EXPECT_EQ(LogText(), logBefore);
        EXPECT_FALSE(server.HasPendingClient());
        if (round == 0) {
            ASSERT_EQ(ServeLogin(), 1);
            ASSERT_TRUE(WaitUntil([&] { return HasLogLine("event: CQuotesContainer::AddRef(): m_nRefsCnt = 1"); }));
        }
    }
    EXPECT_EQ(::Logoff(), 1);
}

TEST_F(SessionTest, SocketThatCannotBeCreatedRefusesTheLogin) {
    // One session first, so that everything created on first use (the log,
    // the wake-up descriptor, the container) already exists. The settings are
    // read then too: the error logged without a free descriptor must not try
    // to open the settings file (and under UndefinedBehaviorSanitizer the
    // type check of the exception that a failed open throws needs two
    // descriptors of its own).
    WriteFile(logDir / "settings.cfg", "[DEFAULT]\nFlushFlag=N\n");
    vantrel::platform::SetEnvironment("VANTREL_CONFIG", logDir / "settings.cfg");
    vantrel::testing::ResetConfigStore();
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_EQ(::Logoff(), 1);
    OutputError2Log(3, "settings read before the descriptors run out");

    // The next socket() fails (EMFILE).
    int result = 0;
    {
        SocketShortage shortage;
        if (!shortage.active()) GTEST_SKIP() << shortage.why();
        result = ::Login("127.0.0.1", server.port(), kLogin, kPassword);
    }

    vantrel::platform::UnsetEnvironment("VANTREL_CONFIG");
    vantrel::testing::ResetConfigStore();

    EXPECT_EQ(result, -1);
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_FALSE(server.HasPendingClient());
    EXPECT_TRUE(HasLogLine("Error (2): StartQuotesThread(): login failed [login:password fields]."));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
