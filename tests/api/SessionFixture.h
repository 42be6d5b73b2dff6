// A test fixture with a scripted quotes server, its own log directory and
// short handshake bounds. Every test ends with the session closed, so tests
// also pass when the whole binary runs in one process.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/Session.h"
#include "api/SessionState.h"
#include "feed/QuotesContainer.h"
#include "feed/QuotesThread.h"
#include "log/LogFacade.h"
#include "tests/support/AlertHandlers.h"
#include "tests/support/EventLog.h"
#include "tests/support/FixText.h"
#include "tests/support/QuoteServer.h"
#include "tests/support/TempDir.h"
#include "vantrel/vantrel.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace test {

using Clock = std::chrono::steady_clock;

inline long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Quote number i of a stream whose messages tie their values together: bid i
// at size i million, offer i + 0.5 at size 2i million. A query that mixed two
// messages would break these relations.
inline std::string RelatedQuote(const std::string& symbol, uint64_t i) {
    const std::string px = std::to_string(i);
    return SnapshotMessage(symbol, {{"0", px, px + "000000"}, {"1", px + ".5", std::to_string(2 * i) + "000000"}});
}

// Batch n of such a stream: `size` quote lines, EUR/USD and GBP/USD in turn.
inline std::string RelatedQuoteBatch(uint64_t n, uint64_t size) {
    std::string batch;
    for (uint64_t i = n * size; i < (n + 1) * size; ++i) {
        batch += "[QT]" + RelatedQuote(i % 2 ? "EUR/USD" : "GBP/USD", i % 1000 + 1) + "\r\n";
    }
    return batch;
}

enum class QueryOutcome { Found, NotFound, Bad };

// One query of host reader `reader` (0 to 3) while RelatedQuote messages of
// EUR/USD and GBP/USD stream in: readers 0 and 2 name a symbol, 1 and 3 ask
// for any; reader 3 uses GetLastNQuotes, the others GetLastQuotes. Bad: a
// result other than 1, 0 or -2, or values of two messages mixed.
inline QueryOutcome QueryRelated(int reader) {
    char symbol[16] = "";
    if (reader % 2 == 0) std::snprintf(symbol, sizeof symbol, "%s", reader == 0 ? "EUR/USD" : "GBP/USD");
    double bid[2] = {0, 0}, bidSize[2] = {0, 0}, offer[2] = {0, 0}, offerSize[2] = {0, 0};
    int bids = 2, offers = 2;
    const int r = reader < 3 ? ::GetLastQuotes(symbol, &bids, bid, bidSize, &offers, offer, offerSize)
                             : ::GetLastNQuotes(symbol, 2, bid, bidSize, offer, offerSize);
    if (r == 0 || r == -2) return QueryOutcome::NotFound;
    if (r != 1) return QueryOutcome::Bad;
    const bool bWhole = bidSize[0] == bid[0] && offer[0] == bid[0] + 0.5 && offerSize[0] == 2 * bid[0];
    const bool bCounts = reader == 3 || (bids == 1 && offers == 1);
    return bWhole && bCounts && symbol[0] != '\0' ? QueryOutcome::Found : QueryOutcome::Bad;
}

constexpr const char* kLogin = "trader7";
constexpr const char* kPassword = "Pw-9f3k-secret";
constexpr const char* kGranted = "#1 Login granted\r\n";

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpAlertHandlersAside();
        platform::SetEnvironment("VANTREL_LOG_DIR", logDir.path().c_str());
        vantrel::testing::ResetFileLog();
        vantrel::testing::SetHandshakeTimeouts(5000, 5000);
    }

    void TearDown() override {
        while (::Logoff() == 1) {
        }
        EXPECT_EQ(g_nSessionsCnt.load(), 0);
        EXPECT_EQ(LogText().find(kPassword), std::string::npos) << "the password reached the log";
        // Every entry is one line, whatever the texts held.
        const std::string text = LogText();
        for (std::string::size_type at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            EXPECT_EQ(text.compare(at, 5, "[LR]<"), 0) << "not a log line: " << text.substr(at, 80);
            if (text.find('\n', at) == std::string::npos) break;
        }
        vantrel::testing::SetHandshakeTimeouts(0, 0);
        vantrel::testing::ResetFileLog();
        platform::UnsetEnvironment("VANTREL_LOG_DIR");
    }

    // Everything in the event files of this test's log directory.
    std::string LogText() const { return EventLogText(logDir.path()); }

    // The log's lines as "<label>: <text>", e.g. "event: Login() is started."
    // or "Error (2): ...".
    std::vector<std::string> LogLines() const { return EventLogLines(logDir.path()); }

    size_t CountLogLines(const std::string& line) const {
        size_t n = 0;
        for (const std::string& l : LogLines()) n += l == line;
        return n;
    }

    bool HasLogLine(const std::string& line) const { return CountLogLines(line) > 0; }

    // The warnings and errors logged: what would become alerts.
    std::vector<std::string> WarningAndErrorLines() const {
        std::vector<std::string> found;
        for (const std::string& line : LogLines()) {
            if (line.rfind("Warning", 0) == 0 || line.rfind("Error", 0) == 0) found.push_back(line);
        }
        return found;
    }

    // The skipped-quote events from log line `first` on: how many there are,
    // the skipped quotes they account for (one for an event in full, the
    // number carried by a counted one), and whether every one has one of the
    // two forms.
    struct SkipEvents {
        size_t nEvents = 0;
        uint64_t nAccounted = 0;
        bool bWellFormed = true;
    };
    SkipEvents SkipEventsFrom(size_t first) const {
        static const std::string prefix = "event: StartQuotesThread(): quote skipped: ";
        static const std::string countEnd = " quotes skipped since the last report)";
        SkipEvents found;
        const std::vector<std::string> lines = LogLines();
        for (size_t i = first; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.rfind(prefix, 0) != 0) continue;
            ++found.nEvents;
            const std::string::size_type end = line.size() - countEnd.size();
            if (line.size() < prefix.size() + countEnd.size() || line.compare(end, countEnd.size(), countEnd) != 0) {
                ++found.nAccounted;  // logged in full
                continue;
            }
            const std::string::size_type start = line.rfind(" (", end);
            const std::string count = start == std::string::npos ? "" : line.substr(start + 2, end - start - 2);
            if (count.empty() || count.size() > 19 || count.find_first_not_of("0123456789") != std::string::npos ||
                count[0] == '0') {
                found.bWellFormed = false;
                continue;
            }
            found.nAccounted += std::stoull(count);
        }
        return found;
    }

    // Login on another thread; the test serves the handshake meanwhile.
    std::future<int> StartLogin(int port, const char* host = "127.0.0.1") {
        return std::async(std::launch::async,
                          [=] { return ::Login(host, port, kLogin, kPassword); });
    }

    // Accepts the client, checks its credentials and sends `verdict`.
    // Returns Login's result.
    int ServeLogin(const std::string& verdict = kGranted) { return ServeLoginAt(server, "127.0.0.1", verdict); }
    // The same with the server `at`, which Login reaches by `host`.
    int ServeLoginAt(QuoteServer& at, const char* host, const std::string& verdict = kGranted) {
        std::future<int> login = StartLogin(at.port(), host);
        std::string user, password;
        EXPECT_TRUE(at.Accept());
        EXPECT_TRUE(at.ReadLine(user));
        EXPECT_TRUE(at.ReadLine(password));
        EXPECT_EQ(at.Received(), std::string(kLogin) + "\r\n" + kPassword + "\r\n");
        at.Send(verdict);
        return login.get();
    }

    // Lines handled so far by quotes threads of this process.
    static uint64_t LinesHandled() { return GetQuotesFeedStats().nLines.load(); }

    // Sends `lines` (each ended by CR LF) and waits until the quotes thread
    // has handled `count` more lines than before.
    bool SendQuoteLines(const std::vector<std::string>& lines, uint64_t count) {
        const uint64_t before = LinesHandled();
        std::string bytes;
        for (const std::string& line : lines) bytes += line + "\r\n";
        return server.Send(bytes) && WaitUntil([&] { return LinesHandled() >= before + count; });
    }
    bool SendQuotes(const std::vector<std::string>& messages) {
        std::vector<std::string> lines;
        for (const std::string& m : messages) lines.push_back("[QT]" + m);
        return SendQuoteLines(lines, lines.size());
    }

    // The text the container holds for `symbol`, or "<none>".
    static std::string Stored(const std::string& symbol) {
        std::string text;
        return GetQuotesContainer().GetQuotes(symbol, text) ? text : "<none>";
    }

    // Waits until the quotes thread has ended by itself (the Lost state).
    static bool WaitThreadEnded() {
        return g_bQuotesThreadState.waitFor(1, std::chrono::milliseconds(kWaitMs));
    }

    TempDir logDir;
    QuoteServer server;
};

}  // namespace test
}  // namespace vantrel
