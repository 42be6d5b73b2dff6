// A network path that dies without a word: run by dead_path.sh inside a
// network namespace of its own, where an nftables rule drops every packet
// once the first quotes have arrived. Skipped when started any other way.
#include <cstdlib>
#include <string>

#include "tests/api/SessionFixture.h"

namespace vantrel {
namespace test {
namespace {

bool Nft(const std::string& arguments) { return std::system(("nft " + arguments + " 2>&1").c_str()) == 0; }

class DeadPathTest : public SessionFixture {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_DEAD_PATH") == nullptr) {
            GTEST_SKIP() << "needs the network namespace that dead_path.sh sets up";
        }
        SessionFixture::SetUp();
    }
    void TearDown() override {
        if (std::getenv("VANTREL_DEAD_PATH") == nullptr) return;
        Nft("delete table inet vantrel_dead_path");
        SessionFixture::TearDown();
    }
};

// Every packet dropped after the first quote: the session is lost within the
// keep-alive bound, the way a receive error loses it (the time-out's code in
// the error and the warning), the quotes go, and the session stays counted.
TEST_F(DeadPathTest, APathThatDropsEverythingEndsTheSessionWithinTheBound) {
    constexpr int kBoundSeconds = 3;
    UseSettings("QuotesKeepAliveSeconds=" + std::to_string(kBoundSeconds) + "\n");
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuotes({RelatedQuote("EUR/USD", 1)}));
    ASSERT_EQ(QueryRelated(0), QueryOutcome::Found);

    ASSERT_TRUE(Nft("add table inet vantrel_dead_path") &&
                Nft("add chain inet vantrel_dead_path output '{ type filter hook output priority 0; }'") &&
                Nft("add rule inet vantrel_dead_path output drop"));
    const Clock::time_point dropped = Clock::now();
    ASSERT_TRUE(g_bQuotesThreadState.waitFor(1, std::chrono::seconds(kBoundSeconds + 10))) << "never noticed";
    EXPECT_LE(ElapsedMs(dropped), kBoundSeconds * 1000 + 2000);
    EXPECT_EQ(QueryRelated(0), QueryOutcome::NotFound);
    EXPECT_EQ(g_nSessionsCnt.load(), 1);
    const std::string code = std::to_string(ETIMEDOUT);
    EXPECT_TRUE(HasLogLine("Error (3): ReadString() Error: Can`t receive string. nWSALastError = " + code))
        << LogText();
    EXPECT_TRUE(HasLogLine("Warning: StartQuotesThread(): 'recv' socket error = " + code + ".")) << LogText();
    EXPECT_EQ(::Logoff(), 1);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
