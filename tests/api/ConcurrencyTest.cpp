// Many host threads query while quotes stream in and sessions open and close
// on other threads. Built also with ThreadSanitizer, which turns any data race
// here into a failure.
#include <atomic>
#include <thread>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

// Quote number i: bid i at size i million, offer i + 0.5 at size 2i million.
// A query that mixes two messages breaks these relations.
std::string Quote(const std::string& symbol, int i) {
    const std::string px = std::to_string(i);
    return SnapshotMessage(symbol, {{"0", px, px + "000000"}, {"1", px + ".5", std::to_string(2 * i) + "000000"}});
}

bool Consistent(const double* bid, const double* offer) {
    // bid = {price, size}, offer = {price, size}
    return bid[1] == bid[0] && offer[0] == bid[0] + 0.5 && offer[1] == 2 * bid[0];
}

TEST_F(SessionFixture, QueriesRunWhileQuotesStreamAndSessionsCycle) {
    std::atomic<bool> bStop{false};

    // The server grants every login and then streams quotes until the client
    // goes away.
    std::thread serverThread([&] {
        int n = 0;
        while (!bStop.load()) {
            std::string line;
            if (!server.Accept(100)) continue;
            if (!server.ReadLine(line) || !server.ReadLine(line) || !server.Send(kGranted)) continue;
            for (;;) {
                std::string batch;
                for (int k = 0; k < 20; ++k, ++n) {
                    batch += "[QT]" + Quote(n % 2 ? "EUR/USD" : "GBP/USD", n % 1000 + 1) + "\r\n";
                }
                if (!server.Send(batch) || server.WaitForClientClose(1) || bStop.load()) break;
            }
        }
    });

    std::atomic<uint64_t> nFound{0};
    std::atomic<uint64_t> nBad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            while (!bStop.load()) {
                char symbol[16] = "";
                if (t % 2 == 0) std::snprintf(symbol, sizeof symbol, "%s", t == 0 ? "EUR/USD" : "GBP/USD");
                double bid[2] = {0, 0}, bidSize[2] = {0, 0}, offer[2] = {0, 0}, offerSize[2] = {0, 0};
                int bids = 2, offers = 2;
                const int r = t < 3 ? ::GetLastQuotes(symbol, &bids, bid, bidSize, &offers, offer, offerSize)
                                    : ::GetLastNQuotes(symbol, 2, bid, bidSize, offer, offerSize);
                if (r == 1) {
                    const double b[2] = {bid[0], bidSize[0]}, o[2] = {offer[0], offerSize[0]};
                    const bool bCounts = t == 3 || (bids == 1 && offers == 1);
                    if (!Consistent(b, o) || !bCounts || symbol[0] == '\0') nBad.fetch_add(1);
                    nFound.fetch_add(1);
                } else if (r != 0 && r != -2) {
                    nBad.fetch_add(1);
                }
            }
        });
    }

    // Two host threads open and close sessions; one session is shared while
    // both hold it.
    auto cycle = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            const int r = ::Login("127.0.0.1", server.port(), kLogin, kPassword);
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
    serverThread.join();
    EXPECT_EQ(nBad.load(), 0u);
    EXPECT_GT(nFound.load(), 0u);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
