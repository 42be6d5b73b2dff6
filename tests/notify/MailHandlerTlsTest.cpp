// Mail alerts through TLS mail servers (aiosmtpd with the test certificates).
#include "platform/TlsStream.h"
#include "tests/notify/MailHandlerFixture.h"
#include "tests/support/TestCertificates.h"

namespace vantrel {
namespace test {
namespace {

// The library's own error (the quotes server refuses the login) reaches the
// operator through each kind of TLS mail server: a submission server that
// takes AUTH only after STARTTLS, TLS from the first byte with AUTH PLAIN, and
// a lab relay whose certificate is not checked, which the set-up warns about
// once. The words
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
        EXPECT_EQ(FromHex(mail.First("body_hex")), kLoginRefusedMail);
        EXPECT_EQ(mail.First("auth_login"), "alerts");
        std::vector<std::string> expected = {kLoginRefusedError};
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

}  // namespace
}  // namespace test
}  // namespace vantrel
