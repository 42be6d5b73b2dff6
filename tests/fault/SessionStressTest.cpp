// Eight host threads open and close sessions over and over while four others
// query, for 30 seconds (VANTREL_FAULT_STRESS_SECONDS changes that): nothing
// crashes, nothing deadlocks (every call returns within a bound, watched from
// here), every query sees one whole message, and the session counts add up.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

int StressSeconds() {
    const char* text = std::getenv("VANTREL_FAULT_STRESS_SECONDS");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : 30;
}

TEST_F(SessionFixture, LoginLogoffCyclesWhileQueriesRun) {
    QuoteStreamer streamer([](uint64_t n) { return RelatedQuoteBatch(n, 10); });
    const Clock::time_point end = Clock::now() + std::chrono::seconds(StressSeconds());
    std::atomic<bool> bStop{false};

    // Each worker stamps the time it last returned from a call; the watchdog
    // below fails the test when one stays inside a call too long.
    constexpr int kCyclers = 8;
    constexpr int kQueriers = 4;
    std::atomic<int64_t> lastReturn[kCyclers + kQueriers];
    const auto stamp = [&](int worker) {
        lastReturn[worker].store(Clock::now().time_since_epoch().count());
    };
    for (int w = 0; w < kCyclers + kQueriers; ++w) stamp(w);

    std::atomic<uint64_t> nCounted{0};   // Login results 1 or 0
    std::atomic<uint64_t> nLogoffs{0};   // Logoff results 1
    std::atomic<uint64_t> nFailed{0};    // Login -1, -2, Logoff 0: none expected
    std::vector<std::thread> workers;
    for (int c = 0; c < kCyclers; ++c) {
        workers.emplace_back([&, c] {
            // Each cycler is out of the session most of the time, so that the
            // count often falls to zero and sessions really end and start.
            std::minstd_rand random(static_cast<unsigned>(c + 1));
            while (Clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                const int login = ::Login("127.0.0.1", streamer.port(), kLogin, kPassword);
                stamp(c);
                if (login == 1 || login == 0) {
                    nCounted.fetch_add(1);
                } else {
                    nFailed.fetch_add(1);
                    continue;
                }
                std::this_thread::yield();
                const int logoff = ::Logoff();
                stamp(c);
                if (logoff == 1) {
                    nLogoffs.fetch_add(1);
                } else {
                    nFailed.fetch_add(1);
                }
            }
        });
    }
    std::atomic<uint64_t> nFound{0};
    std::atomic<uint64_t> nBad{0};
    for (int q = 0; q < kQueriers; ++q) {
        workers.emplace_back([&, q] {
            while (!bStop.load()) {
                const QueryOutcome outcome = QueryRelated(q);
                stamp(kCyclers + q);
                if (outcome == QueryOutcome::Bad) nBad.fetch_add(1);
                if (outcome == QueryOutcome::Found) nFound.fetch_add(1);
            }
        });
    }

    // The watchdog: a Login waits at most its bounds (5 s each here) and a
    // Logoff only for the thread to stop, so 30 s inside one call means a
    // deadlock. The process then ends, since stuck threads cannot be joined.
    const auto deadlockAfter = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(30)).count();
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int64_t now = Clock::now().time_since_epoch().count();
        for (int w = 0; w < kCyclers + kQueriers; ++w) {
            if (now - lastReturn[w].load() > deadlockAfter) {
                std::fprintf(stderr, "worker %d has been inside a call for 30 s: deadlock\n", w);
                std::_Exit(1);
            }
        }
    }
    bStop.store(true);
    for (std::thread& w : workers) w.join();

    EXPECT_EQ(nFailed.load(), 0u);
    EXPECT_EQ(nCounted.load(), nLogoffs.load());
    EXPECT_EQ(g_nSessionsCnt.load(), 0);
    EXPECT_EQ(::Logoff(), 0);
    EXPECT_EQ(nBad.load(), 0u);
    EXPECT_GT(nFound.load(), 0u);
    EXPECT_GT(streamer.sessions(), 1u);
    std::printf("%llu logins counted, %llu sessions served, %llu quotes read\n",
                static_cast<unsigned long long>(nCounted.load()),
                static_cast<unsigned long long>(streamer.sessions()),
                static_cast<unsigned long long>(nFound.load()));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
