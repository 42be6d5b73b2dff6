// vantrel-quotes: a live top-of-book board, and a host of libvantrel that
// uses nothing but its public header.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <vantrel/vantrel.h>

#include "quotes/Board.h"
#include "quotes/MonitorOptions.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace quotes;

// Entries read per side and quote; the best of them makes the top of book.
constexpr int kLevels = 32;

// Room for any symbol the library can hand back to the any-symbol query: it
// reads at most 1000 characters as one line, so no stored symbol is longer.
constexpr std::size_t kSymbolBuffer = 1024;

// Ctrl-C and SIGTERM: the first one asks for a clean log-off; a second one,
// for when the log-off itself hangs, restores the terminal and leaves at once.
int g_wakePipe[2] = {-1, -1};
std::atomic<int> g_nStopSignals{0};
std::atomic<bool> g_bCursorHidden{false};

void OnStopSignal(int) {
    if (g_nStopSignals.fetch_add(1) > 0) {
        if (g_bCursorHidden) {
            static const char kShow[] = "\x1b[?25h\n";
            [[maybe_unused]] const ssize_t n = write(STDOUT_FILENO, kShow, sizeof kShow - 1);
        }
        _exit(130);
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_wakePipe[1], &byte, 1);
}

bool StopRequested() { return g_nStopSignals.load() > 0; }

void InstallSignalHandlers() {
    if (pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Waits up to `ms`, returning early when a stop was requested.
void Pause(int ms) {
    if (StopRequested()) return;
    pollfd fd{g_wakePipe[0], POLLIN, 0};
    poll(&fd, g_wakePipe[0] >= 0 ? 1 : 0, ms);
}

// Asks for the password on the terminal with echo off.
std::string AskPassword(const MonitorOptions& options) {
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) return std::string();
    const std::string prompt =
        "Password for " + options.login + " at " + options.host + ":" + std::to_string(options.port) + ": ";
    [[maybe_unused]] ssize_t n = write(tty, prompt.data(), prompt.size());
    termios saved{};
    const bool bTerminal = tcgetattr(tty, &saved) == 0;
    if (bTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string password;
    char c = 0;
    while (read(tty, &c, 1) == 1 && c != '\n') {
        if (c != '\r') password += c;
    }
    if (bTerminal) tcsetattr(tty, TCSAFLUSH, &saved);
    close(tty);
    return password;
}

// Sets the library's log directory unless the environment names one: the
// default, beside the executable, is not writable for an installed tool.
void ChooseLogDirectory(const MonitorOptions& options) {
    if (!options.logDir.empty()) {
        setenv("VANTREL_LOG_DIR", options.logDir.c_str(), 1);
        return;
    }
    const char* current = std::getenv("VANTREL_LOG_DIR");
    if (current != nullptr && *current != '\0') return;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string directory;
    if (state != nullptr && *state == '/') {
        directory = std::string(state) + "/vantrel";
    } else if (home != nullptr && *home == '/') {
        directory = std::string(home) + "/.local/state/vantrel";
    }
    if (!directory.empty()) setenv("VANTREL_LOG_DIR", directory.c_str(), 1);
}

// After a failed login: can the server be reached at all? A plain TCP
// connection, closed at once without sending anything. Empty when it can;
// otherwise the reason.
std::string ReachProblem(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        return "host name not found";
    }
    // Every address in turn, as the library tries them, within 5 s in all.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int count = 0;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) ++count;
    std::string problem;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next, --count) {
        const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            problem = std::strerror(errno);
            continue;
        }
        int result = connect(fd, a->ai_addr, a->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now()).count();
            pollfd p{fd, POLLOUT, 0};
            if (left > 0 && poll(&p, 1, static_cast<int>(left / count)) == 1) {
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                result = error == 0 ? 0 : -1;
                errno = error;
            } else {
                result = -1;
                errno = ETIMEDOUT;
            }
        }
        problem = result == 0 ? "" : std::strerror(errno);
        close(fd);
        if (result == 0) break;
    }
    freeaddrinfo(found);
    return problem;
}

// One query of one symbol. Returns the library's result; `top` holds the best
// bid and offer when it is 1.
int Query(const std::string& symbol, TopOfBook& top) {
    char buffer[kSymbolBuffer];
    std::snprintf(buffer, sizeof buffer, "%s", symbol.c_str());
    int nBids = kLevels;
    int nOffers = kLevels;
    double bidPrices[kLevels], bidSizes[kLevels], offerPrices[kLevels], offerSizes[kLevels];
    const int result =
        GetLastQuotes(buffer, &nBids, bidPrices, bidSizes, &nOffers, offerPrices, offerSizes);
    if (result == 1) {
        // A count above the capacity means entries were left out; the best
        // is taken among those copied.
        top = BestOf(bidPrices, bidSizes, std::min(nBids, kLevels), offerPrices, offerSizes,
                     std::min(nOffers, kLevels));
    }
    return result;
}

// Adds the symbols the library has that the board lacks, as far as the public
// queries can tell: the any-symbol query's answer and the probed candidates.
// True when a row was added.
bool Discover(Board& board) {
    bool bAdded = false;
    char any[kSymbolBuffer] = "";
    int nBids = 1, nOffers = 1;
    double bp = 0, bs = 0, op = 0, os = 0;
    if (GetLastQuotes(any, &nBids, &bp, &bs, &nOffers, &op, &os) == 1) bAdded |= board.Add(any);
    static const std::vector<std::string> candidates = DiscoveryCandidates();
    for (const std::string& symbol : candidates) {
        if (board.Has(symbol)) continue;
        TopOfBook top;
        if (Query(symbol, top) == 1) bAdded |= board.Add(symbol);
    }
    return bAdded;
}

void Refresh(Board& board) {
    const WallClock::time_point now = WallClock::now();
    for (const std::string& symbol : board.Symbols()) {
        TopOfBook top;
        const int result = Query(symbol, top);
        board.Record(symbol, result, top, now);
    }
}

void PrintPlain(const Board& board, std::ostream& out) {
    RenderStyle style;
    style.now = WallClock::now();
    for (const std::string& line : board.Render(style)) out << line << '\n';
    out.flush();
}

class Screen {
public:
    Screen(bool bAnsi, bool bColor) : m_bAnsi(bAnsi), m_bColor(bColor) {
        if (m_bAnsi) {
            std::cout << "\x1b[2J\x1b[H\x1b[?25l" << std::flush;
            g_bCursorHidden = true;
        }
    }
    ~Screen() { Restore(); }

    void Restore() {
        if (m_bAnsi && g_bCursorHidden) {
            std::cout << "\x1b[?25h" << std::flush;
            g_bCursorHidden = false;
        }
    }

    void Draw(const Board& board, const std::string& title, const std::string& status) {
        RenderStyle style;
        style.ansi = m_bAnsi && m_bColor;
        style.now = WallClock::now();
        std::string frame = m_bAnsi ? "\x1b[H" : "";
        const char* eol = m_bAnsi ? "\x1b[K\n" : "\n";
        frame += title + eol + eol;
        for (const std::string& line : board.Render(style)) frame += line + eol;
        frame += std::string(eol) + status + eol;
        if (m_bAnsi) frame += "\x1b[J";
        else frame += "\n";
        std::cout << frame << std::flush;
    }

private:
    bool m_bAnsi;
    bool m_bColor;
};

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

int RunOnce(const MonitorOptions& options, Board& board, bool bDiscover) {
    const SteadyClock::time_point deadline =
        SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                 std::chrono::duration<double>(options.waitSeconds));
    // Discovery ends when no new symbol has shown up for this long.
    constexpr auto kSettle = std::chrono::seconds(1);
    SteadyClock::time_point lastNew = SteadyClock::now();
    for (;;) {
        if (bDiscover && Discover(board)) lastNew = SteadyClock::now();
        Refresh(board);
        if (board.SessionLost()) {
            std::cerr << "vantrel-quotes: the server ended the session\n";
            return kExitSessionLost;
        }
        const bool bDone = bDiscover
                               ? board.AllQuoted() && SteadyClock::now() - lastNew >= kSettle
                               : board.AllQuoted();
        if (bDone || StopRequested() || SteadyClock::now() >= deadline) break;
        Pause(50);
    }
    if (board.Size() == 0) {
        std::cerr << "vantrel-quotes: no symbol found within " << Seconds(options.waitSeconds)
                  << " s (give them with --symbols)\n";
        return kExitNoQuotes;
    }
    PrintPlain(board, std::cout);
    if (!board.AllQuoted() && !StopRequested()) {
        std::cerr << "vantrel-quotes: no quote within " << Seconds(options.waitSeconds) << " s for";
        for (const std::string& symbol : board.Unquoted()) std::cerr << ' ' << symbol;
        std::cerr << '\n';
        return kExitNoQuotes;
    }
    return kExitOk;
}

int RunLive(const MonitorOptions& options, Board& board, bool bDiscover) {
    const bool bTerminal = isatty(STDOUT_FILENO) == 1;
    const char* noColor = std::getenv("NO_COLOR");
    const bool bColor = options.color == ColorMode::Always ||
                        (options.color == ColorMode::Auto && bTerminal &&
                         (noColor == nullptr || *noColor == '\0'));
    Screen screen(bTerminal, bColor);
    const std::string title = "vantrel-quotes  " + options.login + "@" + options.host + ":" +
                              std::to_string(options.port) + "  (Ctrl-C to log off)";
    const bool bTimed = options.durationSeconds > 0.0;
    const SteadyClock::time_point end =
        SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                 std::chrono::duration<double>(options.durationSeconds));
    // Without a terminal the board is printed as text, at most once a second.
    const int interval = bTerminal ? options.intervalMs : std::max(options.intervalMs, 1000);
    SteadyClock::time_point nextDiscovery = SteadyClock::now();
    while (!StopRequested() && (!bTimed || SteadyClock::now() < end)) {
        if (bDiscover && SteadyClock::now() >= nextDiscovery) {
            Discover(board);
            nextDiscovery = SteadyClock::now() + std::chrono::seconds(1);
        }
        Refresh(board);
        if (board.SessionLost() && !StopRequested()) {
            screen.Draw(board, title, "session lost");
            screen.Restore();
            std::cerr << "vantrel-quotes: the server ended the session\n";
            return kExitSessionLost;
        }
        const std::string status =
            board.Size() == 0 ? "logged in; waiting for quotes"
                              : std::to_string(board.Size()) + " symbols" +
                                    (bDiscover ? " (discovered)" : "") + "; logged in";
        screen.Draw(board, title, status);
        Pause(interval);
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    MonitorOptions options;
    std::string error;
    std::vector<int> secretArgs;
    const ParseOutcome outcome = ParseMonitorOptions(
        argc, argv, [](const char* name) { return static_cast<const char*>(std::getenv(name)); },
        options, error, secretArgs);
    // Keep the password out of the process list from here on.
    for (const int index : secretArgs) {
        char* text = argv[index];
        if (std::strncmp(text, "--password=", 11) == 0) text += 11;
        std::memset(text, 'x', std::strlen(text));
    }
    switch (outcome) {
        case ParseOutcome::Help:
            std::cout << MonitorUsage();
            return kExitOk;
        case ParseOutcome::Version:
            std::cout << "vantrel-quotes " VANTREL_VERSION "\n";
            return kExitOk;
        case ParseOutcome::Error:
            std::cerr << "vantrel-quotes: " << error << "\n"
                      << "Try 'vantrel-quotes --help' for the options.\n";
            return kExitUsage;
        case ParseOutcome::Run:
            break;
    }
    if (!options.password) {
        options.password = isatty(STDIN_FILENO) == 1 ? AskPassword(options) : std::string();
    }
    ChooseLogDirectory(options);
    InstallSignalHandlers();

    const std::string server = options.host + ":" + std::to_string(options.port);
    std::cerr << "vantrel-quotes: logging in to " << server << " as " << options.login << "\n";
    const int login = Login(options.host.c_str(), options.port, options.login.c_str(),
                            options.password->c_str());
    if (login != 1 && login != 0) {
        if (login == -1) {
            const std::string problem = ReachProblem(options.host, options.port);
            if (!problem.empty()) {
                std::cerr << "vantrel-quotes: cannot connect to " << server << ": " << problem
                          << "\n";
                return kExitUnreachable;
            }
            std::cerr << "vantrel-quotes: login refused by " << server
                      << ": the server did not grant the login for '" << options.login
                      << "' (wrong login or password, or no answer in time)\n";
            return kExitLoginRefused;
        }
        std::cerr << "vantrel-quotes: " << LoginResultText(login) << "\n";
        return kExitFailure;
    }
    std::cerr << "vantrel-quotes: " << LoginResultText(login) << "\n";

    Board board(options.symbols);
    const bool bDiscover = options.symbols.empty();
    int code = kExitOk;
    if (!StopRequested()) {
        code = options.once ? RunOnce(options, board, bDiscover) : RunLive(options, board, bDiscover);
    }
    const int logoff = Logoff();
    std::cerr << "vantrel-quotes: " << (logoff == 1 ? "logged off" : "no session to log off")
              << "\n";
    return code;
}
