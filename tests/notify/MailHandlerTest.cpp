// Mail alerts through the log facade, with a real SMTP server or the
// recording Simple MAPI library.
#include <filesystem>

#include "notify/MailRequests.h"
#include "platform/TlsStream.h"
#include "tests/notify/MailHandlerFixture.h"
#include "tests/support/TestCertificates.h"

namespace vantrel {
namespace test {
namespace {

const std::string kOutcome = "CMailHandler::Init(): ";
const std::string kNotSendEmail = "Warning: " + kOutcome + "SMTP server is not connected due to \"not send e-mail\" settings";
const std::string kMapiOff = "Warning: " + kOutcome + "MAPI DLL is not loaded due to settings";
const std::string kMapiFailed = "Warning: " + kOutcome + "MAPI DLL is not loaded due to LoadLibrary() failure";
const std::string kMapiLoaded = "event: " + kOutcome + "MAPI DLL is loaded";
const std::string kStamp = "<20261208-09:15:00, ";

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
        const char* library;   // VANTREL_MAPI_LIBRARY, nullptr: unset
        const char* control;   // "NAME=value" for the recording library, or ""
        std::vector<std::string> setUpLines;
    } cases[] = {
        {"no settings file", "-", VANTREL_RECORDING_MAPI, "", {unknown, kNotSendEmail}},
        {"switched off", "FlushFlag=N\nMailSendMail=N\n" + smtp.substr(smtp.find("MailUseSimpleMAPI")) + kMailSendAll,
         VANTREL_RECORDING_MAPI, "", {kNotSendEmail}},
        {"switch absent", "FlushFlag=N\n" + kMailSendAll, VANTREL_RECORDING_MAPI, "", {kNotSendEmail}},
        {"only separators", SmtpSettings(";, ,,;") + kMailSendAll, VANTREL_RECORDING_MAPI, "", {kNotSendEmail}},
        {"password absent", noPassword + kMailSendAll, VANTREL_RECORDING_MAPI, "",
         {cannotLoad("MailPassword"), kNotSendEmail}},
        {"transport not chosen", "FlushFlag=N\nMailSendMail=Y\nMailAddressTo=ops@example.org\n" + kMailSendAll,
         VANTREL_RECORDING_MAPI, "", {cannotLoad("MailUseSimpleMAPI"), kNotSendEmail}},
        {"illegal value", smtp + kMailSendAll + "MailErrorsSeverityCode=high\n", VANTREL_RECORDING_MAPI, "",
         {unknown, kNotSendEmail}},
        {"unknown security", smtp + kMailSendAll + "MailSMTPSecurity=ssl\n", VANTREL_RECORDING_MAPI, "",
         {unknown, kNotSendEmail}},
        {"unknown AUTH", smtp + kMailSendAll + "MailSMTPAuth=cram-md5\n", VANTREL_RECORDING_MAPI, "",
         {unknown, kNotSendEmail}},
        {"certificate check neither Y nor N", smtp + kMailSendAll + "MailSMTPVerifyPeer=no\n", VANTREL_RECORDING_MAPI,
         "", {unknown, kNotSendEmail}},
        {"password absent with AUTH PLAIN", noPassword + kMailSendAll + "MailSMTPAuth=plain\n",
         VANTREL_RECORDING_MAPI, "", {cannotLoad("MailPassword"), kNotSendEmail}},
        {"MAPI without recipients", "FlushFlag=N\nMailSendMail=Y\nMailUseSimpleMAPI=Y\n" + kMailSendAll,
         VANTREL_RECORDING_MAPI, "", {cannotLoad("MailAddressTo"), kMapiOff}},
        {"MAPI, only separators", MapiSettings(" ;;") + kMailSendAll, VANTREL_RECORDING_MAPI, "", {kMapiOff}},
        {"MAPI library not named", MapiSettings() + kMailSendAll, nullptr, "", {kMapiFailed}},
        {"MAPI library does not load", MapiSettings() + kMailSendAll, "/nonexistent/mapi.so", "", {kMapiFailed}},
        {"MAPI library without the entries", MapiSettings() + kMailSendAll, VANTREL_GATEWAY_WITHOUT_FACTORY, "",
         {kMapiFailed}},
        {"MAPI logon refused", MapiSettings() + kMailSendAll, VANTREL_RECORDING_MAPI, "VANTREL_TEST_MAPI_LOGON_RESULT=3",
         {kMapiFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> expected =
            LogFirstAlerts(c.settings, "VANTREL_MAPI_LIBRARY", c.library, c.control, c.setUpLines);
        EXPECT_EQ(MailLogLines(), expected);
        EXPECT_EQ(MapiNotes(), std::vector<std::string>());
        EXPECT_EQ(GetMailRequestsContainer().GetCount(), 0u);
        ::unsetenv("VANTREL_TEST_MAPI_LOGON_RESULT");
    }
    // The refused logon was the only call; nothing reached the server.
    EXPECT_EQ(MapiCalls(), (std::vector<std::string>{"logon|0|Ops Profile|" + std::string(kMailPassword) + "|2|0|3"}));
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
    EXPECT_EQ(mail.Header("To"), "ops1@example.org,ops2@example.org,desk@example.org");
    EXPECT_EQ(mail.Header("Subject"), "Quotes feed alert");
    EXPECT_EQ(FromHex(mail.First("body_hex")),
              kStamp + "Error (3)>: ReadString() Error: Can`t receive string. nWSALastError = 104");
    const std::vector<std::string> parts = mail.All("attachment");
    ASSERT_EQ(parts.size(), 1u);
    const std::string::size_type a = parts[0].find(' '), b = parts[0].find(' ', a + 1);
    EXPECT_EQ(FromHex(parts[0].substr(0, a)), "daily report.txt");
    EXPECT_EQ(FromHex(parts[0].substr(a + 1, b - a - 1)), file);
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

// Only the first recipient gets a MAPI mail; subject and body are cut to 79
// characters; the attachment goes as its path and its base name. Without a
// subject the mail has an empty one.
TEST_F(MailHandlerFixture, MapiMailGoesToTheFirstRecipientWithItsTextsCut) {
    const std::string subject = "Quotes feed alert: " + std::string(80, 's');
    const std::string text = "StartQuotesThread(): " + std::string(80, 't');
    const std::string body = kStamp + "Warning>: " + text;
    const struct {
        const char* name;
        std::string settings;
        std::string message;
        std::vector<std::string> files;
    } cases[] = {
        {"subject and file", "MailSubject=" + subject + "\nMailFile2Send=/var/reports/daily report.txt\n",
         "message|" + subject.substr(0, 79) + "|" + body.substr(0, 79) + "|(null)|(null)|(null)|0|(null)|1|1",
         {"file|0|-1|/var/reports/daily report.txt|daily report.txt|(null)"}},
        {"neither", "", "message||" + body.substr(0, 79) + "|(null)|(null)|(null)|0|(null)|1|0", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart((MapiSettings("first@example.org, second@example.org") + c.settings + kMailSendAll).c_str());
        OutputWarning2Log(text);
        vantrel::testing::ResetMailHandler();

        std::vector<std::string> expected = {
            "logon|0|Ops Profile|" + std::string(kMailPassword) + "|2|0|0",
            "send|" + RecordedSession() + "|0|0|0|0",
            c.message,
            "recipient|1|Corvel Technical Support|SMTP:first@example.org|0",
        };
        expected.insert(expected.end(), c.files.begin(), c.files.end());
        expected.push_back("logoff|" + RecordedSession() + "|0|0|0");
        EXPECT_EQ(MapiCalls(), expected);
        EXPECT_EQ(MailLogLines(), (std::vector<std::string>{"Warning: " + text, kMapiLoaded,
                                                            "event: CMailHandler::Release(): MAPI DLL is released."}));
    }
}

// The library's own error (the quotes server refuses the login) reaches the
// operator through each kind of mail server: a submission server that takes
// AUTH only after STARTTLS, TLS from the first byte with AUTH PLAIN, a relay
// without AUTH (and a file without the account), and a lab relay whose
// certificate is not checked, which the set-up warns about once. The words
// are read in any letter case.
TEST_F(MailHandlerFixture, ARefusedLoginIsMailedThroughEachSecurityAndAuthSetting) {
    if (!platform::TlsAvailable()) GTEST_SKIP() << "TLS is not available in this build";
    const TestCertificates& certificates = GetTestCertificates();
    const std::string caFile = "MailSMTPCAFile=" + certificates.sCAFile + "\n";
    const std::string notVerified = "Warning: " + kOutcome +
                                    "the SMTP server's certificate is not verified (MailSMTPVerifyPeer=N): a server "
                                    "posing as localhost would receive the mails and the login";
    const struct {
        const char* name;
        const char* serverAuth;
        std::vector<std::string> serverTls;
        const char* host;
        bool bAccount;
        std::string settings;
        std::vector<std::string> setUpWarnings;
    } cases[] = {
        {"submission server: STARTTLS, then AUTH LOGIN, checked against the CA file", "login",
         SmtpServerTlsArguments(certificates.sLocalhost, false), "localhost", true,
         "MailSMTPSecurity=StartTLS\nMailSMTPVerifyPeer=Y\n" + caFile, {}},
        {"TLS from the first byte, AUTH PLAIN, the address checked", "plain",
         SmtpServerTlsArguments(certificates.sLocalhost, true), "127.0.0.1", true,
         "MailSMTPSecurity=tls\nMailSMTPAuth=PLAIN\n" + caFile, {}},
        {"relay without AUTH", "none", {}, "127.0.0.1", false, "MailSMTPAuth=none\n", {}},
        {"lab relay with an expired certificate, not checked", "login",
         SmtpServerTlsArguments(certificates.sExpired, true), "localhost", true,
         "MailSMTPSecurity=TLS\nMailSMTPVerifyPeer=N\n" + caFile, {notVerified}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpTestServer& smtp = StartSmtp(c.serverAuth, c.serverTls);
        Restart((SmtpSettings("ops@example.org", c.host, c.bAccount) + c.settings + "MailSendErrors=Y\n").c_str());
        EXPECT_EQ(ServeLogin("#2 Login refused\r\n"), -1);

        ASSERT_TRUE(smtp.WaitForMails(1));
        const ReceivedMail mail = smtp.Mails().front();
        EXPECT_EQ(FromHex(mail.First("body_hex")),
                  kStamp + "Error (2)>: StartQuotesThread(): login failed [login:password fields].");
        EXPECT_EQ(mail.First("auth_login"), std::string(c.serverAuth) == "none" ? "<none>" : "alerts");
        std::vector<std::string> expected = {"Error (2): StartQuotesThread(): login failed [login:password fields]."};
        expected.insert(expected.end(), c.setUpWarnings.begin(), c.setUpWarnings.end());
        expected.push_back("event: " + kOutcome + "SMTP server is connected");
        EXPECT_EQ(AlertLines(), expected);
        // Gives the connection back while its server still runs.
        vantrel::testing::ResetMailHandler();
    }
}

// A server whose certificate does not prove it is refused at set-up and again
// when the mail is sent, and gets nothing; both warnings quote the handshake's
// reason rather than the server's last reply (STARTTLS's 220).
TEST_F(MailHandlerFixture, AServerFailingTheCertificateCheckGetsNothingAndTheWarningsSayWhy) {
    if (!platform::TlsAvailable()) GTEST_SKIP() << "TLS is not available in this build";
    const TestCertificates& certificates = GetTestCertificates();
    SmtpTestServer& smtp = StartSmtp("login", SmtpServerTlsArguments(certificates.sUntrusted, false));
    Restart((SmtpSettings("ops@example.org", "localhost") + "MailSMTPSecurity=starttls\nMailSMTPCAFile=" +
             certificates.sCAFile + "\nMailSendErrors=Y\n")
                .c_str());
    OutputError2Log(1, "e1");

    const std::string failed = "Failed to connect to the SMTP server: TLS handshake failed: ";
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<std::string> lines = AlertLines();
        return !lines.empty() && lines.back().rfind("Warning: " + failed, 0) == 0;
    })) << LogText();
    const std::vector<std::string> lines = AlertLines();
    ASSERT_GE(lines.size(), 4u);
    const std::string handshake =
        "Warning: TLS handshake with the SMTP server localhost on port " + std::to_string(smtp.port()) + " failed: ";
    ASSERT_EQ(lines[1].rfind(handshake, 0), 0u) << lines[1];
    const std::string reason = lines[1].substr(handshake.size(), lines[1].rfind(", GetLastError() returns: ") -
                                                                      handshake.size());
    EXPECT_NE(reason.find("unable to get local issuer certificate"), std::string::npos) << reason;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              (std::vector<std::string>{"Error (1): e1", lines[1], "Warning: " + kOutcome + failed + reason,
                                        "event: " + kOutcome + "SMTP server is connected"}));
    EXPECT_EQ(lines.back(), "Warning: " + failed + reason);
    EXPECT_TRUE(smtp.Mails().empty());
}

// MAPI results 0, 1 (user abort) and 3 (login failure) count as sent; any
// other is a warning, logged and not mailed in turn. An address of 74
// characters fits the address field ("SMTP:" and a terminator make 80); a
// longer one is refused, never cut or written past the field.
TEST_F(MailHandlerFixture, MapiResultsAndAddressLengths) {
    const std::string fits = std::string(62, 'a') + "@example.org";
    const std::string tooLong = "b" + fits;
    ASSERT_EQ(fits.size(), 74u);
    const struct {
        const std::string& address;
        const char* result;
        std::vector<std::string> warnings;
        std::size_t nSends;
    } cases[] = {
        {fits, "0", {}, 1},
        {fits, "1", {}, 1},
        {fits, "3", {}, 1},
        {fits, "2", {"Warning: Failed to send e-mail using MAPISendMail function."}, 1},
        {tooLong, "0",
         {"Warning: SendMAPIMail(): the recipient address has 75 characters, more than the 74 that fit; no mail sent to " +
          tooLong},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.size());
        SCOPED_TRACE(c.result);
        Restart((MapiSettings(c.address) + kMailSendAll).c_str());
        ::setenv("VANTREL_TEST_MAPI_SEND_RESULT", c.result, 1);
        OutputError2Log(1, "e1");

        std::vector<std::string> expected = {"Error (1): e1", kMapiLoaded};
        expected.insert(expected.end(), c.warnings.begin(), c.warnings.end());
        EXPECT_EQ(MailLogLines(), expected);
        std::vector<std::string> recipients;
        for (const std::string& call : MapiCalls()) {
            if (call.rfind("recipient|", 0) == 0) recipients.push_back(call);
        }
        EXPECT_EQ(recipients, std::vector<std::string>(
                                  c.nSends, "recipient|1|Corvel Technical Support|SMTP:" + c.address + "|0"));
    }
}

// A log that cannot be written drops its line, and the alert still goes out.
TEST_F(MailHandlerFixture, AlertsGoOutWhenTheLogCannotBeWritten) {
    Restart((MapiSettings() + "MailSendErrors=Y\n").c_str());
    OutputError2Log(2, "logged");

    // The day's event file cannot be opened after midnight.
    std::filesystem::create_directory(logDir.path() + "/GLOBAL20261209.event.log");
    clock.set(EpochMillis(2026, 12, 9, 0, 0, 1));
    OutputError2Log(2, "after midnight");
    OutputError2Log(2, "and again");

    // The log directory cannot be created at all.
    const std::string blocked = dir / "blocked";
    WriteFile(blocked, "a file where the directory should be");
    ::setenv("VANTREL_LOG_DIR", (blocked + "/log").c_str(), 1);
    vantrel::testing::ResetFileLog();
    OutputError2Log(2, "no log");
    ::setenv("VANTREL_LOG_DIR", logDir.path().c_str(), 1);
    vantrel::testing::ResetFileLog();
    std::filesystem::remove(logDir.path() + "/GLOBAL20261209.event.log");

    EXPECT_EQ(MapiNotes(), (std::vector<std::string>{
                               kStamp + "Error (2)>: logged",
                               "<20261209-00:00:01, Error (2)>: after midnight",
                               "<20261209-00:00:01, Error (2)>: and again",
                               "<20261209-00:00:01, Error (2)>: no log",
                           }));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
