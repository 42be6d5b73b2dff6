#include "feed/QuotesThread.h"

#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include <quickfix/Exceptions.h>

#include "feed/LineSplitter.h"
#include "feed/QuotesContainer.h"
#include "feed/SocketText.h"
#include "log/LogFacade.h"
#include "platform/Clock.h"
#include "platform/ErrorCodes.h"

namespace vantrel {

std::atomic<int32_t> g_nSessionsCnt{0};
int g_Socket = platform::kInvalidSocket;
int g_nConnectError = 0;
std::atomic<uint8_t> g_bLogoffRequested{0};
platform::WatchedValue<uint8_t> g_bQuotesThreadState{0};
std::atomic<int> g_nVerdictTimeoutMs{30000};

platform::WakeEvent& QuotesThreadWakeEvent() {
    static platform::WakeEvent wake;
    return wake;
}

namespace {

constexpr std::string_view kGranted = "#1 Login granted";
constexpr std::string_view kQuoteMarker = "[QT]";

// A received line is text: a NUL byte ends it, as it ends the C string that a
// byte-wise reader reads the line into.
std::string_view TextOf(std::string_view line) { return line.substr(0, line.find('\0')); }

// Logs skipped quotes so that a feed with a systematic fault cannot flood the
// log: the first kSkipsInFull of a session each with its own event, then at
// most one event a second, naming the latest reason and how many quotes were
// skipped since the previous event. Reads the library's clock, which tests
// replace.
class SkipReporter {
public:
    void Skipped(const char* reason) {
        ++m_nSkipped;
        ++m_nUnreported;
        const int64_t nNow = platform::NowUtcMillis();
        const bool bInFull = m_nSkipped <= kSkipsInFull;
        // A clock set back counts as a second gone by.
        if (!bInFull && nNow >= m_nLastReportMs && nNow - m_nLastReportMs < kReportIntervalMs) return;
        std::string text = std::string("StartQuotesThread(): quote skipped: ") + reason;
        if (!bInFull) text += " (" + std::to_string(m_nUnreported) + " quotes skipped since the last report)";
        OutputEvent2Log(text);
        m_nUnreported = 0;
        m_nLastReportMs = nNow;
    }

private:
    static constexpr uint64_t kSkipsInFull = 10;
    static constexpr int64_t kReportIntervalMs = 1000;

    uint64_t m_nSkipped = 0;     // in this session
    uint64_t m_nUnreported = 0;  // since the last event
    int64_t m_nLastReportMs = 0;
};

// Hands the payload after the first "[QT]" to the container. A payload the
// container rejects is skipped and reported; it never ends the session.
void HandleQuoteLine(std::string_view line, std::string& payload, CQuotesContainer& container,
                     QuotesFeedStats& stats, SkipReporter& skips) {
    line = TextOf(line);
    const std::string_view::size_type at = line.find(kQuoteMarker);
    if (at != std::string_view::npos) {
        payload.assign(line.substr(at + kQuoteMarker.size()));
        try {
            if (container.SetQuotes(payload)) stats.nStored.fetch_add(1, std::memory_order_relaxed);
        } catch (const std::exception& e) {
            stats.nSkipped.fetch_add(1, std::memory_order_relaxed);
            skips.Skipped(e.what());
        } catch (...) {
            stats.nSkipped.fetch_add(1, std::memory_order_relaxed);
            skips.Skipped("unknown error");
        }
    }
    stats.nLines.fetch_add(1, std::memory_order_release);
}

// Sends the credentials and reads the verdict. True when granted; otherwise
// the failure has been logged.
bool Handshake(const QuotesThreadParams& params, CLineSplitter& splitter) {
    const std::string login = params.login ? params.login : "";
    const std::string password = params.password ? params.password : "";
    const std::string credentials = login + "\r\n" + password + "\r\n";
    const SecretSpan secret{login.size() + 2, login.size() + 2 + password.size()};
    // A stop requested while Login was still connecting (the library is being
    // unloaded) ends the handshake without a word to the server.
    if (g_nConnectError == platform::kErrorCanceled) {
        OutputEvent2Log("StartQuotesThread(): Logging off.");
        return false;
    }
    int nLastError = 0;
    if (!SendString(g_Socket, credentials.c_str(), &nLastError, secret)) {
        // On a socket whose connect failed, the connect's reason is the real one.
        if (g_nConnectError != 0) nLastError = g_nConnectError;
        OutputWarningCode2Log("StartQuotesThread(): 'send' socket error = %d.", nLastError);
        return false;
    }
    // With no socket nothing is read: the verdict stays empty and refuses.
    std::string_view verdict;
    if (!ReadString(g_Socket, splitter, verdict, &nLastError, &QuotesThreadWakeEvent(),
                    g_nVerdictTimeoutMs.load())) {
        if (nLastError == platform::kErrorCanceled) {
            OutputEvent2Log("StartQuotesThread(): Logging off.");  // a stop, not a failure
        } else {
            OutputWarningCode2Log("StartQuotesThread(): 'recv' socket error = %d.", nLastError);
        }
        return false;
    }
    if (TextOf(verdict).find(kGranted) == std::string_view::npos) {
        OutputError2Log(2, "StartQuotesThread(): login failed [login:password fields].");
        return false;
    }
    return true;
}

// Receives until a stop request or a failure; every complete line buffered is
// handed on before the thread waits again.
void ReceiveQuotes(CLineSplitter& splitter, CQuotesContainer& container) {
    QuotesFeedStats& stats = GetQuotesFeedStats();
    platform::WakeEvent& wake = QuotesThreadWakeEvent();
    std::string payload;
    SkipReporter skips;
    for (;;) {
        std::string_view line;
        while (splitter.NextLine(line)) HandleQuoteLine(line, payload, container, stats, skips);
        if (g_bLogoffRequested.load()) {
            OutputEvent2Log("StartQuotesThread(): Logging off.");
            return;
        }
        int nError = 0;
        switch (platform::WaitForSocket(g_Socket, false, &wake, -1, &nError)) {
            case platform::WaitResult::Ready:
                if (!ReceiveChunk(g_Socket, splitter, &nError)) {
                    OutputWarningCode2Log("StartQuotesThread(): 'recv' socket error = %d.", nError);
                    return;
                }
                break;
            case platform::WaitResult::Woken:
                wake.Clear();
                break;
            case platform::WaitResult::TimedOut:
                break;
            case platform::WaitResult::Failed:
                OutputWarningCode2Log("StartQuotesThread(): 'select' socket error = %d.", nError);
                return;
        }
    }
}

void EndHandshakeFailed() {
    platform::CloseSocket(&g_Socket);
    g_nSessionsCnt.fetch_sub(1);
    g_bQuotesThreadState.set(0);
}

void EndSession(CQuotesContainer& container) {
    container.Release();
    platform::CloseSocket(&g_Socket);
    OutputEvent2Log("StartQuotesThread(): Thread is finished.");
    GetQuotesFeedStats().nSessions.fetch_add(1);
    g_bQuotesThreadState.set(1);
}

}  // namespace

QuotesFeedStats& GetQuotesFeedStats() {
    static QuotesFeedStats stats;
    return stats;
}

int StartQuotesThread(QuotesThreadParams* pParams) noexcept {
    OutputEvent2Log("StartQuotesThread(): Thread is started.");
    if (pParams == nullptr) {
        g_nSessionsCnt.fetch_sub(1);
        g_bQuotesThreadState.set(0);
        return -1;
    }
    bool bGranted = false;
    bool bDecided = false;
    try {
        CLineSplitter splitter;
        if (!Handshake(*pParams, splitter)) {
            EndHandshakeFailed();
            return 0;
        }
        bGranted = true;
        CQuotesContainer& container = GetQuotesContainer();
        OutputEvent2Log("StartQuotesThread(): login granted.");
        g_bQuotesThreadState.set(0);
        bDecided = true;
        container.AddRef();
        if (g_bLogoffRequested.load()) {
            OutputEvent2Log("StartQuotesThread(): Logging off.");
        } else {
            ReceiveQuotes(splitter, container);
        }
        EndSession(container);
    } catch (...) {
        // Only memory exhaustion can get here; end the session in order all
        // the same, so that Login and Logoff are never left waiting.
        try {
            if (bGranted) {
                if (!bDecided) g_bQuotesThreadState.set(0);
                EndSession(GetQuotesContainer());
            } else {
                EndHandshakeFailed();
            }
        } catch (...) {
        }
    }
    return 0;
}

}  // namespace vantrel
