#include "quotes/MonitorOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace quotes {
namespace {

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int value = std::atoi(text.c_str());
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

bool ParseSeconds(const std::string& text, double low, double& seconds) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) || value < low ||
        value > 1e7) {
        return false;
    }
    seconds = value;
    return true;
}

// Comma-separated; every symbol is non-empty and fits the any-symbol buffer.
bool ParseSymbols(const std::string& list, std::vector<std::string>& symbols, std::string& error) {
    symbols.clear();
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = list.find(',', start);
        const std::string symbol = list.substr(start, comma - start);
        if (symbol.empty() || symbol.size() > 255) {
            error = "invalid symbol list '" + list + "' (comma-separated symbols, none empty)";
            return false;
        }
        bool bSeen = false;
        for (const std::string& known : symbols) bSeen = bSeen || known == symbol;
        if (!bSeen) symbols.push_back(symbol);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// The first line of the file, without its line end.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the password file " + path;
        return false;
    }
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

}  // namespace

ParseOutcome ParseMonitorOptions(int argc, const char* const* argv, const Environment& env,
                                 MonitorOptions& options, std::string& error,
                                 std::vector<int>& secretArgs) {
    if (const char* host = env("VANTREL_HOST"); host && *host) options.host = host;
    if (const char* port = env("VANTREL_PORT"); port && *port) {
        if (!ParsePort(port, options.port)) {
            error = std::string("invalid VANTREL_PORT '") + port + "' (1-65535)";
            return ParseOutcome::Error;
        }
    }
    if (const char* login = env("VANTREL_LOGIN"); login && *login) options.login = login;
    if (const char* password = env("VANTREL_PASSWORD")) options.password = password;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string name = arg.substr(0, arg.find('='));
        if (arg == "--help" || arg == "-h") return ParseOutcome::Help;
        if (arg == "--version") return ParseOutcome::Version;
        if (arg == "--once") {
            options.once = true;
            continue;
        }
        if (arg == "--no-color") {
            options.color = ColorMode::Never;
            continue;
        }
        if (arg == "--color") {
            options.color = ColorMode::Always;
            continue;
        }
        static const char* const kWithValue[] = {"--host",     "--port",     "--login",
                                                 "--password", "--password-file",
                                                 "--symbols",  "--wait",     "--interval",
                                                 "--duration", "--log-dir"};
        bool bKnown = false;
        for (const char* known : kWithValue) bKnown = bKnown || name == known;
        if (!bKnown) {
            error = "unknown option '" + arg + "'";
            return ParseOutcome::Error;
        }
        std::string value;
        int valueIndex = i;
        if (arg.size() > name.size()) {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            valueIndex = ++i;
            value = argv[i];
        } else {
            error = "option " + name + " needs a value";
            return ParseOutcome::Error;
        }

        if (name == "--host") {
            if (value.empty()) {
                error = "--host needs a host name or an IPv4 or IPv6 address";
                return ParseOutcome::Error;
            }
            options.host = value;
        } else if (name == "--port") {
            if (!ParsePort(value, options.port)) {
                error = "invalid --port '" + value + "' (1-65535)";
                return ParseOutcome::Error;
            }
        } else if (name == "--login") {
            options.login = value;
        } else if (name == "--password") {
            options.password = value;
            secretArgs.push_back(valueIndex);
        } else if (name == "--password-file") {
            std::string password;
            if (!ReadPasswordFile(value, password, error)) return ParseOutcome::Error;
            options.password = password;
        } else if (name == "--symbols") {
            if (!ParseSymbols(value, options.symbols, error)) return ParseOutcome::Error;
        } else if (name == "--wait") {
            if (!ParseSeconds(value, 0.0, options.waitSeconds)) {
                error = "invalid --wait '" + value + "' (seconds, 0 or more)";
                return ParseOutcome::Error;
            }
        } else if (name == "--interval") {
            double ms = 0;
            if (!ParseSeconds(value, 20.0, ms) || ms > 60000) {
                error = "invalid --interval '" + value + "' (milliseconds, 20-60000)";
                return ParseOutcome::Error;
            }
            options.intervalMs = static_cast<int>(ms);
        } else if (name == "--duration") {
            if (!ParseSeconds(value, 0.0, options.durationSeconds)) {
                error = "invalid --duration '" + value + "' (seconds, 0 or more)";
                return ParseOutcome::Error;
            }
        } else if (name == "--log-dir") {
            options.logDir = value;
        }
    }
    return ParseOutcome::Run;
}

std::string MonitorUsage() {
    return R"(Usage: vantrel-quotes [OPTIONS]

Logs in to a quotes server through libvantrel and shows the best bid and
offer of each symbol (sizes in millions, spread, local time of the last
change), refreshed in place. Ctrl-C logs off and exits.

Connection (options win over the environment):
  --host HOST          server name, IPv4 or IPv6 address [VANTREL_HOST, 127.0.0.1]
  --port N             server port                   [VANTREL_PORT, 7010]
  --login NAME         login                         [VANTREL_LOGIN, demo]
  --password-file F    read the password from the first line of F
  --password TEXT      the password; other local users can see it in the
                       process list, so prefer VANTREL_PASSWORD or a file
                       Without any of them (and VANTREL_PASSWORD unset) the
                       password is asked on the terminal, without echo, or
                       is empty when there is no terminal.

Board:
  --symbols LIST       comma-separated symbols to show. Without it the
                       monitor discovers symbols: the library's any-symbol
                       query yields the smallest stored symbol, and common
                       currency pairs (EUR/USD or EURUSD style, among USD EUR
                       JPY GBP CHF AUD NZD CAD NOK SEK DKK XAU XAG) are
                       probed by name; other symbols need --symbols.
  --interval MS        refresh period in milliseconds (default 200)
  --duration SECONDS   log off after this time (default: until Ctrl-C)
  --once               wait for the quotes, print one plain-text snapshot
                       and exit (with --symbols: until every symbol has a
                       quote; without: until no new symbol shows up for 1 s)
  --wait SECONDS       longest wait of --once (default 10)
  --color, --no-color  colour the ticks (default: on a terminal, unless
                       NO_COLOR is set)

Library:
  --log-dir DIR        the library's log directory (sets VANTREL_LOG_DIR).
                       Default: VANTREL_LOG_DIR, else
                       $XDG_STATE_HOME/vantrel or ~/.local/state/vantrel.
  --help, -h           show this text
  --version            show the version

Exit codes: 0 done, 1 the library could not start its receiving thread,
2 bad options, 3 login refused (the server was reached), 4 server not
reachable, 5 the server ended the session, 6 --once: no quote in time for
some symbol.
)";
}

}  // namespace quotes
