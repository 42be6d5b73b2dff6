// The store of the latest message per symbol, on its own instance.
#include "feed/QuotesContainer.h"

#include <cstdlib>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

#include "log/LogFacade.h"
#include "platform/FileSystem.h"
#include "tests/support/FixText.h"
#include "tests/support/HostProcess.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

using test::FixMessage;
using test::SnapshotMessage;

class QuotesContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetEnvironment("VANTREL_LOG_DIR", logDir.path().c_str());
        testing::ResetFileLog();
    }
    void TearDown() override {
        testing::ResetFileLog();
        platform::UnsetEnvironment("VANTREL_LOG_DIR");
    }
    // The texts of the event file's lines, without time stamp and label.
    std::vector<std::string> EventTexts() {
        std::vector<std::string> texts;
        for (const std::string& line : test::ReadLines(GetFileLogEventFile())) {
            texts.push_back(line.substr(line.find(">: ") + 3));
        }
        return texts;
    }
    static std::string GetFileLogEventFile();

    std::string Stored(const std::string& symbol) {
        std::string text = "untouched";
        return container.GetQuotes(symbol, text) ? text : "<" + text + ">";
    }

    test::TempDir logDir;
    CQuotesContainer container;
};

std::string QuotesContainerTest::GetFileLogEventFile() {
    std::tm tm{};
    test::GmTime(static_cast<int64_t>(std::time(nullptr)), tm);
    char name[64];
    std::strftime(name, sizeof name, "GLOBAL%Y%m%d.event.log", &tm);
    return LogDirectory() + platform::kPathSeparator + name;
}

const std::string kEur1 = SnapshotMessage("EUR/USD", {{"0", "1.2345", "1000000"}});
const std::string kEur2 = SnapshotMessage("EUR/USD", {{"1", "1.2347", "500000"}});

TEST_F(QuotesContainerTest, InactiveStoreDropsPayloadsUnreadAndFindsNothing) {
    EXPECT_FALSE(container.SetQuotes("not FIX at all"));  // not even decoded
    EXPECT_FALSE(container.SetQuotes(kEur1));
    std::string symbol = "s", text = "t";
    EXPECT_FALSE(container.GetQuotes("EUR/USD", text));
    EXPECT_FALSE(container.GetAnyQuotes(symbol, text));
    EXPECT_EQ(symbol + text, "st");  // outputs untouched while inactive

    container.AddRef();
    EXPECT_FALSE(container.GetAnyQuotes(symbol, text));
    EXPECT_EQ(symbol + text, "");  // emptied when active but empty
}

TEST_F(QuotesContainerTest, ReferenceCountIsLoggedAndTheLastReleaseEmptiesTheStore) {
    container.AddRef();
    container.AddRef();
    ASSERT_TRUE(container.SetQuotes(kEur1));
    container.Release();
    EXPECT_EQ(Stored("EUR/USD"), kEur1);  // one reference left: kept
    container.Release();
    container.Release();  // already 0: nothing changes, still logged
    EXPECT_EQ(container.RefCount(), 0);
    container.AddRef();
    EXPECT_EQ(Stored("EUR/USD"), "<>");  // a new session starts empty
    EXPECT_EQ(EventTexts(), (std::vector<std::string>{
                                "CQuotesContainer::AddRef(): m_nRefsCnt = 1",
                                "CQuotesContainer::AddRef(): m_nRefsCnt = 2",
                                "CQuotesContainer::Release(): m_nRefsCnt = 1",
                                "CQuotesContainer::Release(): m_nRefsCnt = 0",
                                "CQuotesContainer::Release(): m_nRefsCnt = 0",
                                "CQuotesContainer::AddRef(): m_nRefsCnt = 1",
                            }));
}

TEST_F(QuotesContainerTest, KeepsTheLatestTextPerExactSymbol) {
    container.AddRef();
    ASSERT_TRUE(container.SetQuotes(kEur1));
    ASSERT_TRUE(container.SetQuotes(kEur2));
    const std::string lower = SnapshotMessage("eur/usd", {{"0", "9", "1"}});
    ASSERT_TRUE(container.SetQuotes(lower));
    EXPECT_EQ(Stored("EUR/USD"), kEur2);  // the text as received, byte for byte
    EXPECT_EQ(Stored("eur/usd"), lower);
    EXPECT_EQ(Stored("EUR/USD "), "<>");

    // Any message type with a Symbol replaces the quote (here a News message).
    const std::string news = FixMessage("B", {{148, "headline"}, {55, "EUR/USD"}});
    ASSERT_TRUE(container.SetQuotes(news));
    EXPECT_EQ(Stored("EUR/USD"), news);
}

TEST_F(QuotesContainerTest, RejectedPayloadLeavesTheStoreAsItWas) {
    container.AddRef();
    ASSERT_TRUE(container.SetQuotes(kEur1));
    const int sum = test::FixCheckSum(kEur2.substr(0, kEur2.rfind("10=")));
    EXPECT_THROW(container.SetQuotes(test::WithCheckSumText(kEur2, std::to_string((sum + 1) % 256))),
                 FIX::InvalidMessage);
    EXPECT_THROW(container.SetQuotes(kEur2.substr(0, kEur2.size() - 1)), FIX::InvalidMessage);
    EXPECT_THROW(container.SetQuotes(kEur2 + "[QT]"), FIX::InvalidMessage);
    EXPECT_THROW(container.SetQuotes(FixMessage("W", {{268, "0"}})), FIX::FieldNotFound);
    EXPECT_EQ(Stored("EUR/USD"), kEur1);
    std::string symbol, text;
    ASSERT_TRUE(container.GetAnyQuotes(symbol, text));  // the lock was left free
    EXPECT_EQ(symbol, "EUR/USD");
}

TEST_F(QuotesContainerTest, AnySymbolIsTheByteWiseSmallest) {
    container.AddRef();
    for (const char* symbol : {"USD/JPY", "eur/usd", "EUR/USD", "AUD/USDX", "AUD/USD", "\x80UD"}) {
        ASSERT_TRUE(container.SetQuotes(SnapshotMessage(symbol, {{"0", "1", "1"}})));
    }
    for (int i = 0; i < 2; ++i) {
        std::string symbol, text;
        ASSERT_TRUE(container.GetAnyQuotes(symbol, text));
        EXPECT_EQ(symbol, "AUD/USD");
        EXPECT_EQ(text, SnapshotMessage("AUD/USD", {{"0", "1", "1"}}));
    }
    // Bytes compare unsigned: 0x80 sorts after every ASCII letter.
    container.Release();
    container.AddRef();
    ASSERT_TRUE(container.SetQuotes(SnapshotMessage("\x80UD", {})));
    ASSERT_TRUE(container.SetQuotes(SnapshotMessage("zzz", {})));
    std::string symbol, text;
    ASSERT_TRUE(container.GetAnyQuotes(symbol, text));
    EXPECT_EQ(symbol, "zzz");
}

TEST_F(QuotesContainerTest, EntriesAreDecodedOnceAndReplacedWithTheMessage) {
    container.AddRef();
    ASSERT_TRUE(container.SetQuotes(kEur1));
    const fix::DecodedQuote* pFirst = nullptr;
    {
        const CQuotesContainer::QuoteRef quote = container.FindQuote("EUR/USD");
        ASSERT_TRUE(quote);
        pFirst = &quote.Entries();
        ASSERT_EQ(pFirst->Bids(), 1);
        EXPECT_EQ(pFirst->Offers(), 0);
        EXPECT_EQ(pFirst->BidPrices()[0], 1.2345);
        EXPECT_EQ(pFirst->BidSizes()[0], 1.0);
        EXPECT_TRUE(pFirst->Complete());
    }
    EXPECT_EQ(&container.FindQuote("EUR/USD").Entries(), pFirst);  // kept, not decoded again
    {
        // A query holding the old message reads it whole while a new one
        // replaces it; the next query finds the new one.
        const CQuotesContainer::QuoteRef held = container.FindQuote("EUR/USD");
        ASSERT_TRUE(container.SetQuotes(kEur2));
        EXPECT_EQ(held.Text(), kEur1);
        EXPECT_EQ(&held.Entries(), pFirst);
        const CQuotesContainer::QuoteRef now = container.FindQuote("EUR/USD");
        EXPECT_EQ(now.Text(), kEur2);
        EXPECT_EQ(now.Entries().Bids(), 0);
        ASSERT_EQ(now.Entries().Offers(), 1);
        EXPECT_EQ(now.Entries().OfferSizes()[0], 0.5);
    }
    // A message that does not decode is remembered as such.
    ASSERT_TRUE(container.SetQuotes(SnapshotMessage("EUR/USD", {{"0", "1.5", "1"}, {"1", "1,6", "1"}})));
    const fix::DecodedQuote* pFailed = &container.FindQuote("EUR/USD").Entries();
    EXPECT_FALSE(pFailed->Complete());
    EXPECT_EQ(pFailed->Bids(), 1);  // what was read before the failure
    EXPECT_EQ(&container.FindAnyQuote().Entries(), pFailed);
    // Once no query holds them, replaced messages and the erased store are
    // deleted.
    container.Release();
    EXPECT_EQ(container.RetiredCount(), 0u);
    EXPECT_FALSE(container.FindAnyQuote());
}

TEST_F(QuotesContainerTest, ManySymbolsStayFoundWhileTheTableGrows) {
    container.AddRef();
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back(SnapshotMessage("S" + std::to_string(i), {{"0", std::to_string(i), "1"}}));
        ASSERT_TRUE(container.SetQuotes(texts.back()));
    }
    for (int i = 0; i < 3000; ++i) EXPECT_EQ(Stored("S" + std::to_string(i)), texts[static_cast<size_t>(i)]);
    std::string symbol, text;
    ASSERT_TRUE(container.GetAnyQuotes(symbol, text));
    EXPECT_EQ(symbol, "S0");
    EXPECT_EQ(Stored("S3000"), "<>");
}

// A retired object outlives every read section that was open when it was
// retired, on any thread, and no longer.
TEST(ReadSections, RetiredObjectsWaitForTheSectionsOpenAtTheirRetirement) {
    struct Probe final : Retirable {
        explicit Probe(std::atomic<int>& n) : nDeleted(n) {}
        ~Probe() override { nDeleted.fetch_add(1); }
        std::atomic<int>& nDeleted;
    };
    std::atomic<int> nDeleted{0};
    CReadSections sections;
    {
        const CReadSections::Section open = sections.Enter();
        sections.Retire(new Probe(nDeleted));
        for (int i = 0; i < 3; ++i) sections.Poll();
        EXPECT_EQ(nDeleted.load(), 0);
    }
    sections.Poll();
    EXPECT_EQ(nDeleted.load(), 1);

    std::promise<void> entered, leave;
    std::thread reader([&] {
        const CReadSections::Section open = sections.Enter();
        entered.set_value();
        leave.get_future().wait();
    });
    entered.get_future().wait();
    for (int i = 0; i < 100; ++i) sections.Retire(new Probe(nDeleted));  // polls now and then
    EXPECT_EQ(nDeleted.load(), 1);
    EXPECT_EQ(sections.RetiredCount(), 100u);
    leave.set_value();
    reader.join();
    sections.Synchronize();
    EXPECT_EQ(nDeleted.load(), 101);
    EXPECT_EQ(sections.RetiredCount(), 0u);
}

}  // namespace
}  // namespace vantrel
