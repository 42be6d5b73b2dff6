// The SMTP dialogue against a scripted server: login, transactions, and the
// faults a real server or network produces.
#include "notify/SMTPConnection.h"

#include <chrono>

#include "notify/MailRequests.h"
#include "platform/ErrorCodes.h"
#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpFaultServer.h"

namespace vantrel {
namespace test {
namespace {

using platform::kErrorConnectionRefused;
using platform::kErrorNotConnected;
using platform::kErrorTimedOut;
using platform::kErrorUnexpectedReply;

using Dialogue = SmtpFaultServer::Dialogue;
using Then = SmtpFaultServer::Then;

const SmtpFaultServer::Step kGreeting{"", {"220 fault.test ESMTP\r\n"}};
const SmtpFaultServer::Step kEhlo{"EHLO ", {"250-fault.test\r\n250 AUTH LOGIN\r\n"}};
const SmtpFaultServer::Step kAuth{"AUTH LOGIN", {"334 VXNlcm5hbWU6\r\n"}};
const SmtpFaultServer::Step kUser{SmtpFaultServer::kAnyLine, {"334 UGFzc3dvcmQ6\r\n"}};
const SmtpFaultServer::Step kPassword{SmtpFaultServer::kAnyLine, {"235 2.7.0 Authentication successful\r\n"}};
const std::string kAccepted = "235 2.7.0 Authentication successful";

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class SMTPConnectionTest : public MailFixture {};

TEST_F(SMTPConnectionTest, LoginDialogues) {
    const struct {
        const char* name;
        Dialogue dialogue;
        bool bConnected;
        std::vector<std::string> warnings;
        std::string lastResponse;
        int lastError;
        int replyTimeoutMs = CSMTPConnection::kReplyTimeoutMs;
        long long minMs = 0, maxMs = 30000;
    } cases[] = {
        {"greeting not 220", {{"", {"554 5.3.2 no service\r\n"}}, SmtpFaultServer::Quit()}, false,
         {"An unexpected SMTP login response was received."}, "554 5.3.2 no service", kErrorUnexpectedReply},
        {"AUTH LOGIN refused", {kGreeting, kEhlo, {"AUTH LOGIN", {"502 5.5.2 not implemented\r\n"}}, SmtpFaultServer::Quit()},
         false, {"An unexpected AUTH LOGIN response was received."}, "502 5.5.2 not implemented", kErrorUnexpectedReply},
        {"prompts in other letter case",
         {kGreeting, kEhlo, {"AUTH LOGIN", {"334 VVNFUk5BTUU6\r\n"}}, {SmtpFaultServer::kAnyLine, {"334 cGFzc3dvcmQ6\r\n"}},
          kPassword, SmtpFaultServer::Quit()},
         true, {}, kAccepted, 0},
        {"unknown prompt", {kGreeting, kEhlo, {"AUTH LOGIN", {"334 Rm9vOg==\r\n"}}, SmtpFaultServer::Quit()}, false,
         {"An unexpected username response was received."}, "334 Rm9vOg==", kErrorUnexpectedReply},
        {"multi-line EHLO in two segments",
         {kGreeting, {"EHLO ", {"250-fault.test\r\n250-SIZE 1000\r\n", "250-AUTH LOGIN\r\n250 HELP\r\n"}}, kAuth, kUser,
          kPassword, SmtpFaultServer::Quit()},
         true, {}, kAccepted, 0},
        {"password refused",
         {kGreeting, kEhlo, kAuth, kUser, {SmtpFaultServer::kAnyLine, {"535 5.7.8 invalid credentials\r\n"}},
          SmtpFaultServer::Quit()},
         false, {"An unexpected password response was received."}, "535 5.7.8 invalid credentials", kErrorUnexpectedReply},
        // The server closes before the reply is complete: the read fails at
        // once (code 0), long before the reply time-out.
        {"close mid-reply", {kGreeting, {"EHLO ", {"250-fault.test\r\n"}, Then::Close}}, false,
         {"An unexpected QUIT response was received.", "An unexpected EHLO response was received."},
         "250-fault.test\r\n", 0, 60000, 0, 30000},
        // Silence: the EHLO reply and then QUIT's each time out.
        {"silence", {kGreeting, {"EHLO ", {}, Then::Silence}}, false,
         {"An unexpected QUIT response was received.", "An unexpected EHLO response was received."}, "", kErrorTimedOut,
         CSMTPConnection::kReplyTimeoutMs, 2 * CSMTPConnection::kReplyTimeoutMs, 30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpFaultServer server({c.dialogue});
        {
            CSMTPConnection connection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55");
            connection.SetReplyTimeout(c.replyTimeoutMs);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(connection.Connect(), c.bConnected);
            const long long elapsed = MillisecondsSince(start);
            EXPECT_GE(elapsed, c.minMs);
            EXPECT_LT(elapsed, c.maxMs);
            EXPECT_EQ(connection.IsConnected(), c.bConnected);
            EXPECT_EQ(Warnings(), c.warnings);
            EXPECT_EQ(connection.GetLastCommandResponse(), c.lastResponse);
            EXPECT_EQ(connection.GetLastError(), c.lastError);
        }
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

TEST_F(SMTPConnectionTest, LoginSendsTheCredentialsInBase64AndNeverLogsThem) {
    SmtpFaultServer server({SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), {SmtpFaultServer::Quit()}})});
    {
        CSMTPConnection connection("localhost", server.port(), "alerts", "Sm7p-Pa55");
        ASSERT_TRUE(connection.Connect());
        EXPECT_TRUE(connection.Disconnect());
        EXPECT_EQ(connection.GetLastCommandResponse(), "221 Bye");
        EXPECT_TRUE(connection.Disconnect());  // not connected any more: an event, true
    }
    ASSERT_TRUE(server.Finish()) << server.Failure();
    const std::string& received = server.Received().at(0);
    EXPECT_NE(received.find("\r\nAUTH LOGIN\r\nYWxlcnRz\r\nU203cC1QYTU1\r\nQUIT\r\n"), std::string::npos) << received;
    EXPECT_EQ(LogText().find("Sm7p-Pa55"), std::string::npos);
    EXPECT_EQ(LogText().find("U203cC1QYTU1"), std::string::npos);
    EXPECT_EQ(CountLogLines("event: Already disconnected from SMTP server, doing nothing."), 1u);
}

TEST_F(SMTPConnectionTest, TransactionSendsRecipientsInOrderAndStuffsADotAtTheVeryStart) {
    SmtpFaultServer server(
        {SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), SmtpFaultServer::Transaction(3), {SmtpFaultServer::Quit()}})});
    {
        CSMTPConnection connection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55");
        ASSERT_TRUE(connection.Connect());
        CMailMessage message;
        message.m_From = CMailAddress("feed@example.org", "Feed");
        message.AddRecipient(CMailAddress("to@example.org"), CMailMessage::TO);
        message.AddRecipient(CMailAddress("cc@example.org"), CMailMessage::CC);
        message.AddRecipient(CMailAddress("bcc@example.org"), CMailMessage::BCC);
        message.SetBody(".hidden\n.\nend");
        EXPECT_TRUE(connection.SendMessage(message));
        EXPECT_EQ(Warnings(), std::vector<std::string>());
    }
    ASSERT_TRUE(server.Finish()) << server.Failure();
    const std::string& received = server.Received().at(0);
    EXPECT_NE(received.find("MAIL FROM:<feed@example.org>\r\nRCPT TO:<to@example.org>\r\nRCPT TO:<cc@example.org>\r\n"
                            "RCPT TO:<bcc@example.org>\r\nDATA\r\n"),
              std::string::npos)
        << received;
    const std::string& data = server.Messages().at(0);
    EXPECT_EQ(data.find("bcc@"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\n\r\n..hidden\r\n..\r\nend=\r\n"), std::string::npos) << data;
}

TEST_F(SMTPConnectionTest, RefusedTransactionStepsFailWithTheirWarningAndReply) {
    const struct {
        const char* name;
        Dialogue steps;
        const char* warning;
        const char* reply;
    } cases[] = {
        {"MAIL", {{"MAIL FROM:<", {"451 4.3.0 try later\r\n"}}}, "An unexpected MAIL response was received.",
         "451 4.3.0 try later"},
        {"RCPT", {{"MAIL FROM:<", {"250 OK\r\n"}}, {"RCPT TO:<", {"550 5.1.1 no such user\r\n"}}},
         "An unexpected RCPT response was received.", "550 5.1.1 no such user"},
        {"DATA", {{"MAIL FROM:<", {"250 OK\r\n"}}, {"RCPT TO:<", {"250 OK\r\n"}}, {"DATA", {"554 5.5.1 no\r\n"}}},
         "An unexpected DATA response was received.", "554 5.5.1 no"},
        {"end of data",
         {{"MAIL FROM:<", {"250 OK\r\n"}}, {"RCPT TO:<", {"250 OK\r\n"}}, {"DATA", {"354 go on\r\n"}},
          {SmtpFaultServer::kData, {"552 5.3.4 too big\r\n"}}},
         "An unexpected end of message response was received.", "552 5.3.4 too big"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpFaultServer server({SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), c.steps, {SmtpFaultServer::Quit()}})});
        {
            CSMTPConnection connection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55");
            ASSERT_TRUE(connection.Connect());
            CMailMessage message;
            message.m_From = CMailAddress("feed@example.org");
            message.AddRecipient(CMailAddress("ops@example.org"));
            message.SetBody("text");
            EXPECT_FALSE(connection.SendMessage(message));
            EXPECT_EQ(Warnings(), std::vector<std::string>{c.warning});
            EXPECT_EQ(connection.GetLastCommandResponse(), c.reply);
            EXPECT_EQ(connection.GetLastError(), kErrorUnexpectedReply);
        }
        EXPECT_TRUE(server.Finish()) << server.Failure();
    }
}

CMailRequest Request(CSMTPConnection* pConnection) {
    CMailRequest request;
    request.pSMTPConnection = CSMTPConnectionRef(pConnection);
    request.sSender = "feed@example.org";
    request.recipients = {"ops@example.org"};
    request.sSubject = "alert";
    request.sBody = "<20241208-21:20:00, Warning>: text";
    return request;
}

TEST_F(SMTPConnectionTest, AFailedSendReconnectsAndTheRetryDeliversTheMailOnce) {
    // The server drops the idle connection; the mail's first attempt fails.
    SmtpFaultServer server({SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), {{"", {}, Then::Close}}}),
                            SmtpFaultServer::Join({SmtpFaultServer::LoggedIn(), SmtpFaultServer::Transaction(1),
                                                   {SmtpFaultServer::Quit()}})});
    {
        CMailRequest request = Request(new CSMTPConnection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55"));
        ASSERT_TRUE(request.pSMTPConnection->Connect());
        EXPECT_TRUE(request.SendMail());
    }
    ASSERT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(server.Messages().size(), 1u);
    for (const std::string& warning : Warnings()) EXPECT_EQ(warning.find("Failed to "), std::string::npos) << warning;
}

TEST_F(SMTPConnectionTest, WithTheServerDownAMailCostsOneSendAndOneReconnectThenIsDropped) {
    const ClosedPort down;
    CMailRequest request = Request(new CSMTPConnection("127.0.0.1", down.port(), "alerts", "Sm7p-Pa55"));
    EXPECT_FALSE(request.SendMail());
    EXPECT_EQ(Warnings(), (std::vector<std::string>{
                              "Failed in call to send MAIL command, GetLastError() returns: " + std::to_string(kErrorNotConnected),
                              "Could not connect to the SMTP server 127.0.0.1 on port " + std::to_string(down.port()) +
                                  ", GetLastError() returns: " + std::to_string(kErrorConnectionRefused),
                              "Failed to connect to the SMTP server: ",
                          }));
    EXPECT_EQ(CountLogLines("event: Already disconnected from SMTP server, doing nothing."), 2u);

    CMailRequest orphan;
    EXPECT_FALSE(orphan.SendMail());
    EXPECT_EQ(Warnings().back(), "Failed to send the SMTP message: pSMTPConnection pointer is NULL.");
}

}  // namespace
}  // namespace test
}  // namespace vantrel
