// Figures of whole client sessions on loopback, for the library and for the
// reference client (bench/ReferenceClient.h: the quotes client as first
// designed), each against a quotes server running on a thread of this
// program.
//
//   session_bench [FIGURE...] [--client library|reference|both] [--rounds N]
//                 [--symbols N] [--entries N] [--quick]
//
// FIGURE (default: every one but memory):
//   ingest     quote lines per second from the server into the store with 2,
//              4 and 10 entries per message; and the floor, a bare QuickFIX
//              parse of the same payloads in memory
//   staleness  time from the server writing a quote to GetLastQuotes first
//              returning it (or a newer one, when it was replaced before a
//              query saw it) at 1,000, 10,000 and 100,000 quotes per second
//   queries    GetLastQuotes and GetLastNQuotes calls per second on 1 and 2
//              threads, on an unchanged message and on one that changes
//              10,000 times a second; and the time of one query of a message
//              that changed since the last query
//   login      Login and Logoff latency
//   idle       CPU used by a session that receives nothing
//   memory     resident memory per stored symbol (--symbols N, default
//              1000; --entries N per message, default 2), after storing and
//              after one query of each, and the heap bytes in use likewise;
//              run it in a process of its own, so that nothing else has
//              touched the heap
//
// --rounds sets the library's rounds of ingest, staleness and queries (the
// reference client, a hundred times slower in places, runs one shorter
// round); --quick shrinks every figure to a smoke run of a few seconds.
//
// Every figure is printed as one tab-separated line
//   RESULT <figure> <client> <parameter> <value> <unit>
// which scripts/bench.sh gathers into its table; other lines are commentary
// (the rounds, and how many cores other processes took meanwhile).
#include <dirent.h>
#include <malloc.h>
#include <sys/prctl.h>
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

#include "bench/BareParse.h"
#include "bench/BenchMessages.h"
#include "bench/LoopbackServer.h"
#include "bench/ReferenceClient.h"
#include "feed/QuotesContainer.h"
#include "feed/QuotesThread.h"
#include "fix/QuoteDecoding.h"
#include "vantrel/vantrel.h"

namespace {

using vantrel::bench::LoopbackServer;
using vantrel::bench::NumberedPayload;
using vantrel::bench::QuoteLine;
using vantrel::bench::SendAll;
using Clock = std::chrono::steady_clock;

// ---- the two clients --------------------------------------------------------

struct Client {
    const char* name;
    bool bReference;
    int (*login)(const char*, int, const char*, const char*);
    int (*logoff)();
    int (*getLastQuotes)(char*, int*, double*, double*, int*, double*, double*);
    int (*getLastNQuotes)(char*, int, double*, double*, double*, double*);
    uint64_t (*stored)();
    bool (*setQuotes)(const std::string&);  // stores as the quotes thread would
};

uint64_t LibraryStored() { return vantrel::GetQuotesFeedStats().nStored.load(); }

bool LibrarySetQuotes(const std::string& payload) {
    try {
        return vantrel::GetQuotesContainer().SetQuotes(payload);
    } catch (...) {
        return false;
    }
}

bool ReferenceSetQuotes(const std::string& payload) { return vantrel::bench::reference::SetQuotes(payload.c_str()); }

const Client kLibrary = {"library", false, ::Login, ::Logoff, ::GetLastQuotes, ::GetLastNQuotes, LibraryStored,
                         LibrarySetQuotes};
const Client kReference = {"reference", true, vantrel::bench::reference::Login,
                           vantrel::bench::reference::Logoff, vantrel::bench::reference::GetLastQuotes,
                           vantrel::bench::reference::GetLastNQuotes, vantrel::bench::reference::StoredCount,
                           ReferenceSetQuotes};

bool g_bQuick = false;

// ---- helpers ----------------------------------------------------------------

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

void PrintRounds(const Client& client, const std::string& what, const std::vector<double>& values,
                 const char* format) {
    std::printf("  %s, %s rounds:", client.name, what.c_str());
    for (double v : values) std::printf(format, v);
    std::printf("\n");
}

void Result(const char* figure, const Client& client, const std::string& parameter, double value,
            const char* unit) {
    std::printf("RESULT\t%s\t%s\t%s\t%.6g\t%s\n", figure, client.name, parameter.c_str(), value, unit);
    std::fflush(stdout);
}

[[noreturn]] void Abort(const std::string& why) {
    std::fprintf(stderr, "session_bench: %s\n", why.c_str());
    std::exit(1);
}

void OpenSession(const Client& client, const LoopbackServer& server) {
    const int rc = client.login("127.0.0.1", server.port(), "bench", "bench-password");
    if (rc != 1) Abort(std::string(client.name) + ": Login returned " + std::to_string(rc));
}

void CloseSession(const Client& client) {
    if (client.logoff() != 1) Abort(std::string(client.name) + ": Logoff did not count a session off");
}

// Waits, sleeping in short steps, until `n` payloads in all have been stored.
// False when `timeout` passes first.
bool WaitForStored(const Client& client, uint64_t n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (client.stored() < n) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Sleeps end within a few microseconds of the time asked for, so that a
// server thread paces its quotes evenly.
void PreciseSleeps() { ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

// ---- threads and CPU time ---------------------------------------------------

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

// The threads that appeared since `before` (the client's quotes thread, when
// taken around a Login).
std::vector<int> NewTasks(const std::set<int>& before) {
    std::vector<int> ids;
    for (int id : TaskIds()) {
        if (!before.count(id)) ids.push_back(id);
    }
    return ids;
}

// CPU time of one thread of this process in nanoseconds, from the scheduler's
// run time.
int64_t ThreadCpuNs(int tid) {
    std::ifstream schedstat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    long long ns = 0;
    return schedstat >> ns ? ns : 0;
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

int64_t ThisThreadCpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
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

// How many cores other processes kept busy over an interval: staleness and
// two query threads need both cores of a 2-core machine, so a busy machine
// explains a low figure there.
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

// Resident memory of this process in bytes.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Heap bytes in use, over every malloc arena: unlike resident memory, not
// blurred by pages the heap already held.
double HeapBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// ---- ingest -----------------------------------------------------------------

void RunIngest(const Client& client, int rounds) {
    for (const int nEntries : {2, 4, 10}) {
        // The reference client reads a byte per receive: a short round.
        const int nDistinct = g_bQuick ? 2000 : client.bReference ? 20000 : 100000;
        const int nRepeats = g_bQuick || client.bReference ? 1 : 10;
        const uint64_t nLines = static_cast<uint64_t>(nDistinct) * static_cast<uint64_t>(nRepeats);
        const std::vector<std::string> payloads = vantrel::bench::SnapshotPayloads(nDistinct, 1000, nEntries);
        std::string pattern;
        for (const std::string& payload : payloads) pattern += QuoteLine(payload);
        std::printf("  %s, %d entries: %llu lines a round, %.0f bytes a line\n", client.name, nEntries,
                    static_cast<unsigned long long>(nLines), static_cast<double>(pattern.size()) / nDistinct);

        std::atomic<int64_t> startNs{0};
        LoopbackServer server([&](int fd) {
            startNs.store(NowNs());
            for (int r = 0; r < nRepeats; ++r) {
                if (!SendAll(fd, pattern)) return;
            }
        });
        std::vector<double> rates, cpuPerLine;
        for (int round = 0; round < (client.bReference ? 1 : rounds); ++round) {
            const uint64_t nStoredBefore = client.stored();
            const std::set<int> tasksBefore = TaskIds();
            OpenSession(client, server);
            const std::vector<int> clientThreads = NewTasks(tasksBefore);
            const int64_t cpuBefore = ThreadsCpuNs(clientThreads);
            if (!WaitForStored(client, nStoredBefore + nLines, std::chrono::seconds(300))) {
                Abort("ingest: the lines were not all stored within 300 s");
            }
            const int64_t endNs = NowNs();
            const int64_t cpuNs = ThreadsCpuNs(clientThreads) - cpuBefore;
            CloseSession(client);
            rates.push_back(static_cast<double>(nLines) / (static_cast<double>(endNs - startNs.load()) / 1e9));
            cpuPerLine.push_back(static_cast<double>(cpuNs) / static_cast<double>(nLines));
        }
        const std::string parameter = "entries=" + std::to_string(nEntries);
        PrintRounds(client, parameter + " lines/s", rates, " %.0f");
        PrintRounds(client, parameter + " quotes thread CPU ns/line", cpuPerLine, " %.0f");
        Result("ingest", client, parameter, Median(rates), "lines/s");

        if (!client.bReference) {
            const Client floor = {"floor", false, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
            std::vector<double> floorRates;
            for (int round = 0; round < rounds; ++round) {
                floorRates.push_back(vantrel::bench::BareParsePerSecond(payloads, g_bQuick ? 1 : 5));
            }
            PrintRounds(floor, parameter + " bare parses/s", floorRates, " %.0f");
            Result("ingest", floor, parameter, Median(floorRates), "lines/s");
        }
    }
}

// ---- staleness --------------------------------------------------------------

void RunStalenessAt(const Client& client, int rate, int rounds) {
    // The reference client falls behind at high rates; its run is kept short
    // so that it ends, and its figures then show how far behind it fell.
    double seconds = rate >= 100000 ? 1.0 : 2.0;
    if (client.bReference) seconds = rate >= 100000 ? 0.2 : rate >= 10000 ? 1.0 : 2.0;
    if (g_bQuick) seconds = 0.2;
    const int nQuotes = static_cast<int>(rate * seconds);
    // Quote k carries k as its bid price, so the poller knows which one it sees.
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(nQuotes));
    for (int k = 0; k < nQuotes; ++k) lines.push_back(QuoteLine(NumberedPayload("EUR/USD", k)));
    std::unique_ptr<std::atomic<int64_t>[]> sentNs(new std::atomic<int64_t>[static_cast<std::size_t>(nQuotes)]);

    // The stream starts once Login has returned and the poller runs.
    std::atomic<bool> bPolling{false};
    LoopbackServer server([&](int fd) {
        PreciseSleeps();
        while (!bPolling.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = Clock::now() + std::chrono::milliseconds(20);
        const auto interval = std::chrono::nanoseconds(1000000000 / rate);
        for (int k = 0; k < nQuotes; ++k) {
            std::this_thread::sleep_until(start + k * interval);
            sentNs[k].store(NowNs());
            if (!SendAll(fd, lines[static_cast<std::size_t>(k)])) return;
        }
    });

    std::vector<double> latenciesUs;  // every round's, pooled
    for (int round = 0; round < (client.bReference ? 1 : rounds); ++round) {
        for (int k = 0; k < nQuotes; ++k) sentNs[k].store(0);
        const OtherLoad otherLoad;
        bPolling.store(false);
        OpenSession(client, server);
        bPolling.store(true);
        // Every quote counts: one that was replaced before a query returned
        // it is as stale as the time until a query returned a newer one.
        int last = -1;
        int nReplaced = 0;
        const std::size_t nBefore = latenciesUs.size();
        char symbol[16] = "EUR/USD";
        double bidPx[4], bidSize[4], offerPx[4], offerSize[4];
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds + 60);
        while (last < nQuotes - 1 && Clock::now() < deadline) {
            int nBids = 4, nOffers = 4;
            if (client.getLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize) != 1) continue;
            const int seq = static_cast<int>(bidPx[0]);
            if (seq <= last) continue;
            const int64_t now = NowNs();
            for (int k = last + 1; k <= seq; ++k) {
                latenciesUs.push_back(static_cast<double>(now - sentNs[k].load()) / 1000.0);
            }
            nReplaced += seq - last - 1;
            last = seq;
        }
        CloseSession(client);
        if (last < nQuotes - 1) Abort("staleness: the last quote never arrived");
        std::vector<double> round_(latenciesUs.begin() + static_cast<std::ptrdiff_t>(nBefore), latenciesUs.end());
        std::sort(round_.begin(), round_.end());
        std::printf("  %s, %d quotes/s, round %d: %d quotes, %d replaced before a query returned them; "
                    "p50 %.1f us, p99 %.1f us, max %.1f us; other processes used %.2f cores\n",
                    client.name, rate, round + 1, nQuotes, nReplaced, Quantile(round_, 0.5),
                    Quantile(round_, 0.99), round_.back(), otherLoad.Cores());
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    const std::string parameter = "rate=" + std::to_string(rate);
    Result("staleness_p50", client, parameter, Quantile(latenciesUs, 0.50), "us");
    Result("staleness_p99", client, parameter, Quantile(latenciesUs, 0.99), "us");
    Result("staleness_p99.9", client, parameter, Quantile(latenciesUs, 0.999), "us");
}

void RunStaleness(const Client& client, int rounds) {
    for (const int rate : {1000, 10000, 100000}) RunStalenessAt(client, rate, rounds);
}

// ---- queries ----------------------------------------------------------------

struct QueryFigures {
    double callsPerSecond = 0;
    double coresUsed = 0;  // CPU time of the calling threads over wall time
};

// Calls per second of one query function, `nThreads` threads calling for
// `duration`, for EUR/USD or, with `bAnySymbol`, for the empty symbol (which
// finds EUR/USD, the only one stored). Every answer must be one whole stored
// message.
QueryFigures QueryRate(const Client& client, bool bLastN, int nThreads, std::chrono::milliseconds duration,
                       bool bAnySymbol = false) {
    std::atomic<bool> bGo{false}, bStop{false};
    std::atomic<int> nReady{0};
    std::atomic<long long> nCalls{0}, nBad{0}, nCpuNs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([&] {
            char symbol[16];
            double bidPx[2], bidSize[2], offerPx[2], offerSize[2];
            long long calls = 0, bad = 0;
            nReady.fetch_add(1);
            while (!bGo.load()) {
            }
            const int64_t cpuStart = ThisThreadCpuNs();
            while (!bStop.load(std::memory_order_relaxed)) {
                std::strcpy(symbol, bAnySymbol ? "" : "EUR/USD");
                int nBids = 2, nOffers = 2;
                const int rc = bLastN ? client.getLastNQuotes(symbol, 2, bidPx, bidSize, offerPx, offerSize)
                                      : client.getLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx,
                                                             offerSize);
                if (rc != 1 || offerPx[0] != bidPx[0] + 0.5) ++bad;
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
    if (nBad.load() != 0) Abort("queries: a query did not return one whole stored quote");
    const double seconds = std::chrono::duration<double>(end - start).count();
    return {static_cast<double>(nCalls.load()) / seconds, static_cast<double>(nCpuNs.load()) / 1e9 / seconds};
}

// Nanoseconds of one GetLastQuotes of a message stored just before it, so
// that every call finds a message no query has seen: the median of many.
double ChangedQueryNs(const Client& client, int nCalls) {
    std::vector<std::string> payloads;
    for (int k = 0; k < 64; ++k) payloads.push_back(NumberedPayload("EUR/USD", 1000 + k));
    std::vector<double> ns;
    ns.reserve(static_cast<std::size_t>(nCalls));
    char symbol[16] = "EUR/USD";
    double bidPx[2], bidSize[2], offerPx[2], offerSize[2];
    for (int i = 0; i < nCalls; ++i) {
        if (!client.setQuotes(payloads[static_cast<std::size_t>(i) % payloads.size()])) {
            Abort("queries: could not store a message");
        }
        int nBids = 2, nOffers = 2;
        const int64_t start = NowNs();
        const int rc = client.getLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize);
        const int64_t end = NowNs();
        if (rc != 1 || bidPx[0] != 1000 + i % 64) Abort("queries: a changed message was not returned");
        ns.push_back(static_cast<double>(end - start));
    }
    return Median(ns);
}

void RunQueries(const Client& client, int rounds) {
    const auto duration = std::chrono::milliseconds(g_bQuick ? 100 : client.bReference ? 500 : 1000);
    const int nRounds = client.bReference ? 1 : rounds;
    for (const bool bChanging : {false, true}) {
        // Changing: a new quote 10,000 times a second for as long as the
        // session lasts.
        std::atomic<bool> bFeedStop{false};
        LoopbackServer server([&](int fd) {
            PreciseSleeps();
            if (!bChanging) {
                SendAll(fd, QuoteLine(NumberedPayload("EUR/USD", 1)));
                return;
            }
            const auto start = Clock::now();
            for (int k = 1; !bFeedStop.load(); ++k) {
                std::this_thread::sleep_until(start + k * std::chrono::microseconds(100));
                if (!SendAll(fd, QuoteLine(NumberedPayload("EUR/USD", k)))) return;
            }
        });
        const uint64_t nStoredBefore = client.stored();
        OpenSession(client, server);
        if (!WaitForStored(client, nStoredBefore + 1, std::chrono::seconds(10))) Abort("queries: no quote stored");
        const char* message = bChanging ? "changing" : "unchanged";
        QueryRate(client, false, 1, std::chrono::milliseconds(100));  // warm-up
        for (const bool bLastN : {false, true}) {
            const char* function = bLastN ? "GetLastNQuotes" : "GetLastQuotes";
            // Calls per second of CPU time tell contention between the
            // threads apart from cores taken by other processes.
            std::vector<double> one, two, perCpuOne, perCpuTwo, coresTwo, otherTwo;
            for (int round = 0; round < nRounds; ++round) {
                const QueryFigures single = QueryRate(client, bLastN, 1, duration);
                const OtherLoad otherLoad;
                const QueryFigures dual = QueryRate(client, bLastN, 2, duration);
                otherTwo.push_back(otherLoad.Cores());
                one.push_back(single.callsPerSecond);
                two.push_back(dual.callsPerSecond);
                perCpuOne.push_back(single.callsPerSecond / std::max(single.coresUsed, 1e-9));
                perCpuTwo.push_back(dual.callsPerSecond / std::max(dual.coresUsed, 1e-9));
                coresTwo.push_back(dual.coresUsed);
            }
            const std::string what = std::string(function) + ", " + message + " message";
            PrintRounds(client, what + ", 1 thread calls/s", one, " %.0f");
            PrintRounds(client, what + ", 2 threads calls/s", two, " %.0f");
            PrintRounds(client, what + ", 1 thread calls per CPU-second", perCpuOne, " %.0f");
            PrintRounds(client, what + ", 2 threads calls per CPU-second", perCpuTwo, " %.0f");
            // Below 2 cores used, other work on the machine took the rest.
            PrintRounds(client, what + ", 2 threads cores used", coresTwo, " %.2f");
            PrintRounds(client, what + ", 2 threads, cores other processes used", otherTwo, " %.2f");
            const std::string parameter = std::string("fn=") + function + ",message=" + message;
            Result("query_rate", client, parameter + ",threads=1", Median(one), "calls/s");
            Result("query_rate", client, parameter + ",threads=2", Median(two), "calls/s");
            Result("query_rate_per_cpu", client, parameter + ",threads=1", Median(perCpuOne), "calls/cpu-s");
            Result("query_rate_per_cpu", client, parameter + ",threads=2", Median(perCpuTwo), "calls/cpu-s");
        }
        bFeedStop.store(true);
        if (!bChanging) {
            std::vector<double> any;
            for (int round = 0; round < nRounds; ++round) {
                any.push_back(QueryRate(client, false, 1, duration, true).callsPerSecond);
            }
            PrintRounds(client, "GetLastQuotes, any symbol, 1 thread calls/s", any, " %.0f");
            Result("query_rate", client, "fn=GetLastQuotes,message=unchanged,symbol=any,threads=1", Median(any),
                   "calls/s");
            const int nCalls = g_bQuick ? 500 : client.bReference ? 5000 : 20000;
            Result("query_changed", client, "fn=GetLastQuotes", ChangedQueryNs(client, nCalls), "ns");
        }
        CloseSession(client);
    }
}

// ---- login ------------------------------------------------------------------

void RunLogin(const Client& client) {
    LoopbackServer server(nullptr);
    auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    // The first cycle also creates the log file and loads what the library
    // needs on first use: reported apart.
    const auto t0 = Clock::now();
    OpenSession(client, server);
    const auto t1 = Clock::now();
    CloseSession(client);
    const auto t2 = Clock::now();
    std::printf("  %s, first cycle: Login %.3f ms, Logoff %.3f ms\n", client.name, ms(t0, t1), ms(t1, t2));
    const int cycles = g_bQuick ? 3 : client.bReference ? 2 : 50;
    std::vector<double> logins, logoffs;
    for (int i = 0; i < cycles; ++i) {
        const auto a = Clock::now();
        OpenSession(client, server);
        const auto b = Clock::now();
        CloseSession(client);
        const auto c = Clock::now();
        logins.push_back(ms(a, b));
        logoffs.push_back(ms(b, c));
    }
    std::printf("  %s, over %d cycles: Login max %.3f ms, Logoff max %.3f ms\n", client.name, cycles,
                *std::max_element(logins.begin(), logins.end()), *std::max_element(logoffs.begin(), logoffs.end()));
    Result("login", client, "median", Median(logins), "ms");
    Result("logoff", client, "median", Median(logoffs), "ms");
}

// ---- idle -------------------------------------------------------------------

void RunIdle(const Client& client) {
    const int seconds = g_bQuick ? 1 : client.bReference ? 3 : 5;
    LoopbackServer server(nullptr);
    const std::set<int> tasksBefore = TaskIds();
    OpenSession(client, server);
    const std::vector<int> clientThreads = NewTasks(tasksBefore);
    if (clientThreads.empty()) Abort("idle: the quotes thread was not found");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t threadBefore = ThreadsCpuNs(clientThreads);
    const int64_t wallBefore = NowNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int64_t wall = NowNs() - wallBefore;
    const double share = 100.0 * static_cast<double>(ThreadsCpuNs(clientThreads) - threadBefore) / wall;
    CloseSession(client);
    std::printf("  %s, %d s idle, %zu client thread(s)\n", client.name, seconds, clientThreads.size());
    Result("idle_cpu", client, "quotes thread", share, "% of a core");
}

// ---- memory -----------------------------------------------------------------

void RunMemory(const Client& client, int nSymbols, int nEntries) {
    // A first session loads what every session needs (the FIX dictionary, the
    // log, the thread's stack) before the measured one.
    {
        LoopbackServer server([](int fd) { SendAll(fd, QuoteLine(NumberedPayload("EUR/USD", 1))); });
        const uint64_t nBefore = client.stored();
        OpenSession(client, server);
        if (!WaitForStored(client, nBefore + 1, std::chrono::seconds(10))) Abort("memory: no quote stored");
        char symbol[16] = "EUR/USD";
        double values[8];
        int nBids = 2, nOffers = 2;
        client.getLastQuotes(symbol, &nBids, values, values + 2, &nOffers, values + 4, values + 6);
        CloseSession(client);
    }
    const std::vector<std::string> payloads = vantrel::bench::SnapshotPayloads(nSymbols, nSymbols, nEntries);
    std::string pattern;
    for (const std::string& payload : payloads) pattern += QuoteLine(payload);
    std::vector<std::string> symbols;
    for (const std::string& payload : payloads) symbols.push_back(vantrel::fix::SymbolOfPayload(payload));
    LoopbackServer server([&](int fd) { SendAll(fd, pattern); });

    const double before = ResidentBytes();
    const double heapBefore = HeapBytes();
    const uint64_t nBefore = client.stored();
    OpenSession(client, server);
    if (!WaitForStored(client, nBefore + static_cast<uint64_t>(nSymbols), std::chrono::seconds(300))) {
        Abort("memory: the symbols were not all stored within 300 s");
    }
    const double stored = ResidentBytes();
    const double heapStored = HeapBytes();
    for (std::string symbol : symbols) {
        double values[8];
        int nBids = 2, nOffers = 2;
        if (client.getLastQuotes(&symbol[0], &nBids, values, values + 2, &nOffers, values + 4, values + 6) != 1) {
            Abort("memory: a stored symbol was not found");
        }
    }
    const double queried = ResidentBytes();
    const double heapQueried = HeapBytes();
    CloseSession(client);
    std::printf("  %s, %d symbols, messages of %zu bytes: resident %.0f kB before, %.0f kB stored, %.0f kB after "
                "one query each\n",
                client.name, nSymbols, payloads.front().size(), before / 1024, stored / 1024, queried / 1024);
    const std::string parameter =
        "symbols=" + std::to_string(nSymbols) + (nEntries != 2 ? ",entries=" + std::to_string(nEntries) : "");
    Result("memory_stored", client, parameter, (stored - before) / nSymbols, "bytes/symbol");
    Result("memory_queried", client, parameter, (queried - before) / nSymbols, "bytes/symbol");
    Result("heap_stored", client, parameter, (heapStored - heapBefore) / nSymbols, "bytes/symbol");
    Result("heap_queried", client, parameter, (heapQueried - heapBefore) / nSymbols, "bytes/symbol");
}

// ---- main -------------------------------------------------------------------

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
    std::fprintf(stderr,
                 "usage: session_bench [ingest|staleness|queries|login|idle|memory...] "
                 "[--client library|reference|both] [--rounds N] [--symbols N] [--entries N] [--quick]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> what;
    std::string clientName = "both";
    int rounds = 3;
    int nSymbols = 1000;
    int nEntries = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
            if (rounds < 1) return Usage();
        } else if (arg == "--symbols" && i + 1 < argc) {
            nSymbols = std::atoi(argv[++i]);
            if (nSymbols < 1) return Usage();
        } else if (arg == "--entries" && i + 1 < argc) {
            nEntries = std::atoi(argv[++i]);
            if (nEntries < 1) return Usage();
        } else if (arg == "--client" && i + 1 < argc) {
            clientName = argv[++i];
        } else if (arg == "--quick") {
            g_bQuick = true;
            rounds = 1;
        } else if (arg[0] != '-') {
            what.push_back(arg);
        } else {
            return Usage();
        }
    }
    std::vector<const Client*> clients;
    if (clientName == "library" || clientName == "both") clients.push_back(&kLibrary);
    if (clientName == "reference" || clientName == "both") clients.push_back(&kReference);
    if (clients.empty()) return Usage();

    const std::vector<std::pair<std::string, std::function<void(const Client&)>>> figures = {
        {"ingest", [&](const Client& c) { RunIngest(c, rounds); }},
        {"staleness", [&](const Client& c) { RunStaleness(c, rounds); }},
        {"queries", [&](const Client& c) { RunQueries(c, rounds); }},
        {"login", [&](const Client& c) { RunLogin(c); }},
        {"idle", [&](const Client& c) { RunIdle(c); }},
        {"memory", [&](const Client& c) { RunMemory(c, nSymbols, nEntries); }},
    };
    for (const std::string& name : what) {
        if (std::none_of(figures.begin(), figures.end(), [&](const auto& f) { return f.first == name; })) {
            return Usage();
        }
    }
    if (what.empty()) {
        for (const auto& figure : figures) {
            if (figure.first != "memory") what.push_back(figure.first);
        }
    }

    const std::string logDirectory = PrepareLogDirectory();
    // Both clients decode with the same process-wide dictionary; it is loaded
    // once, here, out of every figure.
    const auto loadStart = Clock::now();
    vantrel::fix::LoadFix44Dictionary();
    std::printf("  FIX 4.4 dictionary loaded in %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count());
    for (const auto& figure : figures) {
        if (std::find(what.begin(), what.end(), figure.first) == what.end()) continue;
        std::printf("== %s\n", figure.first.c_str());
        for (const Client* client : clients) figure.second(*client);
    }
    if (!logDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(logDirectory, ignored);
    }
    return 0;
}
