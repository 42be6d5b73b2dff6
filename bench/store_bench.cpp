// The store and the queries in one thread, without sockets: the cost of one
// SetQuotes, one query of an unchanged message, and one query of a message
// stored just before it. Timed here; counted in instructions by
// bench/store_instructions.sh under callgrind, which does not depend on what
// else the machine runs.
//
//   store_bench                      ns per call of each
//   store_bench --only WHAT CALLS    runs one of them alone (CALLS 0: the
//                                    set-up alone): store (1000 symbols in
//                                    turn), replace (new messages of one
//                                    symbol), cached, or changed (replace,
//                                    then query)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/Session.h"
#include "api/SessionState.h"
#include "bench/BenchMessages.h"
#include "feed/QuotesContainer.h"
#include "fix/QuoteDecoding.h"
#include "log/LogFacade.h"

namespace {

using Clock = std::chrono::steady_clock;

int g_nSink = 0;

// 2-entry messages: 1000 symbols for the store, 64 versions of EUR/USD for
// the queries.
struct Fixture {
    std::vector<std::string> symbols = vantrel::bench::SnapshotPayloads(4000, 1000, 2);
    std::vector<std::string> versions;
    Fixture() {
        for (int k = 0; k < 64; ++k) versions.push_back(vantrel::bench::NumberedPayload("EUR/USD", 1000 + k));
        vantrel::fix::LoadFix44Dictionary();
        vantrel::g_nSessionsCnt.store(1);
        vantrel::GetQuotesContainer().AddRef();
        vantrel::GetQuotesContainer().SetQuotes(versions[0]);
    }
};

void Query() {
    char symbol[16] = "EUR/USD";
    double bidPx[2], bidSize[2], offerPx[2], offerSize[2];
    int nBids = 2, nOffers = 2;
    g_nSink += vantrel::GetLastQuotes(symbol, &nBids, bidPx, bidSize, &nOffers, offerPx, offerSize);
}

void Run(const Fixture& f, const std::string& what, long calls) {
    vantrel::CQuotesContainer& container = vantrel::GetQuotesContainer();
    auto each = [&](auto call) {
        for (long i = 0; i < calls; ++i) call(static_cast<std::size_t>(i));
    };
    if (what == "store") {
        each([&](std::size_t i) { container.SetQuotes(f.symbols[i % f.symbols.size()]); });
    } else if (what == "replace") {
        each([&](std::size_t i) { container.SetQuotes(f.versions[i % f.versions.size()]); });
    } else if (what == "cached") {
        each([&](std::size_t) { Query(); });
    } else {
        each([&](std::size_t i) {
            container.SetQuotes(f.versions[i % f.versions.size()]);
            Query();
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The store's reference count is logged: into a temporary directory.
    char logDirectory[] = "/tmp/vantrel-store-bench-XXXXXX";
    if (::mkdtemp(logDirectory) == nullptr) return 1;
    ::setenv("VANTREL_LOG_DIR", logDirectory, 1);
    Fixture f;
    // Every symbol stored once, so that the store's rounds replace messages.
    Run(f, "store", static_cast<long>(f.symbols.size()));
    if (argc == 4 && std::string(argv[1]) == "--only") {
        Run(f, argv[2], std::atol(argv[3]));
    } else {
        const long calls = 200000;
        double replaceNs = 0;
        for (const char* what : {"store", "replace", "cached", "changed"}) {
            double best = 1e300;
            for (int round = 0; round < 5; ++round) {
                const auto start = Clock::now();
                Run(f, what, calls);
                best = std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls);
            }
            if (std::string(what) == "replace") replaceNs = best;
            if (std::string(what) == "changed") {
                std::printf("%-8s %8.0f ns per call (%.0f ns with the store of the new message)\n", what,
                            best - replaceNs, best);
            } else {
                std::printf("%-8s %8.0f ns per call\n", what, best);
            }
        }
    }
    vantrel::GetQuotesContainer().Release();
    vantrel::testing::ResetFileLog();
    std::string command = std::string("rm -rf ") + logDirectory;
    return std::system(command.c_str()) == 0 && g_nSink >= 0 ? 0 : 1;
}
