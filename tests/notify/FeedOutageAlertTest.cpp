// An outage of a session that reconnects, as the operator's phone sees it:
// however many attempts it takes, one error for the loss and one warning once
// quotes flow again reach the SMS gateway, and nothing else.
#include <string>
#include <vector>

#include "tests/notify/SmsFixture.h"

namespace vantrel {
namespace test {
namespace {

TEST_F(SmsFixture, AnOutageSendsOneErrorAndOneWarningWhateverItsAttempts) {
    Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\nSMSSendWarnings=Y\n"
                                        "QuotesReconnect=Y\nQuotesReconnectMaxSeconds=1\n")
                .c_str());
    vantrel::testing::SetReconnectTimings(20, 0, 5);
    ASSERT_EQ(ServeLogin(), 1);
    ASSERT_TRUE(SendQuotes({RelatedQuote("EUR/USD", 1)}));
    // The loss, then four attempts that the server accepts and drops.
    for (int i = 0; i < 5; ++i) {
        server.Close();
        ASSERT_TRUE(server.Accept()) << i;
    }
    std::string line;
    ASSERT_TRUE(server.ReadLine(line) && server.ReadLine(line) && server.Send(kGranted));
    ASSERT_TRUE(server.Send("[QT]" + RelatedQuote("EUR/USD", 2) + "\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return SentTexts().size() >= 2; })) << LogText();

    const std::vector<std::string> texts = SentTexts();
    ASSERT_EQ(texts.size(), 2u) << LogText();
    EXPECT_EQ(texts[0], "<20261208-09:15:00, Error (3)>: StartQuotesThread(): quotes lost ('recv' socket error = 0); "
                        "reconnecting.");
    const std::string recovered =
        "<20261208-09:15:00, Warning>: StartQuotesThread(): quotes are flowing again after 5 reconnect attempts and ";
    EXPECT_EQ(texts[1].compare(0, recovered.size(), recovered), 0) << texts[1];
    EXPECT_EQ(::Logoff(), 1);
    vantrel::testing::SetReconnectTimings(0, 0, 0);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
