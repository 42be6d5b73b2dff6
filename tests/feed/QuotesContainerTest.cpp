// The store of the latest message per symbol, on its own instance.
#include "feed/QuotesContainer.h"

#include <cstdlib>

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

}  // namespace
}  // namespace vantrel
