#include <clocale>

#include "notify/SmsGateway.h"
#include "tests/notify/SmsFixture.h"

namespace vantrel {
namespace test {
namespace {

const std::string kNotConnected = "Warning: CSMSHandler::CSMSHandler(): SMS gateway is not connected due to ";
const std::string kSettingsOff = kNotConnected + "corvel settings";
const std::string kNoGateway = kNotConnected + "problem creating COM-object instance";
const std::string kSendAll = std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\nSMSSendWarnings=Y\n";

// Each row is one process's first warning ("w1", which sets the handler up)
// and a later error ("e1"): whatever the set-up ran into, nothing is sent, the
// set-up's own errors and warnings are logged (and not sent, however they
// re-enter the handler), and the outcome says why.
TEST_F(SmsFixture, SetUpThatCannotSendSaysWhyAndSendsNothing) {
    const std::string missingPassword = "Error (3): CSMSHandler() exception catch: Config Error: Cannot load "
                                        "parameter 'SMSPassword' from config file '" + configFile + "'";
    const struct {
        const char* name;
        std::string settings;  // "-": no settings file
        const char* gateway;   // nullptr: VANTREL_SMS_GATEWAY unset
        const char* control;   // "NAME=value" for the recording gateway, or ""
        std::vector<std::string> setUpLines;
        std::vector<std::string> calls;
    } cases[] = {
        {"no settings file", "-", VANTREL_RECORDING_GATEWAY, "",
         {"Error (3): CSMSHandler() unknown exception catch.", kSettingsOff}, {}},
        {"switched off", "FlushFlag=N\nSMSSendSMS=N\n" + kSendAll.substr(kSendAll.find("SMSAPIID")), VANTREL_RECORDING_GATEWAY,
         "", {kSettingsOff}, {}},
        {"switch absent", "FlushFlag=N\nSMSSendErrors=Y\n", VANTREL_RECORDING_GATEWAY, "", {kSettingsOff}, {}},
        {"only separators", std::string(kSmsAccount) + "SMSToMobileNumber= ;,\t;\nSMSSendErrors=Y\nSMSSendWarnings=Y\n",
         VANTREL_RECORDING_GATEWAY, "", {kSettingsOff}, {}},
        {"password absent", "FlushFlag=N\nSMSSendSMS=Y\nSMSAPIID=a\nSMSUsername=u\nSMSToMobileNumber=+1\nSMSSendErrors=Y\n",
         VANTREL_RECORDING_GATEWAY, "", {missingPassword, kSettingsOff}, {}},
        {"illegal value", kSendAll + "SMSErrorsSeverityCode=high\n", VANTREL_RECORDING_GATEWAY, "",
         {"Error (3): CSMSHandler() unknown exception catch.", kSettingsOff}, {}},
        {"no plug-in named", kSendAll, nullptr, "", {kNoGateway}, {}},
        {"plug-in does not load", kSendAll, "/nonexistent/gateway.so", "", {kNoGateway}, {}},
        {"plug-in without factory", kSendAll, VANTREL_GATEWAY_WITHOUT_FACTORY, "", {kNoGateway}, {}},
        {"factory refuses", kSendAll, VANTREL_RECORDING_GATEWAY, "VANTREL_TEST_SMS_REFUSE=1", {kNoGateway},
         {std::string(kCreated).replace(std::string(kCreated).rfind('|') + 1, 8, "refused")}},
        {"object of another layout", kSendAll, VANTREL_RECORDING_GATEWAY, "VANTREL_TEST_SMS_LAYOUT=2", {kNoGateway},
         {kCreated, "release"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> expected =
            LogFirstAlerts(c.settings, "VANTREL_SMS_GATEWAY", c.gateway, c.control, c.setUpLines);
        EXPECT_EQ(LogLines(), expected);
        EXPECT_EQ(Calls(), c.calls);
        for (const char* name : kControls) platform::UnsetEnvironment(name);
    }
}

TEST_F(SmsFixture, EveryAlertGoesToEachNumberInOrderAndTheGatewayIsReleased) {
    Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411;  +4422\nSMSSendErrors=Y\nSMSSendWarnings=Y\n").c_str());
    OutputWarning2Log("w1");  // sets the handler up, then is sent
    OutputEvent2Log("an event is never sent");
    OutputError2Log(2, std::string("e1\twith a tab"));

    const std::string warning = "<20261208-09:15:00, Warning>: w1";
    const std::string error = "<20261208-09:15:00, Error (2)>: e1\twith a tab";
    const std::string account = std::string("send|api-7|ops|") + kSmsPassword + "|";
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           kCreated,
                           account + "+4411|" + warning, "free_reply",
                           account + "+4422|" + warning, "free_reply",
                           account + "+4411|" + error, "free_reply",
                           account + "+4422|" + error, "free_reply",
                       }));

    vantrel::testing::ResetSMSHandler();
    EXPECT_EQ(Calls().back(), "release");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "Warning: w1",
                              "event: CSMSHandler::CSMSHandler(): SMS gateway is connected",
                              "event: an event is never sent",
                              "Error (2): e1\\x09with a tab",  // escaped in the file only
                              "event: CSMSHandler::Release(): SMS gateway is released.",
                          }));
}

// The threshold is read as a signed number and compared unsigned: absent it
// is 999, and a negative one lets every code through.
TEST_F(SmsFixture, ErrorsUpToTheThresholdAreSent) {
    const uint32_t codes[] = {0, 1, 2, 3, 999, 1000, 4294967295u};
    const struct {
        const char* threshold;
        std::vector<std::string> sent;
    } cases[] = {
        {"", {"0", "1", "2", "3", "999"}},
        {"SMSErrorsSeverityCode=2\n", {"0", "1", "2"}},
        {"SMSErrorsSeverityCode=0\n", {"0"}},
        {"SMSErrorsSeverityCode=-1\n", {"0", "1", "2", "3", "999", "1000", "4294967295"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.threshold);
        Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\n" + c.threshold).c_str());
        OutputWarning2Log("warnings are not switched on");
        for (uint32_t nCode : codes) OutputError2Log(nCode, "e");

        std::vector<std::string> sent;
        for (const std::string& text : SentTexts()) {
            const std::string::size_type at = text.find("Error (") + 7;
            sent.push_back(text.substr(at, text.find(')', at) - at));
        }
        EXPECT_EQ(sent, c.sent);
    }
}

TEST(SmsText, BytesTheLocaleCannotConvertBecomeReplacementCharacters) {
    const struct {
        const char* locale;
        const char* text;
        std::wstring wide;
    } cases[] = {
        {"C", "plain <ASCII>", L"plain <ASCII>"},
        {"C", "Preis \xc3\xa9!", L"Preis \xFFFD\xFFFD!"},
        {"C.UTF-8", "Preis \xc3\xa9 \xe2\x82\xac", L"Preis \xe9 \x20AC"},
        {"C.UTF-8", "bad \xff byte", L"bad \xFFFD byte"},
        {"C.UTF-8", "cut \xe2\x82", L"cut \xFFFD\xFFFD"},
        {"C.UTF-8", "", L""},
    };
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    for (const auto& c : cases) {
        ASSERT_NE(std::setlocale(LC_CTYPE, c.locale), nullptr) << c.locale;
        EXPECT_EQ(WidenThroughLocale(c.text), c.wide) << c.locale << ": " << c.text;
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace
}  // namespace test
}  // namespace vantrel
