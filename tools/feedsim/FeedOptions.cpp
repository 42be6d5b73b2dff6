#include "feedsim/FeedOptions.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

namespace feedsim {
namespace {

// Usual levels of the common currency pairs, so that a simulated board looks
// familiar. Any other symbol starts at 1.0 unless given a mid.
const std::map<std::string, double>& KnownMids() {
    static const std::map<std::string, double> mids = {
        {"EUR/USD", 1.0850}, {"GBP/USD", 1.2700}, {"USD/JPY", 151.50}, {"USD/CHF", 0.9050},
        {"AUD/USD", 0.6550}, {"USD/CAD", 1.3600}, {"NZD/USD", 0.6000}, {"EUR/GBP", 0.8550},
        {"EUR/JPY", 164.40}, {"EUR/CHF", 0.9800}, {"GBP/JPY", 192.40}, {"XAU/USD", 2350.0},
    };
    return mids;
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseInteger(const std::string& text, int64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size()) return false;
    value = parsed;
    return true;
}

// A symbol travels inside a FIX field and in comma-separated option lists:
// printable ASCII without blanks, commas or equals signs, at most 32 bytes.
bool ValidSymbol(const std::string& symbol) {
    if (symbol.empty() || symbol.size() > 32) return false;
    for (const char c : symbol) {
        if (c <= ' ' || c > '~' || c == ',' || c == '=') return false;
    }
    return true;
}

// The text before the marker: printable, without the marker itself (the
// client cuts the payload at the first marker), and short enough that a line
// stays below the 1000 characters a client reads as one line (with --depth
// at most 8; a test checks the longest line the options allow).
bool ValidLinePrefix(const std::string& prefix) {
    if (prefix.size() > 100 || prefix.find("[QT]") != std::string::npos) return false;
    for (const char c : prefix) {
        if (c < ' ' || c > '~') return false;
    }
    return true;
}

bool ValidCredential(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos && text.size() <= 256;
}

// "SYMBOL" or "SYMBOL=MID".
bool ParseSymbolSetup(const std::string& text, SymbolSetup& setup, std::string& error) {
    const std::string::size_type eq = text.find('=');
    setup.symbol = text.substr(0, eq);
    if (!ValidSymbol(setup.symbol)) {
        error = "invalid symbol '" + setup.symbol +
                "' (1 to 32 printable characters, no blanks, ',' or '=')";
        return false;
    }
    setup.mid = DefaultMid(setup.symbol);
    if (eq != std::string::npos) {
        const std::string midText = text.substr(eq + 1);
        if (!ParseDouble(midText, setup.mid) || setup.mid <= 0.0 || setup.mid >= 1e9) {
            error = "invalid mid price '" + midText + "' for " + setup.symbol +
                    " (a number above 0 and below 1e9)";
            return false;
        }
    }
    return true;
}

bool ParseSymbolList(const std::string& list, std::vector<SymbolSetup>& symbols,
                     std::string& error) {
    symbols.clear();
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = list.find(',', start);
        SymbolSetup setup;
        if (!ParseSymbolSetup(list.substr(start, comma - start), setup, error)) return false;
        for (const SymbolSetup& seen : symbols) {
            if (seen.symbol == setup.symbol) {
                error = "symbol " + setup.symbol + " given twice";
                return false;
            }
        }
        symbols.push_back(setup);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

struct Parser {
    int argc;
    const char* const* argv;
    int index = 1;
    std::string& error;

    // Splits "--name=value" or takes the value from the next argument.
    bool Value(const std::string& name, const std::string& arg, std::string& value) {
        if (arg.size() > name.size() && arg[name.size()] == '=') {
            value = arg.substr(name.size() + 1);
            return true;
        }
        if (index + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        value = argv[++index];
        return true;
    }

    bool Number(const std::string& name, const std::string& text, double low, double high,
                double& value) {
        if (!ParseDouble(text, value) || value < low || value > high) {
            error = "invalid value '" + text + "' for " + name;
            return false;
        }
        return true;
    }

    bool Integer(const std::string& name, const std::string& text, int64_t low, int64_t high,
                 int64_t& value) {
        if (!ParseInteger(text, value) || value < low || value > high) {
            error = "invalid value '" + text + "' for " + name + " (a whole number from " +
                    std::to_string(low) + " to " + std::to_string(high) + ")";
            return false;
        }
        return true;
    }
};

// The option name of an argument: "--rate=5" -> "--rate".
std::string OptionName(const std::string& arg) { return arg.substr(0, arg.find('=')); }

}  // namespace

double DefaultMid(const std::string& symbol) {
    const auto found = KnownMids().find(symbol);
    return found == KnownMids().end() ? 1.0 : found->second;
}

std::vector<SymbolSetup> DefaultSymbols() {
    std::vector<SymbolSetup> symbols;
    for (const char* symbol : {"EUR/USD", "GBP/USD", "USD/JPY", "USD/CHF", "AUD/USD"}) {
        symbols.push_back({symbol, DefaultMid(symbol)});
    }
    return symbols;
}

ParseOutcome ParseFeedOptions(int argc, const char* const* argv, FeedOptions& options,
                              std::string& error) {
    Parser p{argc, argv, 1, error};
    bool bSymbolsGiven = false;
    std::vector<std::string> mids;
    for (; p.index < argc; ++p.index) {
        const std::string arg = argv[p.index];
        const std::string name = OptionName(arg);
        std::string value;
        double number = 0.0;
        int64_t integer = 0;
        if (arg == "--help" || arg == "-h") return ParseOutcome::Help;
        if (arg == "--version") return ParseOutcome::Version;
        if (arg == "--crlf") {
            options.crlf = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (name == "--listen") {
            if (!p.Value(name, arg, value)) return ParseOutcome::Error;
            in6_addr address{};
            if (inet_pton(AF_INET, value.c_str(), &address) != 1 && inet_pton(AF_INET6, value.c_str(), &address) != 1) {
                error = "invalid --listen address '" + value + "' (a dotted IPv4 or an IPv6 address)";
                return ParseOutcome::Error;
            }
            options.listenAddress = value;
        } else if (name == "--port") {
            if (!p.Value(name, arg, value) || !p.Integer(name, value, 0, 65535, integer)) {
                return ParseOutcome::Error;
            }
            options.port = static_cast<int>(integer);
        } else if (name == "--port-file") {
            if (!p.Value(name, arg, value)) return ParseOutcome::Error;
            if (value.empty()) {
                error = "--port-file needs a file name";
                return ParseOutcome::Error;
            }
            options.portFile = value;
        } else if (name == "--symbols") {
            if (!p.Value(name, arg, value) || !ParseSymbolList(value, options.symbols, error)) {
                return ParseOutcome::Error;
            }
            bSymbolsGiven = true;
        } else if (name == "--mid") {
            if (!p.Value(name, arg, value)) return ParseOutcome::Error;
            mids.push_back(value);
        } else if (name == "--rate") {
            if (!p.Value(name, arg, value) || !p.Number(name, value, 0.0, 100000.0, number)) {
                return ParseOutcome::Error;
            }
            options.rate = number;
        } else if (name == "--depth") {
            if (!p.Value(name, arg, value) || !p.Integer(name, value, 1, 8, integer)) {
                return ParseOutcome::Error;
            }
            options.depth = static_cast<int>(integer);
        } else if (name == "--step") {
            if (!p.Value(name, arg, value) || !p.Number(name, value, 0.0, 0.01, number)) {
                return ParseOutcome::Error;
            }
            options.step = number;
        } else if (name == "--spread") {
            if (!p.Value(name, arg, value) || !p.Number(name, value, 0.0, 0.1, number) ||
                number == 0.0) {
                if (error.empty()) error = "invalid value '" + value + "' for --spread";
                return ParseOutcome::Error;
            }
            options.spread = number;
        } else if (name == "--duration") {
            if (!p.Value(name, arg, value) || !p.Number(name, value, 0.0, 1e7, number)) {
                return ParseOutcome::Error;
            }
            options.durationSeconds = number;
        } else if (name == "--count") {
            if (!p.Value(name, arg, value) ||
                !p.Integer(name, value, 0, 1000000000000LL, integer)) {
                return ParseOutcome::Error;
            }
            options.count = integer;
        } else if (name == "--max-clients") {
            if (!p.Value(name, arg, value) || !p.Integer(name, value, 1, 1000, integer)) {
                return ParseOutcome::Error;
            }
            options.maxClients = static_cast<int>(integer);
        } else if (name == "--login" || name == "--password") {
            if (!p.Value(name, arg, value)) return ParseOutcome::Error;
            if (!ValidCredential(value)) {
                error = name + " must be one line of at most 256 characters";
                return ParseOutcome::Error;
            }
            (name == "--login" ? options.login : options.password) = value;
        } else if (name == "--line-prefix") {
            if (!p.Value(name, arg, value)) return ParseOutcome::Error;
            if (!ValidLinePrefix(value)) {
                error = "--line-prefix must be printable text of at most 100 characters "
                        "without \"[QT]\"";
                return ParseOutcome::Error;
            }
            options.linePrefix = value;
        } else if (name == "--seed") {
            if (!p.Value(name, arg, value) ||
                !p.Integer(name, value, 0, INT64_MAX, integer)) {
                return ParseOutcome::Error;
            }
            options.seed = static_cast<uint64_t>(integer);
        } else {
            error = "unknown option '" + arg + "'";
            return ParseOutcome::Error;
        }
    }
    if (!bSymbolsGiven) options.symbols = DefaultSymbols();
    for (const std::string& text : mids) {
        SymbolSetup setup;
        if (text.find('=') == std::string::npos) {
            error = "--mid needs SYMBOL=PRICE, got '" + text + "'";
            return ParseOutcome::Error;
        }
        if (!ParseSymbolSetup(text, setup, error)) return ParseOutcome::Error;
        bool bFound = false;
        for (SymbolSetup& known : options.symbols) {
            if (known.symbol == setup.symbol) {
                known.mid = setup.mid;
                bFound = true;
            }
        }
        if (!bFound) {
            error = "--mid names " + setup.symbol + ", which is not among the symbols";
            return ParseOutcome::Error;
        }
    }
    return ParseOutcome::Run;
}

std::string FeedUsage() {
    return R"(Usage: vantrel-feedsim [OPTIONS]

A quotes server for development and tests. It accepts TCP clients, reads two
credential lines (login, password), answers "#1 Login granted" (or a refusal
line, then closes the connection), and then streams lines of the form
  <prefix>[QT]<FIX 4.4 MarketDataSnapshotFullRefresh>
one symbol after the other. Each client first gets one snapshot of every
symbol at once, then --rate lines per second. Prices follow a random walk
around each symbol's mid.

Network:
  --listen ADDR        IPv4 or IPv6 address to listen on (default 127.0.0.1;
                       an IPv6 address takes IPv6 clients only)
  --port N             TCP port (default 7010; 0 picks a free port)
  --port-file FILE     write the port to FILE once listening (the file
                       appears complete, so a script may wait for it)
  --max-clients N      clients served at once, 1-1000 (default 16); further
                       clients get a refusal line and are closed

Login:
  --login TEXT         accepted login (default: any)
  --password TEXT      accepted password (default: any)

Quotes:
  --symbols LIST       comma-separated symbols, each optionally SYMBOL=MID
                       (default EUR/USD,GBP/USD,USD/JPY,USD/CHF,AUD/USD)
  --mid SYMBOL=PRICE   starting mid of one listed symbol (repeatable)
  --rate R             quote lines per second per client, 0-100000; 0 sends
                       without pause (default 10)
  --depth N            bid and offer entries per message, 1-8 (default 3)
  --step X             largest relative move of a mid per quote, 0-0.01
                       (default 0.00005)
  --spread X           relative distance of best bid and offer, above 0 and
                       at most 0.1 (default 0.0001)
  --seed N             seed of the random walk (default: from the clock)
  --line-prefix TEXT   text before "[QT]" (default: a UTC time stamp)
  --crlf               end lines with CR LF (default LF)

Run time:
  --duration SECONDS   stop after this time (default: until Ctrl-C)
  --count N            close each client after N quote lines (default: never)
  --quiet, -q          no messages about clients on standard error
  --help, -h           show this text
  --version            show the version

On start it prints "listening on ADDR:PORT" on standard output.
Exit codes: 0 stopped normally, 1 could not listen, 2 bad options.
)";
}

}  // namespace feedsim
