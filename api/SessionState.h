// The process-wide session state shared by Login/Logoff and the quotes
// thread. Lives for the whole time the library is loaded.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Socket.h"
#include "platform/Sync.h"

namespace vantrel {

// Login calls not yet matched by Logoff, less one for a failed handshake.
// 0: no session. Changed only atomically; the quote queries read it unlocked.
extern std::atomic<int32_t> g_nSessionsCnt;

// The connection to the quotes server. Created by Login; once the quotes
// thread runs, only that thread uses and closes it.
extern int g_Socket;

// Why Login's connect failed (the platform's socket error code; 0: connected). The quotes thread
// reports it in place of the send error on the unconnected socket.
extern int g_nConnectError;

// 1 while the last Logoff asks the quotes thread to stop.
extern std::atomic<uint8_t> g_bLogoffRequested;

// Login sets 1 and waits for 0 (handshake decided); after a granted session
// the thread sets 1 when it has finished, which Logoff waits for. Waiters are
// woken by every change.
extern platform::WatchedValue<uint8_t> g_bQuotesThreadState;

// Signalled together with g_bLogoffRequested so that the quotes thread sees a
// stop request at once, whatever it is waiting for.
platform::WakeEvent& QuotesThreadWakeEvent();

// Bounds of the handshake, in milliseconds.
extern std::atomic<int> g_nConnectTimeoutMs;  // 10 s
extern std::atomic<int> g_nVerdictTimeoutMs;  // 30 s

// Handed by Login to the quotes thread; the strings are the caller's and are
// read only during the handshake, which Login waits for.
struct QuotesThreadParams {
    const char* login;
    const char* password;
};

}  // namespace vantrel
