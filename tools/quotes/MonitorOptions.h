// Command-line options and environment of vantrel-quotes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quotes {

// Exit codes of the monitor.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,        // the library could not start its receiving thread
    kExitUsage = 2,          // bad options
    kExitLoginRefused = 3,   // the server was reached but did not grant the login
    kExitUnreachable = 4,    // no connection to the server
    kExitSessionLost = 5,    // the server ended the session
    kExitNoQuotes = 6,       // --once: a symbol had no quote within the wait
};

enum class ColorMode { Auto, Always, Never };

struct MonitorOptions {
    std::string host = "127.0.0.1";
    int port = 7010;
    std::string login = "demo";
    std::optional<std::string> password;  // absent: ask on the terminal, or empty
    std::vector<std::string> symbols;     // empty: discover them
    bool once = false;
    double waitSeconds = 10.0;            // --once: longest wait for the quotes
    int intervalMs = 200;                 // board refresh
    double durationSeconds = 0.0;         // 0: until Ctrl-C
    std::string logDir;                   // empty: VANTREL_LOG_DIR or the default
    ColorMode color = ColorMode::Auto;
};

// Reads an environment variable; null when it is not set.
using Environment = std::function<const char*(const char*)>;

enum class ParseOutcome { Run, Help, Version, Error };

// Environment first (VANTREL_HOST, VANTREL_PORT, VANTREL_LOGIN,
// VANTREL_PASSWORD), then argv[1..], which wins. `secretArgs` receives the
// argv indexes that hold a password, for the caller to blank out.
ParseOutcome ParseMonitorOptions(int argc, const char* const* argv, const Environment& env,
                                 MonitorOptions& options, std::string& error,
                                 std::vector<int>& secretArgs);

std::string MonitorUsage();

}  // namespace quotes
