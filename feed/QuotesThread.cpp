#include "feed/QuotesThread.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <quickfix/Exceptions.h>

#include "feed/LineSplitter.h"
#include "feed/QuotesContainer.h"
#include "feed/ReconnectBackoff.h"
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

namespace {
std::atomic<int> g_nReconnectFirstWaitMs{1000};
std::atomic<int> g_nReconnectEventIntervalMs{60000};
std::atomic<uint64_t> g_nReconnectSeed{0};
}  // namespace

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
// skipped since the previous event. A count held back is never lost: the
// receive loop waits no longer than until its report is due (MillisUntilDue)
// and then reports it (ReportIfDue), and the end of the session reports what
// is still held back (ReportHeldBack). Reads the library's clock, which tests
// replace.
class SkipReporter {
public:
    void Skipped(const char* reason) {
        ++m_nSkipped;
        ++m_nUnreported;
        if (m_nSkipped <= kSkipsInFull) {
            Report(reason, false);
            return;
        }
        // Held back: only the reason is kept, reusing the string's capacity,
        // so a flood of skips builds no text.
        m_lastReason.assign(reason);
        ReportIfDue();
    }

    // Reports the count held back once a second has gone by since the last
    // report.
    void ReportIfDue() {
        if (m_nUnreported != 0 && MillisUntilDue() == 0) Report(m_lastReason.c_str(), true);
    }

    // Reports the count held back now, whenever the last report was.
    void ReportHeldBack() {
        if (m_nUnreported != 0) Report(m_lastReason.c_str(), true);
    }

    // How long the receive loop may wait before a held-back count is due:
    // -1 (no limit) when nothing is held back.
    int MillisUntilDue() const {
        if (m_nUnreported == 0) return -1;
        const int64_t nNow = platform::NowUtcMillis();
        // A clock set back counts as a second gone by.
        if (nNow < m_nLastReportMs || nNow - m_nLastReportMs >= kReportIntervalMs) return 0;
        return static_cast<int>(kReportIntervalMs - (nNow - m_nLastReportMs));
    }

private:
    void Report(const char* reason, bool bCounted) {
        std::string text = std::string("StartQuotesThread(): quote skipped: ") + reason;
        if (bCounted) text += " (" + std::to_string(m_nUnreported) + " quotes skipped since the last report)";
        OutputEvent2Log(text);
        m_nUnreported = 0;
        m_nLastReportMs = platform::NowUtcMillis();
    }

    static constexpr uint64_t kSkipsInFull = 10;
    static constexpr int64_t kReportIntervalMs = 1000;

    uint64_t m_nSkipped = 0;     // in this session
    uint64_t m_nUnreported = 0;  // since the last event
    int64_t m_nLastReportMs = 0;
    std::string m_lastReason;    // of the latest skip held back
};

// Hands the payload after the first "[QT]" to the container. A payload the
// container rejects is skipped and reported; it never ends the session.
// True when a quote was stored.
bool HandleQuoteLine(std::string_view line, std::string& payload, CQuotesContainer& container,
                     QuotesFeedStats& stats, SkipReporter& skips) {
    line = TextOf(line);
    bool bStored = false;
    const std::string_view::size_type at = line.find(kQuoteMarker);
    if (at != std::string_view::npos) {
        payload.assign(line.substr(at + kQuoteMarker.size()));
        try {
            bStored = container.SetQuotes(payload);
            if (bStored) stats.nStored.fetch_add(1, std::memory_order_relaxed);
        } catch (const std::exception& e) {
            stats.nSkipped.fetch_add(1, std::memory_order_relaxed);
            skips.Skipped(e.what());
        } catch (...) {
            stats.nSkipped.fetch_add(1, std::memory_order_relaxed);
            skips.Skipped("unknown error");
        }
    }
    stats.nLines.fetch_add(1, std::memory_order_release);
    return bStored;
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

using SteadyClock = std::chrono::steady_clock;

int64_t MillisSince(SteadyClock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count();
}

// Rounded up, so that a wait for it never ends before the deadline.
int64_t MillisUntil(SteadyClock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
}

// Seconds with one decimal, for log texts.
std::string SecondsText(int64_t nMs) {
    return std::to_string(nMs / 1000) + "." + std::to_string(nMs % 1000 / 100) + " s";
}

enum class ReceiveEnd { LoggingOff, Lost };

// Why a receiving connection was lost.
struct Loss {
    const char* szCall = "recv";  // the socket call that failed
    int nError = 0;
    int nSilentSeconds = 0;       // above 0: nothing arrived for so long

    std::string Reason() const {
        if (nSilentSeconds > 0) {
            return "nothing received from the quotes server for " + std::to_string(nSilentSeconds) + " s";
        }
        return std::string("'") + szCall + "' socket error = " + std::to_string(nError);
    }
};

// One outage of a session that reconnects: from the loss of its quotes to the
// first quote stored after it. The loss itself is the outage's one error;
// failed attempts are events, at most one per interval (a minute), each
// carrying the count so far; the first quote after it is the outage's one
// warning. However long the server stays away, the operator gets two alerts.
class COutage {
public:
    bool Active() const { return m_bActive; }

    void Begin() {
        m_bActive = true;
        m_start = SteadyClock::now();
        m_nAttempts = 0;
        m_bEventLogged = false;
    }

    void AttemptFailed(const Loss& failure, int64_t nNextInMs) {
        ++m_nAttempts;
        if (m_bEventLogged && MillisSince(m_lastEvent) < g_nReconnectEventIntervalMs.load()) return;
        OutputEvent2Log("StartQuotesThread(): reconnecting: " + std::to_string(m_nAttempts) +
                        " attempts failed so far, the latest with " + failure.Reason() + "; next attempt in " +
                        SecondsText(nNextInMs < 0 ? 0 : nNextInMs) + ".");
        m_bEventLogged = true;
        m_lastEvent = SteadyClock::now();
    }

    void Reconnected() {
        ++m_nAttempts;
        OutputEvent2Log("StartQuotesThread(): reconnected at attempt " + std::to_string(m_nAttempts) + ".");
    }

    void QuotesFlowAgain() {
        OutputWarning2Log("StartQuotesThread(): quotes are flowing again after " + std::to_string(m_nAttempts) +
                          " reconnect attempts and " + SecondsText(MillisSince(m_start)) + " without quotes.");
        m_bActive = false;
    }

private:
    bool m_bActive = false;
    SteadyClock::time_point m_start;
    uint64_t m_nAttempts = 0;
    bool m_bEventLogged = false;
    SteadyClock::time_point m_lastEvent;
};

// Receives until a stop request or a loss; every complete line buffered is
// handed on before the thread waits again. While skipped quotes are held back
// the wait ends when their report is due; the session's end reports them
// before its own event. With a silence bound, a wait ends when nothing has
// arrived for that long, and the connection counts as lost. A failed receive
// is logged as ReadString logs it unless the session reconnects, whose loss
// the caller reports as one error for the whole outage.
ReceiveEnd ReceiveQuotes(CLineSplitter& splitter, CQuotesContainer& container, const FeedSettings& settings,
                         COutage& outage, Loss& loss) {
    QuotesFeedStats& stats = GetQuotesFeedStats();
    platform::WakeEvent& wake = QuotesThreadWakeEvent();
    std::string payload;
    SkipReporter skips;
    const int64_t nSilenceMs = static_cast<int64_t>(settings.nSilenceSeconds) * 1000;
    SteadyClock::time_point lastByte = SteadyClock::now();
    for (;;) {
        std::string_view line;
        while (splitter.NextLine(line)) {
            if (HandleQuoteLine(line, payload, container, stats, skips) && outage.Active()) outage.QuotesFlowAgain();
        }
        if (g_bLogoffRequested.load()) {
            skips.ReportHeldBack();
            OutputEvent2Log("StartQuotesThread(): Logging off.");
            return ReceiveEnd::LoggingOff;
        }
        skips.ReportIfDue();
        int nWaitMs = skips.MillisUntilDue();
        if (nSilenceMs > 0) {
            const int64_t nLeft = nSilenceMs - MillisSince(lastByte);
            if (nLeft <= 0) {
                skips.ReportHeldBack();
                loss.nSilentSeconds = settings.nSilenceSeconds;
                return ReceiveEnd::Lost;
            }
            if (nWaitMs < 0 || nLeft < nWaitMs) nWaitMs = static_cast<int>(nLeft);
        }
        int nError = 0;
        switch (platform::WaitForSocket(g_Socket, false, &wake, nWaitMs, &nError)) {
            case platform::WaitResult::Ready:
                if (!ReceiveChunk(g_Socket, splitter, &nError, !settings.bReconnect)) {
                    skips.ReportHeldBack();
                    loss.nError = nError;
                    return ReceiveEnd::Lost;
                }
                lastByte = SteadyClock::now();
                break;
            case platform::WaitResult::Woken:
                wake.Clear();
                break;
            case platform::WaitResult::TimedOut:
                break;  // a held-back count or the silence bound is due: seen at the top of the loop
            case platform::WaitResult::Failed:
                skips.ReportHeldBack();
                loss.szCall = "select";
                loss.nError = nError;
                return ReceiveEnd::Lost;
        }
    }
}

// Reports the loss of a session that does not reconnect: a failed receive or
// wait as the warning that names the call and its code (the receive's own
// report is already logged), a silence as an error that names it.
void ReportSessionLost(const Loss& loss) {
    if (loss.nSilentSeconds > 0) {
        OutputError2Log(3, "StartQuotesThread(): " + loss.Reason() + "; the session is lost.");
    } else {
        const std::string format = std::string("StartQuotesThread(): '") + loss.szCall + "' socket error = %d.";
        OutputWarningCode2Log(format.c_str(), loss.nError);
    }
}

// Waits until `deadline`; false as soon as a stop is requested.
bool WaitUnlessStopped(SteadyClock::time_point deadline) {
    platform::WakeEvent& wake = QuotesThreadWakeEvent();
    for (;;) {
        if (g_bLogoffRequested.load()) return false;
        const int64_t nLeft = MillisUntil(deadline);
        if (nLeft <= 0) return true;
        const int nWaitMs = static_cast<int>(nLeft < 3600000 ? nLeft : 3600000);
        int nError = 0;
        if (wake.fd() == platform::kInvalidSocket) {
            // No wake-up descriptor (the system refused one): short naps, so
            // that a stop is still seen within 50 ms.
            std::this_thread::sleep_for(std::chrono::milliseconds(nWaitMs < 50 ? nWaitMs : 50));
        } else if (platform::WaitForSocket(wake.fd(), false, nullptr, nWaitMs, &nError) ==
                   platform::WaitResult::Ready) {
            wake.Clear();  // the stop flag, tested above, tells a stop from a stale wake-up
        }
    }
}

// What a session that reconnects keeps of Login's arguments, its own copies.
struct ReconnectTarget {
    std::string host;
    int port = 0;
    int nConnectTimeoutMs = 10000;
    std::string credentials;  // login CR LF password CR LF
    CReconnectBackoff backoff;

    ReconnectTarget(const QuotesThreadParams& params, uint64_t nSeed)
        : host(params.host ? params.host : ""),
          port(params.port),
          nConnectTimeoutMs(params.nConnectTimeoutMs),
          credentials(std::string(params.login ? params.login : "") + "\r\n" +
                      (params.password ? params.password : "") + "\r\n"),
          backoff(g_nReconnectFirstWaitMs.load(), static_cast<int64_t>(params.settings.nReconnectMaxSeconds) * 1000,
                  nSeed) {}

    ~ReconnectTarget() {
        // The password is not left behind in freed memory.
        volatile char* p = &credentials[0];
        for (std::size_t i = 0; i < credentials.size(); ++i) p[i] = '\0';
    }
};

enum class ReconnectEnd { Granted, Stopped, Refused };

// Connects again after the backoff's waits, with Login's bounds, until a
// login is granted, refused (which ends reconnecting: a client that retries
// wrong credentials can lock an account), or a stop is requested. Failed
// attempts are reported to the outage.
ReconnectEnd Reconnect(ReconnectTarget& target, const FeedSettings& settings, CLineSplitter& splitter,
                       COutage& outage) {
    platform::WakeEvent& wake = QuotesThreadWakeEvent();
    SteadyClock::time_point nextAt = SteadyClock::now() + std::chrono::milliseconds(target.backoff.NextWaitMs());
    for (;;) {
        if (!WaitUnlessStopped(nextAt)) return ReconnectEnd::Stopped;
        // The next wait counts from this attempt's start, so a slow attempt
        // does not add to it.
        nextAt = SteadyClock::now() + std::chrono::milliseconds(target.backoff.NextWaitMs());
        Loss failure;
        failure.szCall = "connect";
        g_Socket = platform::CreateTcpSocket();
        if (platform::ConnectTcp(&g_Socket, target.host.c_str(), target.port & 0xFFFF, target.nConnectTimeoutMs, &wake,
                                 &failure.nError) == 0) {
            ApplyDeadPathBound(g_Socket, settings);
            failure.szCall = "send";
            failure.nError = platform::SendAll(g_Socket, target.credentials.data(), target.credentials.size(),
                                               g_nVerdictTimeoutMs.load(), &wake);
            std::string_view verdict;
            splitter = CLineSplitter();
            if (failure.nError == 0) {
                failure.szCall = "recv";
                if (ReadString(g_Socket, splitter, verdict, &failure.nError, &wake, g_nVerdictTimeoutMs.load(),
                               false)) {
                    if (TextOf(verdict).find(kGranted) == std::string_view::npos) {
                        platform::CloseSocket(&g_Socket);
                        OutputError2Log(2, "StartQuotesThread(): login failed [login:password fields].");
                        OutputEvent2Log("StartQuotesThread(): the server refused the login; reconnecting ends.");
                        return ReconnectEnd::Refused;
                    }
                    OutputEvent2Log("StartQuotesThread(): login granted.");
                    outage.Reconnected();
                    return ReconnectEnd::Granted;
                }
            }
        }
        platform::CloseSocket(&g_Socket);
        if (failure.nError == platform::kErrorCanceled || g_bLogoffRequested.load()) return ReconnectEnd::Stopped;
        outage.AttemptFailed(failure, MillisUntil(nextAt));
    }
}

uint64_t ReconnectSeed() {
    const uint64_t nFixed = g_nReconnectSeed.load();
    if (nFixed != 0) return nFixed;
    // Different for every host and every session, which is all the jitter
    // needs.
    int local = 0;
    return static_cast<uint64_t>(SteadyClock::now().time_since_epoch().count()) ^
           (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&local)) << 16);
}

// Receives quotes, and with reconnecting on heals every loss, until a stop
// request, a loss without reconnecting (no `target`), or a refused login. The thread holds
// a reference on the container while it is connected; *pbHoldsRef tells the
// caller whether it still does.
void RunSession(const FeedSettings& settings, ReconnectTarget* target, CLineSplitter& splitter,
                CQuotesContainer& container, bool* pbHoldsRef) {
    COutage outage;
    SteadyClock::time_point grantedAt = SteadyClock::now();
    for (;;) {
        Loss loss;
        if (ReceiveQuotes(splitter, container, settings, outage, loss) == ReceiveEnd::LoggingOff) return;
        if (!target) {
            ReportSessionLost(loss);
            return;
        }
        if (outage.Active()) {
            OutputEvent2Log("StartQuotesThread(): the connection ended again before any quote (" + loss.Reason() +
                            "); reconnecting.");
        } else {
            OutputError2Log(3, "StartQuotesThread(): quotes lost (" + loss.Reason() + "); reconnecting.");
            outage.Begin();
        }
        // The quotes go now, as when a session ends: never a stale price.
        *pbHoldsRef = false;
        container.Release();
        platform::CloseSocket(&g_Socket);
        if (MillisSince(grantedAt) > static_cast<int64_t>(settings.nReconnectMaxSeconds) * 1000) {
            target->backoff.Reset();
        }
        switch (Reconnect(*target, settings, splitter, outage)) {
            case ReconnectEnd::Granted:
                break;
            case ReconnectEnd::Stopped:
                OutputEvent2Log("StartQuotesThread(): Logging off.");
                return;
            case ReconnectEnd::Refused:
                return;
        }
        grantedAt = SteadyClock::now();
        container.AddRef();
        *pbHoldsRef = true;
    }
}

void EndHandshakeFailed() {
    platform::CloseSocket(&g_Socket);
    g_nSessionsCnt.fetch_sub(1);
    g_bQuotesThreadState.set(0);
}

void EndSession(CQuotesContainer& container, bool bHoldsRef) {
    if (bHoldsRef) container.Release();
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
    bool bHoldsRef = false;
    try {
        CLineSplitter splitter;
        if (!Handshake(*pParams, splitter)) {
            EndHandshakeFailed();
            return 0;
        }
        bGranted = true;
        CQuotesContainer& container = GetQuotesContainer();
        OutputEvent2Log("StartQuotesThread(): login granted.");
        // Whatever the session needs of the parameters is copied before Login
        // is released: the block and its strings are Login's caller's.
        const FeedSettings settings = pParams->settings;
        std::unique_ptr<ReconnectTarget> target;
        if (settings.bReconnect) target = std::make_unique<ReconnectTarget>(*pParams, ReconnectSeed());
        g_bQuotesThreadState.set(0);
        bDecided = true;
        container.AddRef();
        bHoldsRef = true;
        if (g_bLogoffRequested.load()) {
            OutputEvent2Log("StartQuotesThread(): Logging off.");
        } else {
            RunSession(settings, target.get(), splitter, container, &bHoldsRef);
        }
        EndSession(container, bHoldsRef);
    } catch (...) {
        // Only memory exhaustion can get here; end the session in order all
        // the same, so that Login and Logoff are never left waiting.
        try {
            if (bGranted) {
                if (!bDecided) g_bQuotesThreadState.set(0);
                EndSession(GetQuotesContainer(), bHoldsRef);
            } else {
                EndHandshakeFailed();
            }
        } catch (...) {
        }
    }
    return 0;
}

void ApplyDeadPathBound(int socket, const FeedSettings& settings) {
    if (settings.nKeepAliveSeconds <= 0 || socket == platform::kInvalidSocket) return;
    const int nError = platform::SetDeadPathBound(socket, settings.nKeepAliveSeconds);
    if (nError != 0) {
        OutputWarningCode2Log("ApplyDeadPathBound(): keep-alive cannot be set on the quotes socket, error = %d.",
                              nError);
    }
}

namespace testing {

void SetReconnectTimings(int nFirstWaitMs, int nEventIntervalMs, uint64_t nSeed) {
    g_nReconnectFirstWaitMs.store(nFirstWaitMs > 0 ? nFirstWaitMs : 1000);
    g_nReconnectEventIntervalMs.store(nEventIntervalMs > 0 ? nEventIntervalMs : 60000);
    g_nReconnectSeed.store(nSeed);
}

}  // namespace testing
}  // namespace vantrel
