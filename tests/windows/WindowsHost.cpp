// A Windows host of vantrel.dll, as a trading terminal uses it: LoadLibrary,
// GetProcAddress of the five functions declared with the library's calling
// convention, a session against a quotes server, and FreeLibrary.
//
//   vantrel_windows_host PORT PASSWORD CLOSED_PORT
//
// The DLL is loaded by name from the host's own directory. PORT is a quotes
// server granting PASSWORD; CLOSED_PORT has nothing listening. The log goes to
// "REVar" beside this program, where the calling script reads it. Exit code 0
// when every check passed; otherwise each failed check is printed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vantrel/vantrel.h"

namespace {

using LoginFn = int(VANTREL_CALL*)(const char*, int, const char*, const char*);
using LogoffFn = int(VANTREL_CALL*)();
using HandlerFn = void*(VANTREL_CALL*)();
using QuotesFn = int(VANTREL_CALL*)(char*, int*, double*, double*, int*, double*, double*);
using NQuotesFn = int(VANTREL_CALL*)(char*, int, double*, double*, double*, double*);

int g_nFailures = 0;

void Check(bool bOk, const char* what) {
    if (!bOk) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++g_nFailures;
    }
}

struct Api {
    HMODULE module = nullptr;
    LoginFn login = nullptr;
    LogoffFn logoff = nullptr;
    HandlerFn handler = nullptr;
    QuotesFn quotes = nullptr;
    NQuotesFn nquotes = nullptr;

    bool Load() {
        module = ::LoadLibraryA("vantrel.dll");
        if (module == nullptr) return false;
        Find(login, "Login");
        Find(logoff, "Logoff");
        Find(handler, "GetExceptionHandler");
        Find(quotes, "GetLastQuotes");
        Find(nquotes, "GetLastNQuotes");
        return login && logoff && handler && quotes && nquotes;
    }
    template <typename Function>
    void Find(Function& function, const char* name) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    }
    void Free() {
        ::FreeLibrary(module);
        module = nullptr;
    }
};

bool IsLoaded() { return ::GetModuleHandleA("vantrel.dll") != nullptr; }

// Polls `condition` every 10 ms for at most 10 s.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        ::Sleep(10);
    }
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: vantrel_windows_host PORT PASSWORD CLOSED_PORT\n");
        return 64;
    }
    const int port = std::atoi(argv[1]);
    const char* password = argv[2];
    const int closedPort = std::atoi(argv[3]);

    // Wine cannot load ws2_32.dll a second time into a process that has
    // unloaded it, which happens here when the DLL, its only user, unloads.
    // Hosts that use sockets themselves keep it loaded, as this one does.
    ::LoadLibraryA("ws2_32.dll");

    Api api;
    if (!api.Load()) {
        std::fprintf(stderr, "FAILED: vantrel.dll or one of its five functions did not load (%lu)\n",
                     static_cast<unsigned long>(::GetLastError()));
        return 1;
    }

    // A session: counted logins, quotes of one symbol and of any symbol.
    Check(api.handler() == nullptr, "GetExceptionHandler returns NULL");
    Check(api.logoff() == 0, "Logoff without a session returns 0");
    Check(api.login("127.0.0.1", port, "terminal", password) == 1, "Login returns 1");
    Check(api.login("127.0.0.1", port, "terminal", password) == 0, "a second Login returns 0");
    Check(api.logoff() == 1, "the first Logoff returns 1");
    char symbol[32] = "EUR/USD";
    double bids[8], bidSizes[8], offers[8], offerSizes[8];
    int nBids = 0, nOffers = 0;
    Check(WaitFor([&] {
              nBids = nOffers = 8;
              return api.quotes(symbol, &nBids, bids, bidSizes, &nOffers, offers, offerSizes) == 1;
          }),
          "GetLastQuotes finds EUR/USD");
    Check(nBids > 0 && nOffers > 0 && bids[0] > 0 && offers[0] > bids[0] && bidSizes[0] > 0,
          "the EUR/USD quote has a bid below an offer");
    char any[32] = "";
    Check(api.nquotes(any, 4, bids, bidSizes, offers, offerSizes) == 1 && any[0] != '\0',
          "GetLastNQuotes with \"\" names a symbol");
    Check(api.logoff() == 1, "the last Logoff returns 1");
    Check(api.logoff() == 0, "a further Logoff returns 0");
    Check(api.quotes(symbol, &nBids, bids, bidSizes, &nOffers, offers, offerSizes) == -2,
          "GetLastQuotes without a session returns -2");

    // Refused and failed logins.
    Check(api.login("127.0.0.1", port, "terminal", "wrong-password") == -1, "a refused Login returns -1");
    Check(api.login("127.0.0.1", closedPort, "terminal", password) == -1, "Login to a closed port returns -1");
    Check(api.login("no-such-host.invalid", port, "terminal", password) == -1,
          "Login to an unknown host returns -1");
    Check(api.logoff() == 0, "no session is left after failed logins");

    // After the session the DLL unloads at FreeLibrary, or as soon as the
    // thread of the last failed Login, which Login does not wait for, has
    // ended.
    api.Free();
    Check(WaitFor([] { return !IsLoaded(); }), "FreeLibrary after Logoff unloads the DLL");

    // FreeLibrary during a session: the quotes thread keeps the DLL loaded
    // until the session ends; a new handle's Logoff ends it, and the DLL then
    // unloads.
    if (!api.Load()) {
        std::fprintf(stderr, "FAILED: vantrel.dll did not load a second time\n");
        return 1;
    }
    Check(api.login("127.0.0.1", port, "terminal", password) == 1, "Login after a reload returns 1");
    api.Free();
    Check(IsLoaded(), "FreeLibrary during a session leaves the DLL loaded");
    if (api.Load()) {
        Check(api.logoff() == 1, "Logoff through a new handle ends the session");
        api.Free();
        Check(WaitFor([] { return !IsLoaded(); }), "the DLL unloads once the quotes thread has ended");
    } else {
        Check(false, "vantrel.dll loads again during the session");
    }

    if (g_nFailures == 0) std::printf("vantrel_windows_host: all checks passed\n");
    return g_nFailures == 0 ? 0 : 1;
}
