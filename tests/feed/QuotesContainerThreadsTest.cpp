// Queries on several threads race new messages, table growth, the erasing of
// the store and each other to decode the same new message. Built also with
// ThreadSanitizer, which turns any data race here into a failure.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "feed/QuotesContainer.h"
#include "log/LogFacade.h"
#include "platform/FileSystem.h"
#include "tests/support/FixText.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

// Message k: bid k at one million, offer k + 0.25 at three million.
std::string Numbered(const std::string& symbol, int k) {
    return test::SnapshotMessage(symbol, {{"0", std::to_string(k), "1000000"},
                                          {"1", std::to_string(k) + ".25", "3000000"}});
}

TEST(QuotesContainerThreads, QueriesDecodeAndCopyWhileMessagesAreReplaced) {
    test::TempDir logDir;
    platform::SetEnvironment("VANTREL_LOG_DIR", logDir.path());
    testing::ResetFileLog();
    {
        CQuotesContainer container;
        container.AddRef();
        ASSERT_TRUE(container.SetQuotes(Numbered("EUR/USD", 0)));

        std::atomic<bool> bStop{false};
        std::atomic<int> nBad{0}, nSeen{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 4; ++t) {
            readers.emplace_back([&, t] {
                int last = -1;
                while (!bStop.load()) {
                    const CQuotesContainer::QuoteRef quote =
                        t == 3 ? container.FindAnyQuote() : container.FindQuote("EUR/USD");
                    if (!quote) continue;  // erased at the end
                    const fix::DecodedQuote& entries = quote.Entries();
                    const int k = entries.Bids() == 1 ? static_cast<int>(entries.BidPrices()[0]) : -1;
                    const bool bGood = entries.Complete() && entries.Offers() == 1 && k >= last &&
                                       entries.OfferPrices()[0] == k + 0.25 && entries.BidSizes()[0] == 1.0 &&
                                       entries.OfferSizes()[0] == 3.0 && quote.Text() == Numbered("EUR/USD", k);
                    nBad.fetch_add(bGood ? 0 : 1);
                    nSeen.fetch_add(1);
                    last = k;
                }
            });
        }
        for (int k = 1; k <= 3000; ++k) {
            EXPECT_TRUE(container.SetQuotes(Numbered("EUR/USD", k)));
            // Symbols after EUR/USD in byte order: the table grows under the
            // readers while the smallest stays the same.
            if (k % 10 == 0) {
                EXPECT_TRUE(container.SetQuotes(Numbered("Z" + std::to_string(k), k)));
            }
            if (k % 100 == 0) {
                const int nBefore = nSeen.load();
                while (nSeen.load() < nBefore + 4) std::this_thread::yield();
            }
        }
        container.Release();  // erases the store under the readers
        EXPECT_FALSE(container.FindQuote("EUR/USD"));
        bStop.store(true);
        for (std::thread& reader : readers) reader.join();
        EXPECT_EQ(nBad.load(), 0);
        EXPECT_GT(nSeen.load(), 0);
        EXPECT_EQ(container.RetiredCount(), 0u);
    }
    testing::ResetFileLog();
    platform::UnsetEnvironment("VANTREL_LOG_DIR");
}

}  // namespace
}  // namespace vantrel
