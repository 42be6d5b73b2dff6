// Command-line options of vantrel-feedsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace feedsim {

struct SymbolSetup {
    std::string symbol;
    double mid = 0.0;  // starting mid price of the random walk
};

struct FeedOptions {
    std::string listenAddress = "127.0.0.1";
    int port = 7010;                 // 0: an ephemeral port chosen by the system
    std::string portFile;            // written with the chosen port once listening
    std::vector<SymbolSetup> symbols; // filled with the defaults when not given
    double rate = 10.0;              // quote lines per second and client; 0: no pause
    int depth = 3;                   // bid and offer entries per message
    double step = 0.00005;           // largest relative move of a mid per quote
    double spread = 0.0001;          // relative distance between best bid and offer
    double durationSeconds = 0.0;    // 0: until stopped
    int64_t count = 0;               // quote lines per client before closing it; 0: no limit
    int maxClients = 16;
    std::optional<std::string> login;     // accepted login; any when absent
    std::optional<std::string> password;  // accepted password; any when absent
    bool crlf = false;                    // end lines with CR LF instead of LF
    std::optional<std::string> linePrefix;  // text before "[QT]"; a UTC time stamp when absent
    std::optional<uint64_t> seed;           // random walk seed; from the clock when absent
    bool quiet = false;
};

// Symbols and starting mids used when --symbols is not given.
std::vector<SymbolSetup> DefaultSymbols();

// The starting mid for a symbol without an explicit one: a known currency
// pair's usual level, otherwise 1.0.
double DefaultMid(const std::string& symbol);

enum class ParseOutcome { Run, Help, Version, Error };

// Parses argv[1..]. On Error, `error` holds a one-line reason.
ParseOutcome ParseFeedOptions(int argc, const char* const* argv, FeedOptions& options,
                              std::string& error);

// The text printed by --help.
std::string FeedUsage();

}  // namespace feedsim
