// The SMTP client over TLS (STARTTLS and TLS from the first byte) and with
// AUTH PLAIN or no AUTH: against a real server (aiosmtpd) holding
// certificates made by the test, and against scripted faults.
#include <chrono>
#include <optional>
#include <thread>

#include "notify/SMTPConnection.h"
#include "platform/TlsStream.h"
#include "platform/ErrorCodes.h"
#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpFaultServer.h"
#include "tests/support/SmtpTestServer.h"
#include "tests/support/TestCertificates.h"

namespace vantrel {
namespace test {
namespace {

using platform::kErrorCanceled;
using platform::kErrorInvalidArgument;
using platform::kErrorTimedOut;
using platform::kErrorUnexpectedReply;

using Security = SMTPOptions::Security;
using Auth = SMTPOptions::Auth;
using Then = SmtpFaultServer::Then;

const char* const kUser = "alerts";
const char* const kPassword = "Sm7p-Pa55";
// The password, and the credentials as AUTH LOGIN and AUTH PLAIN encode them.
const char* const kSecrets[] = {"Sm7p-Pa55", "U203cC1QYTU1", "AGFsZXJ0cwBTbTdwLVBhNTU="};
const std::string kBody = ".a line with a leading dot\nsecond line, caf\xc3\xa9";

SMTPOptions Options(Security security, Auth auth, std::string caFile, bool bVerify = true) {
    SMTPOptions options;
    options.security = security;
    options.auth = auth;
    options.peer.sCAFile = std::move(caFile);
    options.peer.bVerifyPeer = bVerify;
    return options;
}

CMailMessage Mail() {
    CMailMessage mail;
    mail.m_From = CMailAddress("feed@example.org");
    mail.AddRecipient(CMailAddress("ops@example.org"));
    mail.m_sSubject = "Quotes alert";
    mail.SetBody(kBody);
    return mail;
}

// aiosmtpd with `certificate`: STARTTLS required before AUTH and MAIL, or
// TLS from the first byte.
std::vector<std::string> TlsArguments(const std::string& certificate, Security security) {
    return SmtpServerTlsArguments(certificate, security == Security::Tls);
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class SMTPTlsTest : public MailFixture {
protected:
    void SetUp() override {
        MailFixture::SetUp();
        if (!platform::TlsAvailable()) GTEST_SKIP() << "TLS is not available in this build";
    }

    void TearDown() override {
        for (const char* secret : kSecrets) EXPECT_EQ(LogText().find(secret), std::string::npos) << secret;
        MailFixture::TearDown();
    }

    // Made only where they are used: a build without TLS may lack openssl.
    const TestCertificates& certificates = platform::TlsAvailable() ? GetTestCertificates() : kNoCertificates;
    static inline const TestCertificates kNoCertificates{};
};

TEST_F(SMTPTlsTest, EverySecurityAndAuthVariantDeliversTheMailIntact) {
    const struct {
        const char* name;
        Security security;
        Auth auth;
        const char* serverAuth;
        const char* host;
        std::string caFile;
    } cases[] = {
        {"submission server: STARTTLS before AUTH LOGIN", Security::StartTls, Auth::Login, "login", "localhost",
         certificates.sCAFile},
        {"TLS from the first byte, AUTH PLAIN, address checked", Security::Tls, Auth::Plain, "plain", "127.0.0.1",
         certificates.sCAFile},
        {"STARTTLS, relay without AUTH, the authority second in a CR LF bundle", Security::StartTls, Auth::None,
         "none", "localhost", certificates.sCABundle},
        {"plain text, AUTH PLAIN", Security::None, Auth::Plain, "plain", "127.0.0.1", ""},
        {"plain text, relay without AUTH", Security::None, Auth::None, "none", "127.0.0.1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpTestServer server(kUser, kPassword, c.serverAuth,
                              c.security == Security::None ? std::vector<std::string>()
                                                           : TlsArguments(certificates.sLocalhost, c.security));
        CSMTPConnection connection(c.host, server.port(), kUser, kPassword,
                                   Options(c.security, c.auth, c.caFile));
        ASSERT_TRUE(connection.Connect()) << connection.GetLastCommandResponse();
        CMailMessage mail = Mail();
        ASSERT_TRUE(connection.SendMessage(mail)) << connection.GetLastCommandResponse();
        EXPECT_TRUE(connection.Disconnect());
        EXPECT_EQ(Warnings(), std::vector<std::string>());

        const std::vector<ReceivedMail> mails = server.Mails();
        ASSERT_EQ(mails.size(), 1u);
        EXPECT_EQ(mails[0].First("auth_login"), c.auth == Auth::None ? "<none>" : kUser);
        EXPECT_EQ(mails[0].All("rcpt_to"), std::vector<std::string>{"ops@example.org"});
        EXPECT_EQ(mails[0].Header("Subject"), "Quotes alert");
        EXPECT_EQ(FromHex(mails[0].First("body_hex")), ".a line with a leading dot\r\nsecond line, caf\xc3\xa9");
    }
}

TEST_F(SMTPTlsTest, CertificatesThatDoNotProveTheServerAreRefusedUnlessVerificationIsOff) {
    const struct {
        const char* name;
        std::string certificate;
        std::string caFile;
        Security security;
        std::string reason;
        int error = kErrorUnexpectedReply;
        std::string host = "localhost";
    } cases[] = {
        {"another host name", certificates.sOtherHost, certificates.sCAFile, Security::StartTls, "hostname mismatch"},
        {"another address", certificates.sOtherHost, certificates.sCAFile, Security::Tls, "IP address mismatch",
         kErrorUnexpectedReply, "127.0.0.1"},
        {"expired", certificates.sExpired, certificates.sCAFile, Security::Tls, "certificate has expired"},
        {"another authority", certificates.sUntrusted, certificates.sCAFile, Security::Tls,
         "unable to get local issuer certificate"},
        {"the system's store, which lacks the test authority", certificates.sLocalhost, "", Security::Tls,
         "unable to get local issuer certificate"},
        {"a CA file that cannot be read", certificates.sLocalhost, certificates.sCAFile + ".missing", Security::Tls,
         "the CA file '" + certificates.sCAFile + ".missing' cannot be read", kErrorInvalidArgument},
        {"a CA file without a certificate", certificates.sLocalhost, certificates.sKey, Security::Tls,
         "the CA file '" + certificates.sKey + "' cannot be read", kErrorInvalidArgument},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpTestServer server(kUser, kPassword, "login", TlsArguments(c.certificate, c.security));
        {
            CSMTPConnection connection(c.host, server.port(), kUser, kPassword,
                                       Options(c.security, Auth::Login, c.caFile));
            EXPECT_FALSE(connection.Connect());
            EXPECT_FALSE(connection.IsConnected());
            EXPECT_EQ(connection.GetLastError(), c.error);
            CMailMessage mail = Mail();
            EXPECT_FALSE(connection.SendMessage(mail));
            const std::vector<std::string> warnings = Warnings();
            ASSERT_FALSE(warnings.empty());
            const std::string prefix = "TLS handshake with the SMTP server " + c.host + " on port " +
                                       std::to_string(server.port()) + " failed: ";
            EXPECT_EQ(warnings[0].rfind(prefix, 0), 0u) << warnings[0];
            EXPECT_NE(warnings[0].find(c.reason), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find(", GetLastError() returns: " + std::to_string(c.error)), std::string::npos);
        }
        EXPECT_EQ(server.Mails().size(), 0u);

        CSMTPConnection unchecked(c.host, server.port(), kUser, kPassword,
                                  Options(c.security, Auth::Login, c.caFile, false));
        ASSERT_TRUE(unchecked.Connect()) << unchecked.GetLastCommandResponse();
        CMailMessage mail = Mail();
        EXPECT_TRUE(unchecked.SendMessage(mail));
        EXPECT_EQ(server.Mails().size(), 1u);
    }
}

TEST_F(SMTPTlsTest, StartTlsIsNeverSkippedAndAFailedHandshakeEndsTheConnection) {
    const SmtpFaultServer::Step greeting{"", {"220 fault.test ESMTP\r\n"}};
    const SmtpFaultServer::Step ehloWithStartTls{"EHLO ", {"250-fault.test\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n"}};
    const std::string tlsFailed = "TLS handshake with the SMTP server 127.0.0.1 on port ";
    const struct {
        const char* name;
        Security security;
        SmtpFaultServer::Dialogue dialogue;
        std::string warning;  // the start of the one warning
        int lastError;
        std::string lastResponse;
    } cases[] = {
        {"STARTTLS not offered",
         Security::StartTls,
         {greeting, {"EHLO ", {"250-fault.test\r\n250-AUTH LOGIN PLAIN\r\n250 STARTTLSX\r\n"}},
          SmtpFaultServer::Quit()},
         "The SMTP server does not offer STARTTLS; the connection is closed rather than continued without "
         "encryption.",
         kErrorUnexpectedReply,
         "250-fault.test\r\n250-AUTH LOGIN PLAIN\r\n250 STARTTLSX"},
        {"STARTTLS refused",
         Security::StartTls,
         {greeting, ehloWithStartTls, {"STARTTLS", {"454 4.7.0 TLS not available\r\n"}}, SmtpFaultServer::Quit()},
         "An unexpected STARTTLS response was received.",
         kErrorUnexpectedReply,
         "454 4.7.0 TLS not available"},
        // A reply that follows the 220 before the handshake was not sent by
        // the server the handshake will prove.
        {"plain text injected after the 220",
         Security::StartTls,
         {greeting, ehloWithStartTls, {"STARTTLS", {"220 go ahead\r\n250 AUTH accepted\r\n"}},
          SmtpFaultServer::Quit()},
         "An unexpected STARTTLS response was received.",
         kErrorUnexpectedReply,
         "220 go ahead"},
        // After a failed handshake the last reply is its reason (any, from
        // OpenSSL, for the first), for the caller's own warning.
        {"a plain server where TLS is expected", Security::Tls, {{"", {"220 fault.test ESMTP\r\n"}, Then::Silence}},
         tlsFailed, kErrorUnexpectedReply, ""},
        {"a silent server", Security::Tls, {{"", {}, Then::Silence}}, tlsFailed, kErrorTimedOut,
         "the server did not answer in time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpFaultServer server({c.dialogue});
        {
            CSMTPConnection connection("127.0.0.1", server.port(), kUser, kPassword,
                                       Options(c.security, Auth::Login, certificates.sCAFile));
            connection.SetReplyTimeout(500);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(connection.Connect());
            EXPECT_LT(MillisecondsSince(start), 5000);
            EXPECT_FALSE(connection.IsConnected());
            EXPECT_EQ(connection.GetLastError(), c.lastError);
            const std::vector<std::string> warnings = Warnings();
            ASSERT_EQ(warnings.size(), 1u) << warnings.back();
            EXPECT_EQ(warnings[0].rfind(c.warning, 0), 0u) << warnings[0];
            if (c.warning == tlsFailed) {
                const std::string::size_type at = warnings[0].find(" failed: ") + 9;
                const std::string::size_type end = warnings[0].find(", GetLastError() returns: ");
                ASSERT_NE(end, std::string::npos) << warnings[0];
                EXPECT_EQ(warnings[0].substr(end + 26), std::to_string(c.lastError));
                const std::string reason = warnings[0].substr(at, end - at);
                EXPECT_TRUE(c.lastResponse.empty() ? !reason.empty() : reason == c.lastResponse) << reason;
                EXPECT_EQ(connection.GetLastCommandResponse(), "TLS handshake failed: " + reason);
                EXPECT_EQ(connection.GetLastCommandResponseCode(), 0);
            } else {
                EXPECT_EQ(connection.GetLastCommandResponse(), c.lastResponse);
            }
        }
        ASSERT_TRUE(server.Finish()) << server.Failure();
        EXPECT_EQ(server.Received().at(0).find("AUTH"), std::string::npos) << server.Received().at(0);
    }
}

// A build without TLS still runs: a server that needs TLS is reported
// unreachable, and nothing is sent to it in plain text.
class SMTPWithoutTlsTest : public MailFixture {};

TEST_F(SMTPWithoutTlsTest, TlsServersAreReportedUnreachable) {
    if (platform::TlsAvailable()) GTEST_SKIP() << "this build has TLS";
    for (const Security security : {Security::Tls, Security::StartTls}) {
        NewLog();
        SmtpFaultServer server({security == Security::Tls
                                    ? SmtpFaultServer::Dialogue{{"", {}, Then::Silence}}
                                    : SmtpFaultServer::Dialogue{{"", {"220 fault.test ESMTP\r\n"}},
                                                                {"EHLO ", {"250-fault.test\r\n250 STARTTLS\r\n"}},
                                                                {"STARTTLS", {"220 go ahead\r\n"}, Then::Silence}}});
        CSMTPConnection connection("127.0.0.1", server.port(), kUser, kPassword,
                                   Options(security, Auth::Login, ""));
        EXPECT_FALSE(connection.Connect());
        EXPECT_EQ(connection.GetLastError(), ENOTSUP);
        EXPECT_EQ(Warnings(), std::vector<std::string>{"TLS handshake with the SMTP server 127.0.0.1 on port " +
                                                       std::to_string(server.port()) +
                                                       " failed: TLS is not available in this build, "
                                                       "GetLastError() returns: " + std::to_string(ENOTSUP)});
    }
}

// The stream itself: a silent server times a handshake or a TLS read out, and
// the wake event (library unload) ends either at once.
TEST_F(SMTPTlsTest, HandshakesAndTlsReadsEndOnTheirTimeOutOrAtTheWakeEvent) {
    std::vector<std::string> silent = SmtpServerTlsArguments(certificates.sLocalhost, true);
    silent.push_back("--silent");
    SmtpTestServer silentTls(kUser, kPassword, "none", silent);
    const platform::TlsPeerCheck check{true, certificates.sCAFile};
    for (const bool bHandshake : {true, false}) {
        SCOPED_TRACE(bHandshake ? "handshake" : "TLS read");
        for (const bool bWake : {false, true}) {
            // A handshake waits on a server that accepts and says nothing; a
            // TLS read on one that completes the handshake and then says
            // nothing.
            std::optional<SmtpFaultServer> silentTcp;
            if (bHandshake) silentTcp.emplace(std::vector<SmtpFaultServer::Dialogue>{{{"", {}, Then::Silence}}});
            platform::WakeEvent wake;
            CTcpByteStream stream;
            stream.SetWakeEvent(&wake);
            int error = 0;
            std::string reason;
            ASSERT_EQ(stream.Connect("localhost", bHandshake ? silentTcp->port() : silentTls.port(), 5000, &error),
                      CByteStream::ConnectResult::Connected);
            if (!bHandshake) {
                ASSERT_TRUE(stream.StartTls("localhost", check, 5000, &error, &reason)) << reason;
            }
            std::thread waker;
            if (bWake) {
                waker = std::thread([&] {
                    // Gives the client time to be inside its wait; should it
                    // not be yet, it sees the event before it waits, with the
                    // same result.
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    wake.Signal();
                });
            }
            const int timeoutMs = bWake ? 60000 : 300;
            const auto start = std::chrono::steady_clock::now();
            char buffer[64];
            const bool bFailed = bHandshake ? !stream.StartTls("localhost", check, timeoutMs, &error, &reason)
                                            : stream.Receive(buffer, sizeof buffer, timeoutMs, &error) < 0;
            const long long elapsed = MillisecondsSince(start);
            if (waker.joinable()) waker.join();
            EXPECT_TRUE(bFailed);
            EXPECT_EQ(error, bWake ? kErrorCanceled : kErrorTimedOut);
            EXPECT_LT(elapsed, 5000);
            if (!bWake) {
                EXPECT_GE(elapsed, 250);
            }
            stream.Close();
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace vantrel
