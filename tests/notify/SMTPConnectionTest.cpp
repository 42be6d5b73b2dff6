// The SMTP dialogue against a scripted server: login, transactions, and the
// faults a real server or network produces.
#include "notify/SMTPConnection.h"

#include "notify/MailRequests.h"
#include "platform/ErrorCodes.h"
#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpFaultServer.h"

namespace vantrel {
namespace test {
namespace {

using platform::kErrorConnectionRefused;
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

class SMTPConnectionTest : public MailFixture {};

TEST_F(SMTPConnectionTest, LoginDialogues) {
    const struct {
        const char* name;
        Dialogue dialogue;
        bool bConnected;
        std::vector<std::string> warnings;
        std::string lastResponse;
        int lastError;
        int replyTimeoutMs = 5000;
        SMTPOptions::Auth auth = SMTPOptions::Auth::Login;
        // When set, the last response is only checked to lack it.
        const char* notIn = nullptr;
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
        // once (code 0), long before the reply time-out. A connection that
        // failed gets no QUIT.
        {"close mid-reply", {kGreeting, {"EHLO ", {"250-fault.test\r\n"}, Then::Close}}, false,
         {"An unexpected EHLO response was received."}, "250-fault.test\r\n", 0, 60000},
        {"silence", {kGreeting, {"EHLO ", {}, Then::Silence}}, false, {"An unexpected EHLO response was received."}, "",
         kErrorTimedOut, 300},
        // A byte every 200 ms never lets the silence run out: the reply's
        // deadline cuts it, long before its last byte.
        {"dripping greeting",
         {{"", {"220 ", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t"},
           Then::Silence}},
         false, {"An unexpected SMTP login response was received."}, "", kErrorTimedOut, 600,
         SMTPOptions::Auth::Login, "t"},
        // A server that echoes the credentials never gets them into a warning.
        {"password echoed in base64 (AUTH LOGIN)",
         {kGreeting, kEhlo, kAuth, kUser, {SmtpFaultServer::kAnyLine, {"535 5.7.8 bad credentials: U203cC1QYTU1\r\n"}},
          SmtpFaultServer::Quit()},
         false, {"An unexpected password response was received."}, "535 5.7.8 bad credentials: ****",
         kErrorUnexpectedReply},
        {"credentials echoed plain and in base64 (AUTH PLAIN)",
         {kGreeting, kEhlo,
          {"AUTH PLAIN ", {"535-5.7.8 rejected AGFsZXJ0cwBTbTdwLVBhNTU= (alerts/Sm7p-Pa55)\r\n535 5.7.8 U203cC1QYTU1\r\n"}},
          SmtpFaultServer::Quit()},
         false, {"An unexpected AUTH PLAIN response was received."},
         "535-5.7.8 rejected **** (alerts/****)\r\n535 5.7.8 ****", kErrorUnexpectedReply, 5000,
         SMTPOptions::Auth::Plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpFaultServer server({c.dialogue});
        {
            SMTPOptions options;
            options.auth = c.auth;
            CSMTPConnection connection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55", options);
            connection.SetReplyTimeout(c.replyTimeoutMs);
            EXPECT_EQ(connection.Connect(), c.bConnected);
            EXPECT_EQ(connection.IsConnected(), c.bConnected);
            EXPECT_EQ(Warnings(), c.warnings);
            if (c.notIn != nullptr) {
                EXPECT_EQ(connection.GetLastCommandResponse().rfind("220 ", 0), 0u);
                EXPECT_EQ(connection.GetLastCommandResponse().find(c.notIn), std::string::npos);
            } else {
                EXPECT_EQ(connection.GetLastCommandResponse(), c.lastResponse);
            }
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

// What one mail costs as the server behaves: a connection the server closed
// while idle is replaced without a word; a failure that may pass (4xx) is
// tried once more over a new connection; a refusal (5xx) and an end of mail
// left unanswered (the server may have taken it) are not. A dropped mail ends
// with one warning that names its reason.
TEST_F(SMTPConnectionTest, AMailIsRetriedOnlyWhenTheFailureMayPass) {
    const Dialogue loggedIn = SmtpFaultServer::LoggedIn();
    const Dialogue delivered = SmtpFaultServer::Join({loggedIn, SmtpFaultServer::Transaction(1), {SmtpFaultServer::Quit()}});
    const SmtpFaultServer::Step mailAccepted{"MAIL FROM:<", {"250 OK\r\n"}};
    const SmtpFaultServer::Step rcptAccepted{"RCPT TO:<", {"250 OK\r\n"}};
    const struct {
        const char* name;
        std::vector<Dialogue> dialogues;
        bool bConnectFirst;  // as the mail thread's connection test would
        bool bDelivered;
        std::vector<std::string> warnings;
        bool bIdleClose = false;  // the first connection ends before the mail
        std::size_t nMessagesSeen = bDelivered ? 1 : 0;  // by the server
    } cases[] = {
        {"closed while idle", {SmtpFaultServer::Join({loggedIn, {{"", {}, Then::Close}}}), delivered}, true, true, {}, true},
        {"421 while idle", {SmtpFaultServer::Join({loggedIn, {{"", {"421 4.4.2 idle too long\r\n"}, Then::Close}}}), delivered},
         true, true, {}, true},
        {"4xx retried",
         {SmtpFaultServer::Join({loggedIn, {{"MAIL FROM:<", {"451 4.3.0 try later\r\n"}}, SmtpFaultServer::Quit()}}),
          delivered},
         true, true, {"An unexpected MAIL response was received."}},
        {"5xx recipient not retried",
         {SmtpFaultServer::Join({loggedIn, {mailAccepted, {"RCPT TO:<", {"550 5.1.1 no such user\r\n"}}, SmtpFaultServer::Quit()}})},
         true, false,
         {"An unexpected RCPT response was received.", "Failed to send the SMTP message: 550 5.1.1 no such user"}},
        {"535 not retried",
         {{kGreeting, kEhlo, kAuth, kUser, {SmtpFaultServer::kAnyLine, {"535 5.7.8 invalid credentials\r\n"}},
           SmtpFaultServer::Quit()}},
         false, false,
         {"An unexpected password response was received.",
          "Failed to connect to the SMTP server: 535 5.7.8 invalid credentials"}},
        {"end of mail unanswered not retried",
         {SmtpFaultServer::Join({loggedIn, {mailAccepted, rcptAccepted, {"DATA", {"354 go on\r\n"}},
                                            {SmtpFaultServer::kData, {}, Then::Silence}}})},
         true, false,
         {"An unexpected end of message response was received.",
          "Failed to send the SMTP message: no reply within 300 ms; the server may have taken the mail, which is not "
          "sent again"},
         false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewLog();
        SmtpFaultServer server(c.dialogues);
        {
            SMTPOptions options;
            options.timeouts.replyMs = 5000;
            options.timeouts.endOfDataMs = 300;
            CMailRequest request =
                Request(new CSMTPConnection("127.0.0.1", server.port(), "alerts", "Sm7p-Pa55", options));
            if (c.bConnectFirst) {
                ASSERT_TRUE(request.pSMTPConnection->Connect());
            }
            if (c.bIdleClose) {
                ASSERT_TRUE(server.WaitForDialogues(1));
            }
            EXPECT_EQ(request.SendMail(), c.bDelivered);
            EXPECT_EQ(Warnings(), c.warnings);
        }
        EXPECT_TRUE(server.Finish()) << server.Failure();
        EXPECT_EQ(server.Messages().size(), c.nMessagesSeen);
    }
}

// No false "MAIL command" warning: a connection known to be closed is
// connected, twice, and the mail is dropped naming the reason.
TEST_F(SMTPConnectionTest, WithTheServerDownAMailCostsTwoConnectionAttemptsThenIsDropped) {
    const ClosedPort down;
    CMailRequest request = Request(new CSMTPConnection("127.0.0.1", down.port(), "alerts", "Sm7p-Pa55"));
    EXPECT_FALSE(request.SendMail());
    const std::string refused = "Could not connect to the SMTP server 127.0.0.1 on port " + std::to_string(down.port()) +
                                ", GetLastError() returns: " + std::to_string(kErrorConnectionRefused);
    EXPECT_EQ(Warnings(), (std::vector<std::string>{
                              refused, refused,
                              "Failed to connect to the SMTP server: socket error " +
                                  std::to_string(kErrorConnectionRefused)}));

    CMailRequest orphan;
    EXPECT_FALSE(orphan.SendMail());
    EXPECT_EQ(Warnings().back(), "Failed to send the SMTP message: pSMTPConnection pointer is NULL.");
}

}  // namespace
}  // namespace test
}  // namespace vantrel
