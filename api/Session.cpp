#include "api/Session.h"

#include <mutex>

#include "api/SessionState.h"
#include "feed/QuotesContainer.h"
#include "feed/QuotesThread.h"
#include "log/LogFacade.h"
#include "platform/Thread.h"

namespace vantrel {

std::atomic<int> g_nConnectTimeoutMs{10000};

namespace {

// Serialises Login and Logoff; each holds it for its whole run.
std::recursive_mutex g_hSessionMutex;

// The quotes thread of the current or last session. Joined by the Logoff that
// stops it, by the next Login when it ended by itself, and at unload where
// the platform allows it.
platform::LibraryThread g_QuotesThread;

void JoinQuotesThread() { g_QuotesThread.Join(); }

// Stops a running session when the library is unloaded or the process exits,
// and ends a Login still resolving, connecting or waiting for its verdict on
// another thread. Created by the first Login after the objects the quotes
// thread uses, so it is destroyed before them: no library thread outlives the
// library. Where unload must not wait (Windows), no quotes thread can be
// running then (see platform::LibraryThread) and the handle is simply let go.
struct SessionReaper {
    ~SessionReaper() {
        if (!platform::MayJoinThreadsAtUnload()) {
            if (g_QuotesThread.Joinable()) g_QuotesThread.Detach();
            return;
        }
        g_bLogoffRequested.store(1);
        QuotesThreadWakeEvent().Signal();
        // Every wait of Login and Logoff ends on the stop request, so this
        // takes the lock as soon as a call under way has returned; no thread
        // can be started after it.
        std::lock_guard<std::recursive_mutex> guard(g_hSessionMutex);
        JoinQuotesThread();
    }
};

void PrepareForUnload() {
    GetQuotesContainer();
    GetQuotesFeedStats();
    QuotesThreadWakeEvent();
    static SessionReaper reaper;
}

}  // namespace

int Login(const char* host, int port, const char* login, const char* password) {
    if (host == nullptr || login == nullptr || password == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(g_hSessionMutex);
    const int32_t n = g_nSessionsCnt.fetch_add(1) + 1;
    if (n > 1) return 0;

    OutputEvent2Log("Login() is started.");
    PrepareForUnload();
    JoinQuotesThread();  // a thread whose session ended by itself
    // A stale wake-up must not cut this session short; a stop that the
    // library's unload has requested meanwhile must.
    QuotesThreadWakeEvent().Clear();
    if (g_bLogoffRequested.load()) QuotesThreadWakeEvent().Signal();
    const unsigned long long nVersion = g_bQuotesThreadState.setAndVersion(1);

    // Resolving the name counts inside the connect bound.
    g_Socket = platform::CreateTcpSocket();
    g_nConnectError = 0;
    platform::ConnectTcp(&g_Socket, host, port & 0xFFFF, g_nConnectTimeoutMs.load(), &QuotesThreadWakeEvent(),
                         &g_nConnectError);

    QuotesThreadParams params{login, password};
    if (!g_QuotesThread.Start([&params] { StartQuotesThread(&params); })) {
        platform::CloseSocket(&g_Socket);
        OutputError2Log(1, "Login(): Unable to spawn Quotes thread");
        g_nSessionsCnt.fetch_sub(1);
        return -2;
    }
    // The thread's first change of the state is its verdict on the handshake.
    g_bQuotesThreadState.waitForChangeAfter(nVersion);
    OutputEvent2Log("Login() is finished.");
    return g_nSessionsCnt.load() == n ? 1 : -1;
}

int Logoff() {
    std::lock_guard<std::recursive_mutex> guard(g_hSessionMutex);
    if (g_nSessionsCnt.load() == 0) return 0;
    if (g_nSessionsCnt.fetch_sub(1) - 1 != 0) return 1;

    OutputEvent2Log("Logoff() is started.");
    g_bLogoffRequested.store(1);
    QuotesThreadWakeEvent().Signal();
    g_bQuotesThreadState.waitFor(1);
    JoinQuotesThread();
    OutputEvent2Log("Logoff() is finished.");
    g_bLogoffRequested.store(0);
    QuotesThreadWakeEvent().Clear();
    return 1;
}

void* GetExceptionHandler() { return nullptr; }

namespace testing {

void SetHandshakeTimeouts(int nConnectMs, int nVerdictMs) {
    g_nConnectTimeoutMs.store(nConnectMs > 0 ? nConnectMs : 10000);
    g_nVerdictTimeoutMs.store(nVerdictMs > 0 ? nVerdictMs : 30000);
}

}  // namespace testing
}  // namespace vantrel
