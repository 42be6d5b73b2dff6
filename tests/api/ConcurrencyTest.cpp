// Many host threads query while quotes stream in and sessions open and close
// on other threads. Built also with ThreadSanitizer, which turns any data race
// here into a failure.
#include <atomic>
#include <thread>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

TEST_F(SessionFixture, QueriesRunWhileQuotesStreamAndSessionsCycle) {
    std::atomic<bool> bStop{false};

    // The server grants every login and then streams quotes until the client
    // goes away.
    QuoteStreamer streamer([](uint64_t n) { return RelatedQuoteBatch(n, 20); });

    std::atomic<uint64_t> nFound{0};
    std::atomic<uint64_t> nBad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            while (!bStop.load()) {
                const QueryOutcome outcome = QueryRelated(t);
                if (outcome == QueryOutcome::Bad) nBad.fetch_add(1);
                if (outcome == QueryOutcome::Found) nFound.fetch_add(1);
            }
        });
    }

    // Two host threads open and close sessions; one session is shared while
    // both hold it.
    auto cycle = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            const int r = ::Login("127.0.0.1", streamer.port(), kLogin, kPassword);
            EXPECT_TRUE(r == 1 || r == 0) << r;
            const uint64_t nLines = LinesHandled();
            WaitUntil([&] { return LinesHandled() >= nLines + 20 || g_nSessionsCnt.load() > 1; }, 2000);
            WaitUntil([&] { return nFound.load() > 0; }, 2000);
            EXPECT_EQ(::Logoff(), 1);
        }
    };
    std::thread other(cycle, 10);
    cycle(10);
    other.join();
    EXPECT_EQ(g_nSessionsCnt.load(), 0);

    bStop.store(true);
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(nBad.load(), 0u);
    EXPECT_GT(nFound.load(), 0u);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
