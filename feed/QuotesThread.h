// The quotes thread: owns the connection to the quotes server for one session.
// It sends the credentials, reads the verdict line, then hands the payload of
// every "[QT]" line to the quotes container until a stop request or the
// connection ends. A payload the container rejects is skipped: the first 10
// skips of a session are logged each, then at most one event a second
// carrying the number skipped since the previous one; a number held back is
// reported within a second, or when the session ends, even if no further
// quote is skipped.
//
// It blocks in poll on the socket and the session's wake-up descriptor, so it
// uses no CPU while idle and sees a stop request at once; it receives in large
// chunks and hands on every complete line before it waits again.
#pragma once

#include <atomic>
#include <cstdint>

#include "feed/FeedSettings.h"
#include "platform/Socket.h"
#include "platform/Sync.h"

namespace vantrel {

// What the thread shares with the code that starts and stops it (Login and
// Logoff). Process-wide; lives for the whole time the library is loaded.

// Login calls not yet matched by Logoff, less one for a failed handshake.
// 0: no session. Counted up by Login, down by Logoff and by the quotes thread
// when its handshake fails; changed only atomically, read unlocked by the
// quote queries.
extern std::atomic<int32_t> g_nSessionsCnt;

// The connection to the quotes server. Created by Login; once the quotes
// thread runs, only that thread uses and closes it.
extern int g_Socket;

// Why Login's connect failed (the platform's socket error code; 0:
// connected). The quotes thread reports it in place of the send error on the
// unconnected socket.
extern int g_nConnectError;

// 1 while the last Logoff (or the library's unload) asks the quotes thread to
// stop.
extern std::atomic<uint8_t> g_bLogoffRequested;

// Login sets 1 and waits for 0 (handshake decided); after a granted session
// the thread sets 1 when it has finished, which Logoff waits for. Waiters are
// woken by every change.
extern platform::WatchedValue<uint8_t> g_bQuotesThreadState;

// Signalled together with g_bLogoffRequested so that the quotes thread, and
// a Login still connecting, see a stop request at once, whatever they wait
// for.
platform::WakeEvent& QuotesThreadWakeEvent();

// How long the thread waits for the server's verdict, in milliseconds (30 s).
extern std::atomic<int> g_nVerdictTimeoutMs;

// Handed by Login to the quotes thread; the strings are the caller's and are
// read only during the handshake, which Login waits for. A thread that
// reconnects keeps its own copies of what it needs.
struct QuotesThreadParams {
    const char* login = nullptr;
    const char* password = nullptr;
    const char* host = nullptr;  // where Login connected, for reconnecting
    int port = 0;
    int nConnectTimeoutMs = 10000;
    FeedSettings settings;
};

// The thread function. Exit code 0; -1 when `pParams` is null.
int StartQuotesThread(QuotesThreadParams* pParams) noexcept;

// Counters of what the quotes thread has done in this process, for tests,
// benchmarks and diagnostics.
struct QuotesFeedStats {
    std::atomic<uint64_t> nLines{0};     // quote-stream lines handled
    std::atomic<uint64_t> nStored{0};    // payloads stored
    std::atomic<uint64_t> nSkipped{0};   // payloads rejected by the check
    std::atomic<uint64_t> nSessions{0};  // sessions ended (thread finished)
};
QuotesFeedStats& GetQuotesFeedStats();

// Sets the socket options that bound the detection of a dead path, when
// `settings` asks for them; a failure is logged as a warning and the session
// goes on without them.
void ApplyDeadPathBound(int socket, const FeedSettings& settings);

namespace testing {
// Shortens the reconnection's first wait and the interval of its attempt
// events (milliseconds), and fixes the seed of its random waits; 0 keeps the
// production value (1 s, a minute, a seed of its own).
void SetReconnectTimings(int nFirstWaitMs, int nEventIntervalMs, uint64_t nSeed);
}  // namespace testing

}  // namespace vantrel
