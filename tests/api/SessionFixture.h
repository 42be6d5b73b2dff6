// A test fixture with a scripted quotes server, its own log directory and
// short handshake bounds. Every test ends with the session closed, so tests
// also pass when the whole binary runs in one process.
#pragma once

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

    // Login on another thread; the test serves the handshake meanwhile.
    std::future<int> StartLogin(int port, const char* host = "127.0.0.1") {
        return std::async(std::launch::async,
                          [=] { return ::Login(host, port, kLogin, kPassword); });
    }

    // Accepts the client, checks its credentials and sends `verdict`.
    // Returns Login's result.
    int ServeLogin(const std::string& verdict = kGranted) {
        std::future<int> login = StartLogin(server.port());
        std::string user, password;
        EXPECT_TRUE(server.Accept());
        EXPECT_TRUE(server.ReadLine(user));
        EXPECT_TRUE(server.ReadLine(password));
        EXPECT_EQ(server.Received(), std::string(kLogin) + "\r\n" + kPassword + "\r\n");
        server.Send(verdict);
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
