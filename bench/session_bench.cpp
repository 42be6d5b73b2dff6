// End-to-end figures of one client session on loopback, through the public
// API, against a quotes server running on a thread of this program.
//
//   session_bench [ingest|staleness|queries|login|idle|all] [--rounds N]
//
// --rounds sets the rounds of ingest, staleness and queries; login always
// runs 50 cycles and idle 5 s.
//
//   ingest     quote lines per second from the server into the store, each
//              line checked as a FIX message (2-entry snapshots, 1000 symbols)
//   staleness  time from the server writing a quote to GetLastQuotes first
//              returning it (or a newer one, when it was replaced before a
//              query saw it), at 10,000 quotes per second; the first query
//              of the process, which loads the FIX dictionary, is timed apart
//   queries    GetLastQuotes calls per second on one and on two threads
//   login      Login and Logoff latency
//   idle       CPU used by a session that receives nothing for 5 s
//
// Each figure is the median of several rounds; the rounds are printed too,
// since the machine may be busy with other work. The figure lines read
// "name: value unit (target ...: met|MISSED)".
#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/LoopbackServer.h"
#include "feed/QuotesThread.h"
#include "tests/support/FixText.h"
#include "vantrel/vantrel.h"

namespace {

using vantrel::bench::LoopbackServer;
using vantrel::bench::QuoteLine;
using vantrel::bench::SendAll;
using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The value at fraction `q` (0..1) of sorted values.
double Quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const std::size_t at = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

void PrintRounds(const char* what, const std::vector<double>& values, const char* format) {
    std::printf("  %s rounds:", what);
    for (double v : values) std::printf(format, v);
    std::printf("\n");
}

void PrintFigure(const char* name, double value, const char* format, const char* unit, const char* target,
                 bool bMet) {
    std::printf("%s: ", name);
    std::printf(format, value);
    std::printf(" %s (target %s: %s)\n", unit, target, bMet ? "met" : "MISSED");
    std::fflush(stdout);
}

[[noreturn]] void Abort(const std::string& why) {
    std::fprintf(stderr, "session_bench: %s\n", why.c_str());
    std::exit(1);
}

void OpenSession(const LoopbackServer& server) {
    const int rc = Login("127.0.0.1", server.port(), "bench", "bench-password");
    if (rc != 1) Abort("Login returned " + std::to_string(rc));
}

void CloseSession() {
    if (Logoff() != 1) Abort("Logoff did not count a session off");
}

// Waits, sleeping in short steps, until `n` payloads in all have been stored.
// False when `timeout` passes first.
bool WaitForStored(uint64_t n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (vantrel::GetQuotesFeedStats().nStored.load() < n) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// ---- threads and CPU time -------------------------------------------------

std::set<int> TaskIds() {
    std::set<int> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
        }
        ::closedir(dir);
    }
    return ids;
}

// The threads that appeared since `before` (the library's quotes thread, when
// taken around a Login).
std::vector<int> NewTasks(const std::set<int>& before) {
    std::vector<int> ids;
    for (int id : TaskIds()) {
        if (!before.count(id)) ids.push_back(id);
    }
    return ids;
}

// CPU time of one thread of this process in nanoseconds: the scheduler's
// run time when the kernel reports it, else user + system time in ticks.
int64_t ThreadCpuNs(int tid) {
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    {
        std::ifstream schedstat(base + "/schedstat");
        long long ns = 0;
        if (schedstat >> ns) return ns;
    }
    std::ifstream statFile(base + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const std::string::size_type close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    // Fields after the command: state is field 3; utime and stime are 14, 15.
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = close + 2; i <= stat.size(); ++i) {
        if (i == stat.size() || stat[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += stat[i];
        }
    }
    if (fields.size() < 13) return 0;
    const long long ticks = std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
    return ticks * 1000000000LL / ::sysconf(_SC_CLK_TCK);
}

int64_t ThreadsCpuNs(const std::vector<int>& tids) {
    int64_t total = 0;
    for (int tid : tids) total += ThreadCpuNs(tid);
    return total;
}

int64_t ProcessCpuNs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval& t) { return t.tv_sec * 1000000000LL + t.tv_usec * 1000LL; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

// CPU time used by the whole machine (all processes, all cores), from
// /proc/stat's user, nice, system, irq, softirq and steal ticks.
int64_t MachineBusyNs() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal)) return 0;
    return (user + nice + system + irq + softirq + steal) * 1000000000LL / ::sysconf(_SC_CLK_TCK);
}

// How many cores other processes kept busy over an interval: the figures of
// staleness and of two query threads need both cores of a 2-core machine, so
// a busy machine explains a miss there.
class OtherLoad {
public:
    OtherLoad() : m_nMachine(MachineBusyNs()), m_nProcess(ProcessCpuNs()), m_nWall(NowNs()) {}
    double Cores() const {
        const int64_t other = (MachineBusyNs() - m_nMachine) - (ProcessCpuNs() - m_nProcess);
        return std::max<double>(0, static_cast<double>(other) / static_cast<double>(NowNs() - m_nWall));
    }

private:
    int64_t m_nMachine, m_nProcess, m_nWall;
};

// ---- ingest ---------------------------------------------------------------

// Lines of 2-entry snapshots over `nSymbols` symbols with varying prices and
// valid checksums, as one buffer.
std::string IngestPattern(int nLines, int nSymbols) {
    std::string pattern;
    pattern.reserve(static_cast<std::size_t>(nLines) * 200);
    char symbol[32], bid[32], offer[32];
    for (int i = 0; i < nLines; ++i) {
        std::snprintf(symbol, sizeof symbol, "S%04d/USD", i % nSymbols);
        const double price = 1.0 + (i % 9973) * 0.00001;
        std::snprintf(bid, sizeof bid, "%.5f", price);
        std::snprintf(offer, sizeof offer, "%.5f", price + 0.0002);
        pattern += QuoteLine(vantrel::test::SnapshotMessage(
            symbol, {{"0", bid, std::to_string(1000000 + i % 7 * 100000)}, {"1", offer, "2500000"}}));
    }
    return pattern;
}

void RunIngest(int rounds) {
    constexpr int kDistinct = 100000;
    constexpr int kRepeats = 10;  // 1,000,000 lines a round
    constexpr uint64_t kLines = static_cast<uint64_t>(kDistinct) * kRepeats;
    const std::string pattern = IngestPattern(kDistinct, 1000);
    std::printf("  %llu lines a round, %.0f bytes a line\n", static_cast<unsigned long long>(kLines),
                static_cast<double>(pattern.size()) / kDistinct);

    std::atomic<int64_t> startNs{0};
    LoopbackServer server([&](int fd) {
        startNs.store(NowNs());
        for (int r = 0; r < kRepeats; ++r) {
            if (!SendAll(fd, pattern)) return;
        }
    });

    std::vector<double> rates, cpuPerLine;
    for (int round = 0; round < rounds; ++round) {
        vantrel::QuotesFeedStats& stats = vantrel::GetQuotesFeedStats();
        const uint64_t nStoredBefore = stats.nStored.load();
        const uint64_t nSkippedBefore = stats.nSkipped.load();
        const std::set<int> tasksBefore = TaskIds();
        OpenSession(server);
        const std::vector<int> libraryThreads = NewTasks(tasksBefore);
        const int64_t cpuBefore = ThreadsCpuNs(libraryThreads);
        if (!WaitForStored(nStoredBefore + kLines, std::chrono::seconds(120))) {
            Abort("ingest: the lines were not all stored within 120 s");
        }
        const int64_t endNs = NowNs();
        const int64_t cpuNs = ThreadsCpuNs(libraryThreads) - cpuBefore;
        CloseSession();
        if (stats.nSkipped.load() != nSkippedBefore) Abort("ingest: lines were rejected");
        const double seconds = static_cast<double>(endNs - startNs.load()) / 1e9;
        rates.push_back(static_cast<double>(kLines) / seconds);
        cpuPerLine.push_back(static_cast<double>(cpuNs) / static_cast<double>(kLines));
    }
    PrintRounds("ingest lines/s", rates, " %.0f");
    PrintRounds("quotes thread CPU ns/line", cpuPerLine, " %.0f");
    const double rate = Median(rates);
    PrintFigure("ingest", rate, "%.0f", "lines/s", ">= 500000", rate >= 500000);
}

// ---- staleness ------------------------------------------------------------

// The first query of the process also loads the FIX dictionary, once; it is
// timed here so that the staleness rounds measure the steady state.
void TimeFirstQuery() {
    const std::string line = QuoteLine(
        vantrel::test::SnapshotMessage("EUR/USD", {{"0", "1.10005", "1500000"}, {"1", "1.10025", "2000000"}}));
    LoopbackServer server([&](int fd) { SendAll(fd, line); });
    const uint64_t nStoredBefore = vantrel::GetQuotesFeedStats().nStored.load();
    OpenSession(server);
    if (!WaitForStored(nStoredBefore + 1, std::chrono::seconds(10))) Abort("staleness: no quote stored");
    char symbol[16] = "EUR/USD";
    double bidPx[2], bidSize[2], offerPx[2], offerSize[2];
    int nBids = 2, nOffers = 2;
    const auto start = Clock::now();
    const int rc = GetLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize);
    const auto end = Clock::now();
    CloseSession();
    if (rc != 1) Abort("staleness: the first query returned " + std::to_string(rc));
    std::printf("  first query of the process: %.3f ms (it loads the FIX dictionary)\n",
                std::chrono::duration<double, std::milli>(end - start).count());
}

void RunStaleness(int rounds) {
    TimeFirstQuery();
    constexpr int kRate = 10000;
    constexpr int kSeconds = 2;
    constexpr int kQuotes = kRate * kSeconds;
    // Quote k carries k as its bid price, so the poller knows which one it sees.
    std::vector<std::string> lines;
    lines.reserve(kQuotes);
    for (int k = 0; k < kQuotes; ++k) {
        lines.push_back(QuoteLine(vantrel::test::SnapshotMessage(
            "EUR/USD", {{"0", std::to_string(k), "1000000"}, {"1", std::to_string(k) + ".5", "1000000"}})));
    }
    std::unique_ptr<std::atomic<int64_t>[]> sentNs(new std::atomic<int64_t>[kQuotes]);

    LoopbackServer server([&](int fd) {
        const auto start = Clock::now() + std::chrono::milliseconds(20);
        const auto interval = std::chrono::nanoseconds(1000000000 / kRate);
        for (int k = 0; k < kQuotes; ++k) {
            std::this_thread::sleep_until(start + k * interval);
            sentNs[k].store(NowNs());
            if (!SendAll(fd, lines[k])) return;
        }
    });

    std::vector<double> p50s, p99s, maxima;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < kQuotes; ++k) sentNs[k].store(0);
        const OtherLoad otherLoad;
        OpenSession(server);
        // Every quote counts: one that was replaced before a query returned
        // it is as stale as the time until a query returned a newer one.
        std::vector<double> latenciesUs;
        latenciesUs.reserve(kQuotes);
        int last = -1;
        int nReplaced = 0;
        char symbol[16] = "EUR/USD";
        double bidPx[4], bidSize[4], offerPx[4], offerSize[4];
        const auto deadline = Clock::now() + std::chrono::seconds(kSeconds + 10);
        while (last < kQuotes - 1 && Clock::now() < deadline) {
            int nBids = 4, nOffers = 4;
            if (GetLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize) != 1) continue;
            const int seq = static_cast<int>(bidPx[0]);
            if (seq <= last) continue;
            const int64_t now = NowNs();
            for (int k = last + 1; k <= seq; ++k) {
                latenciesUs.push_back(static_cast<double>(now - sentNs[k].load()) / 1000.0);
            }
            nReplaced += seq - last - 1;
            last = seq;
        }
        CloseSession();
        const double otherCores = otherLoad.Cores();
        if (last < kQuotes - 1) Abort("staleness: the last quote never arrived");
        std::sort(latenciesUs.begin(), latenciesUs.end());
        p50s.push_back(Quantile(latenciesUs, 0.50));
        p99s.push_back(Quantile(latenciesUs, 0.99));
        maxima.push_back(latenciesUs.back());
        std::printf("  staleness round %d: %zu quotes, %d replaced before a query returned them; "
                    "p50 %.1f us, p99 %.1f us, max %.1f us; other processes used %.2f cores\n",
                    round + 1, latenciesUs.size(), nReplaced, p50s.back(), p99s.back(), maxima.back(),
                    otherCores);
    }
    std::printf("staleness p50: %.1f us\n", Median(p50s));
    const double p99 = Median(p99s);
    PrintFigure("staleness p99", p99, "%.1f", "us", "< 1000", p99 < 1000);
    std::printf("staleness max: %.1f us (median of the rounds' maxima)\n", Median(maxima));
}

// ---- queries --------------------------------------------------------------

struct QueryFigures {
    double callsPerSecond = 0;
    double coresUsed = 0;  // CPU time of the calling threads over wall time
};

int64_t ThisThreadCpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// GetLastQuotes calls per second, `nThreads` threads calling for `duration`.
QueryFigures QueryRate(int nThreads, std::chrono::milliseconds duration) {
    std::atomic<bool> bGo{false}, bStop{false};
    std::atomic<int> nReady{0};
    std::atomic<long long> nCalls{0}, nBad{0}, nCpuNs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([&] {
            char symbol[16] = "EUR/USD";
            double bidPx[2], bidSize[2], offerPx[2], offerSize[2];
            long long calls = 0, bad = 0;
            nReady.fetch_add(1);
            while (!bGo.load()) {
            }
            const int64_t cpuStart = ThisThreadCpuNs();
            while (!bStop.load(std::memory_order_relaxed)) {
                int nBids = 2, nOffers = 2;
                if (GetLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize) != 1 ||
                    bidPx[0] != 1.10005) {
                    ++bad;
                }
                ++calls;
            }
            nCpuNs.fetch_add(ThisThreadCpuNs() - cpuStart);
            nCalls.fetch_add(calls);
            nBad.fetch_add(bad);
        });
    }
    while (nReady.load() < nThreads) std::this_thread::yield();
    const auto start = Clock::now();
    bGo.store(true);
    std::this_thread::sleep_for(duration);
    bStop.store(true);
    const auto end = Clock::now();
    for (std::thread& thread : threads) thread.join();
    if (nBad.load() != 0) Abort("queries: a query did not return the stored quote");
    const double seconds = std::chrono::duration<double>(end - start).count();
    return {static_cast<double>(nCalls.load()) / seconds, static_cast<double>(nCpuNs.load()) / 1e9 / seconds};
}

void RunQueries(int rounds) {
    const std::string line = QuoteLine(
        vantrel::test::SnapshotMessage("EUR/USD", {{"0", "1.10005", "1500000"}, {"1", "1.10025", "2000000"}}));
    LoopbackServer server([&](int fd) { SendAll(fd, line); });
    const uint64_t nStoredBefore = vantrel::GetQuotesFeedStats().nStored.load();
    OpenSession(server);
    if (!WaitForStored(nStoredBefore + 1, std::chrono::seconds(10))) Abort("queries: no quote stored");
    QueryRate(1, std::chrono::milliseconds(200));  // warm-up
    std::vector<double> one, two, ratios, coresOne, coresTwo, otherTwo;
    for (int round = 0; round < rounds; ++round) {
        const QueryFigures single = QueryRate(1, std::chrono::milliseconds(1000));
        const OtherLoad otherLoad;
        const QueryFigures dual = QueryRate(2, std::chrono::milliseconds(1000));
        otherTwo.push_back(otherLoad.Cores());
        one.push_back(single.callsPerSecond);
        two.push_back(dual.callsPerSecond);
        coresOne.push_back(single.coresUsed);
        coresTwo.push_back(dual.coresUsed);
        ratios.push_back(two.back() / one.back());
    }
    CloseSession();
    PrintRounds("1 thread calls/s", one, " %.0f");
    PrintRounds("1 thread cores used", coresOne, " %.2f");
    PrintRounds("2 threads calls/s", two, " %.0f");
    // Below 2 cores used, other work on the machine took the difference.
    PrintRounds("2 threads cores used", coresTwo, " %.2f");
    PrintRounds("2 threads, cores other processes used", otherTwo, " %.2f");
    const double single = Median(one);
    const double dual = Median(two);
    PrintFigure("queries 1 thread", single, "%.0f", "calls/s", ">= 250000", single >= 250000);
    PrintFigure("queries 2 threads", dual, "%.0f", "calls/s", ">= 1.6 x 1 thread", dual >= 1.6 * single);
    std::printf("queries ratio: %.2f (median of the rounds' ratios %.2f)\n", dual / single, Median(ratios));
}

// ---- login ----------------------------------------------------------------

void RunLogin(int cycles) {
    LoopbackServer server(nullptr);
    auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    // The first cycle also creates the log file and loads what the library
    // needs on first use: reported apart.
    const auto t0 = Clock::now();
    OpenSession(server);
    const auto t1 = Clock::now();
    CloseSession();
    const auto t2 = Clock::now();
    std::printf("  first cycle: Login %.3f ms, Logoff %.3f ms\n", ms(t0, t1), ms(t1, t2));
    std::vector<double> logins, logoffs;
    for (int i = 0; i < cycles; ++i) {
        const auto a = Clock::now();
        OpenSession(server);
        const auto b = Clock::now();
        CloseSession();
        const auto c = Clock::now();
        logins.push_back(ms(a, b));
        logoffs.push_back(ms(b, c));
    }
    const double loginMax = *std::max_element(logins.begin(), logins.end());
    const double logoffMax = *std::max_element(logoffs.begin(), logoffs.end());
    std::printf("  over %d cycles\n", cycles);
    PrintFigure("login median", Median(logins), "%.3f", "ms", "< 10", Median(logins) < 10);
    PrintFigure("login max", loginMax, "%.3f", "ms", "< 10", loginMax < 10);
    PrintFigure("logoff median", Median(logoffs), "%.3f", "ms", "< 10", Median(logoffs) < 10);
    PrintFigure("logoff max", logoffMax, "%.3f", "ms", "< 10", logoffMax < 10);
}

// ---- idle -----------------------------------------------------------------

void RunIdle(int seconds) {
    LoopbackServer server(nullptr);
    const std::set<int> tasksBefore = TaskIds();
    OpenSession(server);
    const std::vector<int> libraryThreads = NewTasks(tasksBefore);
    if (libraryThreads.empty()) Abort("idle: the quotes thread was not found");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t threadBefore = ThreadsCpuNs(libraryThreads);
    const int64_t processBefore = ProcessCpuNs();
    const int64_t wallBefore = NowNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int64_t wall = NowNs() - wallBefore;
    const double threadShare = 100.0 * static_cast<double>(ThreadsCpuNs(libraryThreads) - threadBefore) / wall;
    const double processShare = 100.0 * static_cast<double>(ProcessCpuNs() - processBefore) / wall;
    CloseSession();
    std::printf("  %d s idle, %zu library thread(s)\n", seconds, libraryThreads.size());
    PrintFigure("idle CPU, quotes thread", threadShare, "%.4f", "% of a core", "< 1", threadShare < 1);
    PrintFigure("idle CPU, whole process", processShare, "%.4f", "% of a core", "< 1", processShare < 1);
}

// ---- main -----------------------------------------------------------------

// The library's log goes to a fresh temporary directory unless the caller
// chose one; that directory is removed at the end.
std::string PrepareLogDirectory() {
    const char* chosen = std::getenv("VANTREL_LOG_DIR");
    if (chosen != nullptr && chosen[0] != '\0') return "";
    char pattern[] = "/tmp/vantrel-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Abort("cannot create a log directory");
    ::setenv("VANTREL_LOG_DIR", pattern, 1);
    return pattern;
}

int Usage() {
    std::fprintf(stderr, "usage: session_bench [ingest|staleness|queries|login|idle|all] [--rounds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = "all";
    int rounds = 0;  // 0: each figure's default
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
            if (rounds < 1) return Usage();
        } else if (arg[0] != '-') {
            what = arg;
        } else {
            return Usage();
        }
    }
    const std::vector<std::pair<std::string, std::function<void()>>> figures = {
        {"ingest", [&] { RunIngest(rounds ? rounds : 5); }},
        {"staleness", [&] { RunStaleness(rounds ? rounds : 3); }},
        {"queries", [&] { RunQueries(rounds ? rounds : 5); }},
        {"login", [&] { RunLogin(50); }},
        {"idle", [&] { RunIdle(5); }},
    };
    bool bKnown = what == "all";
    for (const auto& figure : figures) bKnown = bKnown || figure.first == what;
    if (!bKnown) return Usage();

    const std::string logDirectory = PrepareLogDirectory();
    for (const auto& figure : figures) {
        if (what == "all" || what == figure.first) figure.second();
    }
    if (!logDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(logDirectory, ignored);
    }
    return 0;
}
