// SMS alerts on Windows: the handler creates the gateway through COM (the
// recording COM server, registered for each test) and calls it in the
// multithreaded apartment from whichever thread logs.
#include <objbase.h>

#include <thread>

#include "notify/SmsGateway.h"
#include "tests/notify/SmsFixture.h"

namespace vantrel {
namespace test {
namespace {

const std::string kOutcome = "CSMSHandler::CSMSHandler(): SMS gateway is ";
const std::string kClassAndInterface = "{231CD7E4-908C-45C0-B357-34FE860BED1D}|{EEFFA403-0DD7-4D83-A9ED-CA22DAD7C388}";

TEST_F(SmsFixture, TheGatewayClassIsCreatedForItsInterfaceOrTheSetUpSaysWhyNot) {
    const struct {
        const char* name;
        bool bRegistered;
        const char* control;
        std::string outcome;
        std::vector<std::string> calls;
    } cases[] = {
        {"registered", true, "", "event: " + kOutcome + "connected",
         {"create|" + kClassAndInterface + "|accepted", "send|api-7|ops|S3cret-sms|+4411|<20261208-09:15:00, Error (1)>: e1|mta"}},
        {"interface refused", true, "VANTREL_TEST_SMS_REFUSE=1",
         "Warning: " + kOutcome + "not connected due to problem creating COM-object instance",
         {"create|" + kClassAndInterface + "|refused"}},
        {"class not registered", false, "",
         "Warning: " + kOutcome + "not connected due to problem creating COM-object instance", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.bRegistered) {
            ASSERT_TRUE(UnregisterGatewayServer());
        }
        const std::vector<std::string> expected = LogFirstAlerts(
            std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\n", "VANTREL_SMS_GATEWAY", "",
            c.control, {c.outcome});
        EXPECT_EQ(LogLines(), expected);
        EXPECT_EQ(Calls(), c.calls);
        platform::UnsetEnvironment("VANTREL_TEST_SMS_REFUSE");
        ASSERT_TRUE(RegisterGatewayServer(VANTREL_RECORDING_GATEWAY));
    }
}

// The quotes thread reports the refused login and sets the handler up; a
// host thread that made itself a single-threaded apartment warns next. Every
// call reaches the gateway in the multithreaded apartment, once per number,
// in the order of the numbers, with the texts as logged.
TEST_F(SmsFixture, ARefusedLoginAndAHostThreadsWarningGoToEachNumberInTheMultithreadedApartment) {
    Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411, +4422\nSMSSendErrors=Y\nSMSSendWarnings=Y\n").c_str());
    EXPECT_EQ(ServeLogin("#2 Login refused\r\n"), -1);
    std::thread host([] {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        OutputWarning2Log("from a single-threaded apartment");
        ::CoUninitialize();
    });
    host.join();
    vantrel::testing::ResetSMSHandler();

    const std::string account = std::string("send|api-7|ops|") + kSmsPassword + "|";
    const std::string error = "<20261208-09:15:00, Error (2)>: StartQuotesThread(): login failed [login:password fields].";
    const std::string warning = "<20261208-09:15:00, Warning>: from a single-threaded apartment";
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "create|" + kClassAndInterface + "|accepted",
                           account + "+4411|" + error + "|mta",
                           account + "+4422|" + error + "|mta",
                           account + "+4411|" + warning + "|mta",
                           account + "+4422|" + warning + "|mta",
                           "release",
                       }));
    EXPECT_TRUE(HasLogLine("event: " + kOutcome + "connected"));
    EXPECT_TRUE(HasLogLine("event: CSMSHandler::Release(): SMS gateway is released."));
}

TEST(SmsText, TextsAreConvertedThroughTheCodePage) {
    const struct {
        unsigned nCodePage;
        std::string text;
        std::wstring wide;
    } cases[] = {
        {1252, "plain <ASCII>", L"plain <ASCII>"},
        {1252, "Preis \xe9 \x80", L"Preis \xe9 \x20AC"},
        {65001, "Preis \xc3\xa9 \xe2\x82\xac", L"Preis \xe9 \x20AC"},
        {65001, "bad \xff byte", L"bad \xFFFD byte"},
        {1252, std::string("cut\0after", 9), L"cut"},
        {1252, "", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WidenThroughCodePage(c.text, c.nCodePage), c.wide) << c.nCodePage << ": " << c.text;
    }
}

}  // namespace
}  // namespace test
}  // namespace vantrel
