#include "notify/SMTPReplyReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

// Feeds `pieces` one by one and collects every complete reply.
std::vector<std::string> Replies(CSMTPReplyReader& reader, const std::vector<std::string>& pieces) {
    std::vector<std::string> replies;
    std::string reply;
    for (const std::string& piece : pieces) {
        reader.Append(piece);
        while (reader.Next(reply) == CSMTPReplyReader::Status::Complete) replies.push_back(reply);
    }
    return replies;
}

TEST(SMTPReplyReader, AReplyIsCompleteOnlyAtItsLastLineHoweverItIsCut) {
    const std::string ehlo = "250-mx.example\r\n250-SIZE 1000\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n";
    const std::string ehloText = ehlo.substr(0, ehlo.size() - 2);
    const struct {
        std::vector<std::string> pieces;
        std::vector<std::string> replies;
        std::string pending;
    } cases[] = {
        {{"220 ready\r\n"}, {"220 ready"}, ""},
        {{"220 rea", "dy\r", "\n"}, {"220 ready"}, ""},
        {{ehlo}, {ehloText}, ""},
        // Split after a continuation line: nothing is handed out early.
        {{ehlo.substr(0, 16), ehlo.substr(16)}, {ehloText}, ""},
        {{ehlo.substr(0, 20), ehlo.substr(20, 30), ehlo.substr(50)}, {ehloText}, ""},
        // The next reply in the same receive stays for the next read.
        {{ehlo + "334 VXNlcm5hbWU6\r\n250 o"}, {ehloText, "334 VXNlcm5hbWU6"}, "250 o"},
        // A bare LF ends a line too; a code without text is a last line.
        {{"250-a\n250\n"}, {"250-a\n250"}, ""},
        // Only three digits and "-" announce another line.
        {{"25-x\r\n", "abcd-\r\n"}, {"25-x", "abcd-"}, ""},
        {{"000-x\r\n000 y\r\n"}, {"000-x\r\n000 y"}, ""},
        {{"\r\n"}, {""}, ""},
        {{"250-open\r\n"}, {}, "250-open\r\n"},
    };
    for (const auto& c : cases) {
        CSMTPReplyReader reader;
        EXPECT_EQ(Replies(reader, c.pieces), c.replies) << c.pieces.front();
        EXPECT_EQ(reader.Pending(), c.pending) << c.pieces.front();
    }
}

TEST(SMTPReplyReader, ReplyCodes) {
    const struct {
        const char* reply;
        int code;
    } cases[] = {{"250 ok", 250}, {"334", 334}, {"25", 0}, {"2x0 ok", 0}, {"", 0}, {"999-x", 999}};
    for (const auto& c : cases) EXPECT_EQ(SMTPReplyCode(c.reply), c.code) << c.reply;
}

TEST(SMTPReplyReader, AnEhloReplyOffersAnExtensionOnlyAsTheFirstWordOfALineAfterTheFirst) {
    const struct {
        const char* reply;
        bool bOffered;
    } cases[] = {
        {"250-mx.example\r\n250-SIZE 1000\r\n250 STARTTLS", true},
        {"250-mx.example\r\n250-starttls\r\n250 HELP", true},
        {"250-mx.example\n250 StartTLS extra words", true},
        {"250 STARTTLS", false},  // the first line names the server
        {"250-mx.example\r\n250-STARTTLSX\r\n250 XSTARTTLS", false},
        {"250-mx.example\r\n250-AUTH STARTTLS\r\n250 HELP", false},
        {"250-mx.example\r\nSTARTTLS\r\n250 HELP", false},
        {"250-mx.example\r\n250-\r\n250", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SMTPReplyOffers(c.reply, "STARTTLS"), c.bOffered) << c.reply;
}

TEST(SMTPReplyReader, AReplyBeyondTheLimitFailsUntilCleared) {
    CSMTPReplyReader reader(16);
    std::string reply;
    reader.Append("250-0123456789\r\n");  // 16 bytes: still within the limit
    EXPECT_EQ(reader.Next(reply), CSMTPReplyReader::Status::Incomplete);
    reader.Append("2");
    EXPECT_EQ(reader.Next(reply), CSMTPReplyReader::Status::TooLong);
    reader.Append("50 end\r\n");
    EXPECT_EQ(reader.Next(reply), CSMTPReplyReader::Status::TooLong);
    reader.Clear();
    reader.Append("221 bye\r\n");
    EXPECT_EQ(reader.Next(reply), CSMTPReplyReader::Status::Complete);
    EXPECT_EQ(reply, "221 bye");
}

}  // namespace
}  // namespace vantrel
