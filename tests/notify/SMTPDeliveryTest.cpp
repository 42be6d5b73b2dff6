// Mails sent through a real SMTP server (aiosmtpd) and read back with
// Python's email package.
#include "notify/SMTPConnection.h"

#include "tests/notify/MailFixture.h"
#include "tests/support/SmtpTestServer.h"

namespace vantrel {
namespace test {
namespace {

class SMTPDeliveryTest : public MailFixture {
protected:
    SmtpTestServer server;
};

// Bytes 0 to 255, repeated to `size`.
std::string Bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 256);
    return bytes;
}

TEST_F(SMTPDeliveryTest, MailsArriveIntactWithTheirHeadersEnvelopeAndAttachments) {
    const std::string body =
        ".first line starts with a dot\n"
        "a=b and =3D stay as typed; caf\xc3\xa9 \xff\x80 bytes above 127\n"
        ".\n"
        "trailing blank \n" +
        std::string(200, 'L') + "\n\tlast line without an end";
    const struct {
        const char* name;
        std::size_t size;
    } files[] = {{"empty.bin", 0}, {"one line.bin", 57}, {"big;data.bin", 100000}};

    CSMTPConnection connection("127.0.0.1", server.port(), server.user(), server.password());
    ASSERT_TRUE(connection.Connect()) << connection.GetLastCommandResponse();

    CMailMessage plain;
    plain.m_From = CMailAddress("feed@example.org");
    plain.AddRecipient(CMailAddress("ops1@example.org"));
    plain.AddRecipient(CMailAddress("ops2@example.org"));
    plain.AddRecipient(CMailAddress("desk@example.org"), CMailMessage::CC);
    plain.AddRecipient(CMailAddress("audit@example.org"), CMailMessage::BCC);
    plain.m_sSubject = "Quotes alert";
    plain.SetBody(body);
    ASSERT_TRUE(connection.SendMessage(plain)) << connection.GetLastCommandResponse();

    CMailMessage attached;
    attached.m_From = CMailAddress("feed@example.org", "Quote Feed");
    attached.AddRecipient(CMailAddress("ops1@example.org"));
    attached.SetBody(body);
    for (const auto& file : files) {
        WriteFile(dir / file.name, Bytes(file.size));
        CMailAttachment attachment;
        attachment.Attach(dir / file.name);
        attached.AddAttachment(attachment);
    }
    ASSERT_TRUE(connection.SendMessage(attached)) << connection.GetLastCommandResponse();
    EXPECT_EQ(Warnings(), std::vector<std::string>());

    // The server has stored both before it acknowledged them.
    const std::vector<ReceivedMail> mails = server.Mails();
    ASSERT_EQ(mails.size(), 2u);
    // Line ends come back as CR LF, the mail's own; nothing else changes.
    std::string decoded;
    for (const char c : body) decoded += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const ReceivedMail& first = mails[0];
    EXPECT_EQ(first.First("mail_from"), "feed@example.org");
    EXPECT_EQ(first.All("rcpt_to"), (std::vector<std::string>{"ops1@example.org", "ops2@example.org",
                                                               "desk@example.org", "audit@example.org"}));
    EXPECT_EQ(first.First("auth_login"), server.user());
    EXPECT_EQ(first.Header("From"), "feed@example.org");
    EXPECT_EQ(first.Header("To"), "ops1@example.org, ops2@example.org");
    EXPECT_EQ(first.Header("Cc"), "desk@example.org");
    EXPECT_EQ(first.Header("Bcc"), "<none>");
    EXPECT_EQ(first.First("date_ok"), "1");
    EXPECT_EQ(FromHex(first.First("body_hex")), decoded);

    const ReceivedMail& second = mails[1];
    EXPECT_EQ(second.Header("From"), "Quote Feed <feed@example.org>");
    EXPECT_EQ(FromHex(second.First("body_hex")), decoded);
    const std::vector<std::string> parts = second.All("attachment");
    ASSERT_EQ(parts.size(), 3u);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        const std::string::size_type a = parts[i].find(' '), b = parts[i].find(' ', a + 1);
        EXPECT_EQ(FromHex(parts[i].substr(0, a)), files[i].name);
        EXPECT_EQ(FromHex(parts[i].substr(a + 1, b - a - 1)), files[i].name);  // no directories
        EXPECT_EQ(FromHex(parts[i].substr(b + 1)), Bytes(files[i].size));
    }
    EXPECT_TRUE(connection.Disconnect());
    EXPECT_EQ(LogText().find(server.password()), std::string::npos);
}

TEST_F(SMTPDeliveryTest, AWrongPasswordIsRefusedWithTheServersReply) {
    CSMTPConnection connection("127.0.0.1", server.port(), server.user(), "not-the-password");
    EXPECT_FALSE(connection.Connect());
    EXPECT_EQ(Warnings(), std::vector<std::string>{"An unexpected password response was received."});
    EXPECT_EQ(connection.GetLastCommandResponseCode(), 535) << connection.GetLastCommandResponse();
}

}  // namespace
}  // namespace test
}  // namespace vantrel
