#include "notify/MailMessage.h"

#include <cstdlib>
#include <ctime>
#include <set>
#include <stdexcept>

#include "tests/notify/MailFixture.h"

namespace vantrel {
namespace test {
namespace {

TEST(MailDate, ZonesAndEnglishNames) {
    const struct {
        int offset;
        const char* zone;
    } zones[] = {{60, "+0100"}, {-300, "-0500"}, {330, "+0530"}, {-210, "-0330"}, {0, "+0000"}, {-30, "-0030"}};
    for (const auto& z : zones) EXPECT_EQ(FormatZone(z.offset), z.zone) << z.offset;

    platform::LocalTime local;
    local.nYear = 2024, local.nMonth = 12, local.nDay = 8, local.nHour = 21, local.nMinute = 5, local.nSecond = 9;
    local.nWeekday = 0, local.nUtcOffsetMinutes = 330;
    EXPECT_EQ(FormatMailDate(local), "Sun, 08 Dec 2024 21:05:09 +0530");
}

// Windows takes its zone from the system settings, not from TZ.
#if !defined(_WIN32)
TEST(MailDate, LocalTimeFollowsTheZoneWithItsOffset) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    const struct {
        const char* tz;
        const char* date;
    } cases[] = {
        {"IST-5:30", "Mon, 09 Dec 2024 02:50:00 +0530"},
        {"NST3:30", "Sun, 08 Dec 2024 17:50:00 -0330"},
        {"UTC0", "Sun, 08 Dec 2024 21:20:00 +0000"},
    };
    for (const auto& c : cases) {
        ::setenv("TZ", c.tz, 1);
        platform::LocalTime local;
        ASSERT_TRUE(platform::ToLocalTime(1733692800123, local));  // 2024-12-08 21:20:00.123 UTC
        EXPECT_EQ(FormatMailDate(local), c.date) << c.tz;
    }
    if (saved) ::setenv("TZ", previous.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
}
#endif

TEST(MailMessage, HeaderBlocks) {
    CMailMessage plain;
    plain.m_From = CMailAddress("feed@example.org");
    plain.AddRecipient(CMailAddress("a@example.org"));
    plain.AddRecipient(CMailAddress("b@example.org", "Ops B"));
    plain.AddRecipient(CMailAddress("hidden@example.org"), CMailMessage::BCC);
    plain.m_sSubject = "Quotes";
    EXPECT_EQ(plain.GetHeader("DATE"),
              "From: feed@example.org\r\nTo: a@example.org, Ops B <b@example.org>\r\nSubject: Quotes\r\n"
              "Date: DATE\r\nMessage-ID: " + plain.GetMessageId() + "\r\nX-Mailer: Corvel CSMTPConnection v1.3\r\n"
              "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\n");

    CMailMessage mixed;
    mixed.m_From = SenderAddress("Vantrel Feed <feed@example.org>");
    mixed.AddRecipient(CMailAddress("a@example.org"));
    mixed.AddRecipient(CMailAddress("c@example.org"), CMailMessage::CC);
    mixed.m_ReplyTo = CMailAddress("desk@example.org");
    mixed.m_sSubject = "Kurs\xC3\xA4nderung";
    mixed.SetBody("caf\xC3\xA9");
    CMailAttachment attachment;
    attachment.Attach("/var/log/report.txt");
    mixed.AddAttachment(attachment);
    EXPECT_EQ(mixed.GetHeader("DATE"),
              "From: Vantrel Feed <feed@example.org>\r\nTo: a@example.org\r\nCc: c@example.org\r\n"
              "Subject: =?UTF-8?B?S3Vyc8OkbmRlcnVuZw==?=\r\nDate: DATE\r\nMessage-ID: " + mixed.GetMessageId() +
              "\r\nX-Mailer: Corvel CSMTPConnection v1.3\r\nReply-To: desk@example.org\r\n"
              "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"" + mixed.GetBoundary() + "\"\r\n\r\n");
    EXPECT_STREQ(mixed.GetBodyCharset(), "UTF-8");

    // Each mail its own Message-ID (on the sender's domain) and boundary.
    std::set<std::string> ids, boundaries;
    for (int i = 0; i < 100; ++i) {
        CMailMessage message;
        message.m_From = CMailAddress("feed@example.org");
        ids.insert(message.GetMessageId());
        boundaries.insert(message.GetBoundary());
    }
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(boundaries.size(), 100u);
    EXPECT_NE(ids.begin()->find("@example.org>"), std::string::npos);
    EXPECT_EQ(SenderAddress("not an address").m_sAddress, "not an address");
}

TEST(MailMessage, Recipients) {
    CMailMessage message;
    EXPECT_EQ(message.AddRecipient(CMailAddress("a@x")), 0);
    EXPECT_EQ(message.AddRecipient(CMailAddress("b@x")), 1);
    EXPECT_EQ(message.AddRecipient(CMailAddress("c@x"), 3), -1);
    EXPECT_EQ(message.GetRecipient(1).m_sAddress, "b@x");
    EXPECT_EQ(message.GetRecipient(0, 7).m_sAddress, "");
    EXPECT_THROW(message.GetRecipient(0, CMailMessage::CC), std::invalid_argument);
}

TEST(MailAttachment, PartHeaderNamesTheFileWithoutItsDirectories) {
    const struct {
        const char* path;
        const char* title;
        const char* parameter;  // after "name" and "filename"
    } cases[] = {
        {"/var/log/report.txt", "report.txt", "=\"report.txt\""},
        {"/data/q 1;x.log", "q 1;x.log", "=\"q 1;x.log\""},
#if defined(_WIN32)
        // "\" separates directories on Windows: the title is the file's own name.
        {"a\"b\\c", "c", "=\"c\""},
        {"C:\\reports\\daily report.txt", "daily report.txt", "=\"daily report.txt\""},
#else
        {"a\"b\\c", "a\"b\\c", "=\"a\\\"b\\\\c\""},
#endif
    };
    for (const auto& c : cases) {
        CMailAttachment attachment;
        EXPECT_TRUE(attachment.Attach(c.path));
        EXPECT_EQ(attachment.GetTitle(), c.title);
        EXPECT_EQ(attachment.GetPartHeader("B"),
                  std::string("\r\n\r\n--B\r\nContent-Type: application/octet-stream; name") + c.parameter +
                      "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename" +
                      c.parameter + "\r\n\r\n");
    }
}

class MailAttachmentTest : public MailFixture {};

TEST_F(MailAttachmentTest, EncodingReadsTheWholeFileOrWarns) {
    const std::string file = dir / "57.bin";
    WriteFile(file, std::string(57, '\x01'));
    CMailAttachment attachment;
    attachment.Attach(file);
    ASSERT_TRUE(attachment.Encode());
    std::string line;
    for (int i = 0; i < 19; ++i) line += "AQEB";
    EXPECT_EQ(attachment.GetEncoded(), line + "\r\n\r\n");  // one line of 76, its end, the final end
    const CMailAttachment copy(attachment);
    EXPECT_FALSE(copy.IsEncoded());
    EXPECT_EQ(copy.GetPath(), file);

    CMailAttachment missing;
    missing.Attach(dir / "absent.txt");
    EXPECT_FALSE(missing.Encode());
    CMailAttachment directory;
    directory.Attach(dir.path());
    EXPECT_FALSE(directory.Encode());
    EXPECT_EQ(Warnings(), (std::vector<std::string>{
                              "Failed to get the status for file '" + (dir / "absent.txt") + "', probably does not exist.",
                              "Failed to open file to be attached.",
                          }));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
