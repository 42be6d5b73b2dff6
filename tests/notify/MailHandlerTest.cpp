// Mail alerts through the log facade with a real SMTP server, and the set-up
// of either transport.
#include <filesystem>

#include "notify/MailRequests.h"
#include "platform/ErrorCodes.h"
#include "tests/notify/MailHandlerFixture.h"
#include "tests/support/SmtpFaultServer.h"

namespace vantrel {
namespace test {
namespace {

// Each row is one process's first warning ("w1", which sets the handler up)
// and a later error ("e1"): whatever the set-up ran into, nothing is mailed,
// the set-up's own errors and warnings are logged (and not mailed, however
// they re-enter the handler), and the outcome says why.
TEST_F(MailHandlerFixture, SetUpThatCannotMailSaysWhyAndMailsNothing) {
    const auto cannotLoad = [&](const char* key) {
        return "Error (3): CMailHandler() exception catch: Config Error: Cannot load parameter '" + std::string(key) +
               "' from config file '" + configFile + "'";
    };
    const std::string unknown = "Error (3): CMailHandler() unknown exception catch.";
    const std::string smtp = SmtpSettings();
    const std::string noPassword = smtp.substr(0, smtp.find("MailPassword=")) + smtp.substr(smtp.find("MailAddressFrom="));
    const struct {
        const char* name;
        std::string settings;  // "-": no settings file
        std::vector<std::string> setUpLines;
    } cases[] = {
        {"no settings file", "-", {unknown, kNotSendEmail}},
        {"switched off", "FlushFlag=N\nMailSendMail=N\n" + smtp.substr(smtp.find("MailUseSimpleMAPI")) + kMailSendAll,
         {kNotSendEmail}},
        {"switch absent", "FlushFlag=N\n" + kMailSendAll, {kNotSendEmail}},
        {"only separators", SmtpSettings(";, ,,;") + kMailSendAll, {kNotSendEmail}},
        {"password absent", noPassword + kMailSendAll,
         {cannotLoad("MailPassword"), kNotSendEmail}},
        {"transport not chosen", "FlushFlag=N\nMailSendMail=Y\nMailAddressTo=ops@example.org\n" + kMailSendAll,
         {cannotLoad("MailUseSimpleMAPI"), kNotSendEmail}},
        {"illegal value", smtp + kMailSendAll + "MailErrorsSeverityCode=high\n",
         {unknown, kNotSendEmail}},
        {"unknown security", smtp + kMailSendAll + "MailSMTPSecurity=ssl\n",
         {unknown, kNotSendEmail}},
        {"unknown AUTH", smtp + kMailSendAll + "MailSMTPAuth=cram-md5\n",
         {unknown, kNotSendEmail}},
        {"certificate check neither Y nor N", smtp + kMailSendAll + "MailSMTPVerifyPeer=no\n", {unknown, kNotSendEmail}},
        {"password absent with AUTH PLAIN", noPassword + kMailSendAll + "MailSMTPAuth=plain\n",
         {cannotLoad("MailPassword"), kNotSendEmail}},
        {"MAPI without recipients", "FlushFlag=N\nMailSendMail=Y\nMailUseSimpleMAPI=Y\n" + kMailSendAll,
         {cannotLoad("MailAddressTo"), kMapiOff}},
        {"MAPI, only separators", MapiSettings(" ;;") + kMailSendAll, {kMapiOff}},
        // Values that would add a header line or an SMTP parameter.
        {"CR in the subject", smtp + kMailSendAll + "MailSubject=Alert\rBcc: spy@example.net\n", {unknown, kNotSendEmail}},
        {"sender with a parameter", SmtpSettings().replace(smtp.find("feed@example.org"), 16, "a@b.org> SIZE=1") +
                                        kMailSendAll, {unknown, kNotSendEmail}},
        {"recipient not an address", SmtpSettings("ops@example.org, ops") + kMailSendAll, {unknown, kNotSendEmail}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> expected =
            LogFirstAlerts(c.settings, nullptr, nullptr, "", c.setUpLines);
        EXPECT_EQ(MailLogLines(), expected);
        EXPECT_EQ(MapiNotes(), std::vector<std::string>());
        EXPECT_EQ(GetMailRequestsContainer().GetCount(), 0u);
    }
    EXPECT_TRUE(Smtp().Mails().empty());
}

// The threshold is read as a signed number and compared unsigned: absent it
// is 999, and a negative one lets every code through. Warnings go out only
// when switched on. Each case ends with an error that every case mails, and
// mails leave in order, so whatever was wrongly mailed shows before it.
TEST_F(MailHandlerFixture, ErrorsUpToTheThresholdAndWarningsWhenAskedAreMailed) {
    const uint32_t codes[] = {0, 1, 2, 3, 999, 1000, 4294967295u};
    const struct {
        const char* settings;
        std::vector<std::string> mailed;  // "w" for the warning, else the code
    } cases[] = {
        {"MailSendErrors=Y\n", {"0", "1", "2", "3", "999"}},
        {"MailSendErrors=Y\nMailSendWarnings=N\nMailErrorsSeverityCode=2\n", {"0", "1", "2"}},
        {"MailSendErrors=Y\nMailSendWarnings=Y\nMailErrorsSeverityCode=-1\n",
         {"w", "0", "1", "2", "3", "999", "1000", "4294967295"}},
        {"MailSendErrors=Y\nMailSendWarnings=Y\nMailErrorsSeverityCode=0\n", {"w", "0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        const std::size_t before = MailBodies().size();
        Restart((SmtpSettings() + c.settings).c_str());
        OutputWarning2Log("w");
        for (uint32_t nCode : codes) OutputError2Log(nCode, "e");
        OutputError2Log(0, "end");

        const std::vector<std::string> bodies = WaitForBodies(before + c.mailed.size() + 1);
        std::vector<std::string> mailed;
        for (std::size_t i = before; i < bodies.size(); ++i) {
            const std::string& body = bodies[i];
            if (body == kStamp + "Error (0)>: end") break;
            const std::string::size_type at = body.find("Error (");
            mailed.push_back(at == std::string::npos ? "w" : body.substr(at + 7, body.find(')', at) - at - 7));
        }
        EXPECT_EQ(mailed, c.mailed);
        EXPECT_EQ(bodies.back(), kStamp + "Error (0)>: end");
    }
}

TEST_F(MailHandlerFixture, AMailCarriesTheSettingsSenderRecipientsSubjectAndFile) {
    const std::string file = dir / "daily report.txt";
    WriteFile(file, "open positions: 3\n");
    Restart((SmtpSettings("ops1@example.org; ops2@example.org,,desk@example.org") +
             "MailSubject=Quotes feed alert\nMailFile2Send=" + file + "\nMailSendErrors=Y\n")
                .c_str());
    OutputError2Log(3, "ReadString() Error: Can`t receive string. nWSALastError = 104");

    ASSERT_TRUE(Smtp().WaitForMails(1));
    const ReceivedMail mail = Smtp().Mails().front();
    EXPECT_EQ(mail.First("mail_from"), "feed@example.org");
    EXPECT_EQ(mail.All("rcpt_to"), (std::vector<std::string>{"ops1@example.org", "ops2@example.org", "desk@example.org"}));
    EXPECT_EQ(mail.First("auth_login"), "alerts");
    EXPECT_EQ(mail.Header("To"), "ops1@example.org, ops2@example.org, desk@example.org");
    EXPECT_EQ(mail.Header("Subject"), "Quotes feed alert");
    EXPECT_EQ(FromHex(mail.First("body_hex")),
              kStamp + "Error (3)>: ReadString() Error: Can`t receive string. nWSALastError = 104");
    const std::vector<std::string> parts = mail.All("attachment");
    ASSERT_EQ(parts.size(), 1u);
    const std::string::size_type a = parts[0].find(' '), b = parts[0].find(' ', a + 1);
    EXPECT_EQ(FromHex(parts[0].substr(0, a)), "daily report.txt");
    EXPECT_EQ(FromHex(parts[0].substr(a + 1, b - a - 1)), "daily report.txt");  // no directories
    EXPECT_EQ(FromHex(parts[0].substr(b + 1)), "open positions: 3\n");
    EXPECT_EQ(MailLogLines(), (std::vector<std::string>{
                                  "Error (3): ReadString() Error: Can`t receive string. nWSALastError = 104",
                                  "event: " + kOutcome + "SMTP server is connected",
                              }));
}

// The mail thread's own warnings (here: the file to attach is missing, so
// every mail warns while it is sent) are logged, never mailed: otherwise each
// such mail would warn again and feed a storm of mails.
TEST_F(MailHandlerFixture, WarningsOfTheMailThreadAreLoggedButNeverMailed) {
    const std::string missing = dir / "missing.txt";
    Restart((SmtpSettings() + "MailFile2Send=" + missing + "\n" + kMailSendAll).c_str());
    OutputError2Log(1, "first");
    ASSERT_TRUE(Smtp().WaitForMails(1));
    OutputError2Log(1, "second");

    EXPECT_EQ(WaitForBodies(2), (std::vector<std::string>{kStamp + "Error (1)>: first", kStamp + "Error (1)>: second"}));
    const std::string warning = "Warning: Failed to get the status for file '" + missing + "', probably does not exist.";
    EXPECT_TRUE(WaitUntil([&] { return CountLogLines(warning) >= 2; })) << LogText();
}

// The library's own error (the quotes server refuses the login) reaches the
// operator through a plain SMTP server: one that asks for AUTH LOGIN, and a
// relay without AUTH (with a settings file without the account).
TEST_F(MailHandlerFixture, ARefusedLoginIsMailed) {
    const struct {
        const char* name;
        const char* serverAuth;
        bool bAccount;
        const char* settings;
        const char* login;
    } cases[] = {
        {"AUTH LOGIN", "login", true, "", "alerts"},
        {"relay without AUTH", "none", false, "MailSMTPAuth=none\n", "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpTestServer& smtp = StartSmtp(c.serverAuth, {});
        Restart((SmtpSettings("ops@example.org", "127.0.0.1", c.bAccount) + c.settings + "MailSendErrors=Y\n").c_str());
        EXPECT_EQ(ServeLogin("#2 Login refused\r\n"), -1);

        ASSERT_TRUE(smtp.WaitForMails(1));
        const ReceivedMail mail = smtp.Mails().front();
        EXPECT_EQ(FromHex(mail.First("body_hex")), kLoginRefusedMail);
        EXPECT_EQ(mail.First("auth_login"), c.login);
        EXPECT_EQ(AlertLines(), (std::vector<std::string>{kLoginRefusedError, "event: " + kOutcome + "SMTP server is connected"}));
        // Gives the connection back while its server still runs.
        vantrel::testing::ResetMailHandler();
    }
}

// Settings that mail and text every alert, the mail through `port`.
std::string BothChannels(int port) {
    return std::string(kSmsAccount) + "SMSToMobileNumber=+15550100\nSMSSendErrors=Y\nSMSSendWarnings=Y\n" +
           "MailSendMail=Y\nMailUseSimpleMAPI=N\nMailSMTPServerName=127.0.0.1\nMailSMTPServerPortNo=" +
           std::to_string(port) + "\nMailProfileName=alerts\nMailPassword=" + kMailPassword +
           "\nMailAddressFrom=feed@example.org\nMailAddressTo=ops@example.org\n" + kMailSendAll;
}

// A refused login with a mail server that fails: Login returns at once (the
// server is only ever waited on by the mail thread), the operator gets two
// texts, the error and the one saying why its mail did not go, and the log
// keeps every step. The password the server echoes is in neither.
TEST_F(MailHandlerFixture, AFailingMailServerNeverHoldsLoginAndCostsOneTextPerLostMail) {
    using Step = SmtpFaultServer::Step;
    const Step greeting{"", {"220 fault.test ESMTP\r\n"}};
    const Step ehlo{"EHLO ", {"250-fault.test\r\n250 AUTH LOGIN\r\n"}};
    const SmtpFaultServer::Dialogue echo = {
        greeting, ehlo, {"AUTH LOGIN", {"334 VXNlcm5hbWU6\r\n"}}, {SmtpFaultServer::kAnyLine, {"334 UGFzc3dvcmQ6\r\n"}},
        {SmtpFaultServer::kAnyLine, {"535 5.7.8 bad credentials: U203cC1QYTU1\r\n"}}, SmtpFaultServer::Quit()};
    SmtpFaultServer::Dialogue drip = {{"", {"220 "}, SmtpFaultServer::Then::Silence}};
    for (char c = 'a'; c <= 'z'; ++c) drip[0].segments.push_back(std::string(1, c));
    const SmtpFaultServer::Dialogue busy = {{"", {"421 4.3.2 busy\r\n"}, SmtpFaultServer::Then::Close}};
    const struct {
        const char* name;
        std::vector<SmtpFaultServer::Dialogue> dialogues;  // none: nothing listens
        std::string setUpFailure;                          // how the connection test's warning begins
        std::string undelivered;                           // the warning the operator gets
        bool bStillTalking = false;                        // the server when Login has returned
    } cases[] = {
        {"server down", {}, "Failed to connect to the SMTP server: socket error ",
         "Failed to connect to the SMTP server: socket error " + std::to_string(platform::kErrorConnectionRefused)},
        // The connection test drips for longer than its reply may take; the
        // mail then meets a busy server twice.
        {"dripping greeting", {drip, busy, busy}, "Failed to connect to the SMTP server: 220 a",
         "Failed to connect to the SMTP server: 421 4.3.2 busy", true},
        {"password echoed", {echo, echo}, "Failed to connect to the SMTP server: 535 5.7.8 bad credentials: ****",
         "Failed to connect to the SMTP server: 535 5.7.8 bad credentials: ****"},
    };
    bBothChannels = true;
    SMTPTimeouts timeouts;
    timeouts.replyMs = 4000;
    vantrel::testing::SetSMTPTimeouts(timeouts);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ClosedPort down;
        SmtpFaultServer smtp(c.dialogues);
        Restart(BothChannels(c.dialogues.empty() ? down.port() : smtp.port()).c_str());
        EXPECT_EQ(ServeLogin("#2 Login refused\r\n"), -1);
        if (c.bStillTalking) {
            EXPECT_EQ(smtp.DialoguesEnded(), 0) << "Login waited for the mail server";
        }

        ASSERT_TRUE(WaitUntil([&] { return SentTexts().size() >= 2; }));
        const std::string setUp = "Warning: CMailHandler::Init(): " + c.setUpFailure;
        const std::vector<std::string> lines = LogLines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(setUp, 0) == 0; }))
            << LogText();
        EXPECT_EQ(LogText().find("U203cC1QYTU1"), std::string::npos);
        vantrel::testing::ResetMailHandler();  // the mail thread is done with the server
        EXPECT_TRUE(smtp.Finish()) << smtp.Failure();
        EXPECT_EQ(SentTexts(), (std::vector<std::string>{kLoginRefusedMail, kStamp + "Warning>: " + c.undelivered}));
    }
    vantrel::testing::SetSMTPTimeouts(SMTPTimeouts());
}

// A connection idle for longer than its bound is ended with QUIT; the next
// mail connects again.
TEST_F(MailHandlerFixture, AnIdleConnectionIsEndedWithQuitAndTheNextMailConnectsAgain) {
    const SmtpFaultServer::Dialogue mailThenQuit = SmtpFaultServer::Join(
        {SmtpFaultServer::LoggedIn(), SmtpFaultServer::Transaction(1), {SmtpFaultServer::Quit()}});
    SmtpFaultServer smtp({mailThenQuit, mailThenQuit});
    SMTPTimeouts timeouts;
    timeouts.idleQuitMs = 200;
    vantrel::testing::SetSMTPTimeouts(timeouts);
    Restart(BothChannels(smtp.port()).c_str());
    OutputError2Log(1, "first");
    ASSERT_TRUE(smtp.WaitForDialogues(1));
    OutputError2Log(1, "second");
    ASSERT_TRUE(smtp.WaitForDialogues(2));
    vantrel::testing::SetSMTPTimeouts(SMTPTimeouts());
    EXPECT_TRUE(smtp.Finish()) << smtp.Failure();
    for (const std::string& line : LogLines()) EXPECT_NE(line.rfind("Warning: ", 0), 0u) << line;
}

}  // namespace
}  // namespace test
}  // namespace vantrel
