// The pure pieces of a mail's form: addresses, the EHLO name, header folding,
// encoded words and MIME parameters, Message-ID and boundary.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "notify/EhloName.h"
#include "notify/EncodedWords.h"
#include "notify/HeaderFolding.h"
#include "notify/MailAddressParser.h"
#include "notify/MailEncoding.h"
#include "notify/MessageId.h"

namespace vantrel {
namespace test {
namespace {

TEST(MailAddressParser, SettingForms) {
    const struct {
        std::string text;
        bool ok;
        const char* name;
        const char* address;
    } cases[] = {
        {"quotes-feed@example.com", true, "", "quotes-feed@example.com"},
        {"  <ops@example.com> ", true, "", "ops@example.com"},
        {"Vantrel Feed <quotes-feed@example.com>", true, "Vantrel Feed", "quotes-feed@example.com"},
        {"\"Feed, \\\"Ops\\\" <x>\" <a.b+c@mail.example.com>", true, "Feed, \"Ops\" <x>", "a.b+c@mail.example.com"},
        {"Zo\xC3\xAB <zoe@example.com>", true, "Zo\xC3\xAB", "zoe@example.com"},
        {"\"odd local\"@example.com", true, "", "\"odd local\"@example.com"},
        {"\"a<b\" <\"c<d>\"@example.com>", true, "a<b", "\"c<d>\"@example.com"},  // found by fuzzing
        {"ops@[192.0.2.1]", true, "", "ops@[192.0.2.1]"},
        {"ops@localhost", true, "", "ops@localhost"},
        // Would add a parameter to MAIL FROM, a header line, or a second address.
        {"a@example.com> SIZE=1", false, "", ""},
        {"Feed <a@example.com>\rBcc: x@y.z", false, "", ""},
        {"a@example.com\n", false, "", ""},
        {std::string("a\0@example.com", 14), false, "", ""},
        {"a@example.com, b@example.com", false, "", ""},
        {"Feed <a@example.com> x", false, "", ""},
        {"Feed <<a@example.com>>", false, "", ""},
        {"a\"b <a@example.com>", false, "", ""},
        {"", false, "", ""},
        {"feed", false, "", ""},
        {"feed@", false, "", ""},
        {"@example.com", false, "", ""},
        {"a..b@example.com", false, "", ""},
        {".a@example.com", false, "", ""},
        {"a b@example.com", false, "", ""},
        {"a@exa_mple.com", false, "", ""},
        {"a@-example.com", false, "", ""},
        {"a@example..com", false, "", ""},
        {"a@[1.2.3.4>x]", false, "", ""},  // found by fuzzing
        {"j\xC3\xB6rg@example.com", false, "", ""},
    };
    for (const auto& c : cases) {
        std::string name = "untouched", address = "untouched";
        EXPECT_EQ(ParseMailAddress(c.text, name, address), c.ok) << c.text;
        EXPECT_EQ(name, c.ok ? c.name : "untouched") << c.text;
        EXPECT_EQ(address, c.ok ? c.address : "untouched") << c.text;
    }
    EXPECT_TRUE(IsMailAddress(std::string(64, 'l') + "@example.com"));
    EXPECT_FALSE(IsMailAddress(std::string(65, 'l') + "@example.com"));
    EXPECT_FALSE(IsMailAddress("a@" + std::string(64, 'd') + ".com"));
}

TEST(EhloName, QualifiedNameElseTheLocalAddressLiteral) {
    const struct {
        const char* host;
        const char* local;
        const char* ehlo;
    } cases[] = {
        {"quotes01.example.com", "192.0.2.7", "quotes01.example.com"},
        {"Quotes-01.Example.com.", "192.0.2.7", "Quotes-01.Example.com"},
        {"vm", "127.0.0.1", "[127.0.0.1]"},
        {"QUOTES_PC01", "10.0.0.5", "[10.0.0.5]"},
        {"QUOTES_PC01.corp.example", "10.0.0.5", "[10.0.0.5]"},
        {"evil.example.com\r\nRSET", "10.0.0.5", "[10.0.0.5]"},
        {"localhost", "127.0.0.1", "[127.0.0.1]"},
        {"debian.localdomain", "127.0.0.1", "[127.0.0.1]"},
        {"10.0.0.5", "10.0.0.5", "[10.0.0.5]"},
        {"-a.example.com", "10.0.0.5", "[10.0.0.5]"},
        {"vm", "2001:db8::1", "[IPv6:2001:db8::1]"},
        {"vm", "", "[127.0.0.1]"},
        {"vm", "1.2.3.4]\r\nX", "[127.0.0.1]"},
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseEhloName(c.host, c.local), c.ehlo) << c.host;
    EXPECT_TRUE(IsFullyQualifiedHostName(std::string(63, 'a') + ".example.com"));
    EXPECT_FALSE(IsFullyQualifiedHostName(std::string(64, 'a') + ".example.com"));
}

// Every line within 78 characters unless one word is longer, within 998
// always, continuation lines start with a blank and hold a word, and
// unfolding gives the field back.
void ExpectWellFolded(const std::string& name, const std::string& value, const std::string& folded) {
    EXPECT_EQ(UnfoldHeader(folded), name + ": " + value) << folded;
    std::size_t start = 0;
    for (std::size_t end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = folded.substr(start, end - start);
        EXPECT_LE(line.size(), kHeaderLineLimit);
        if (line.size() > kHeaderLineGoal) {  // only blanks and one word that does not fit
            const std::string text = line.substr(start == 0 ? name.size() + 1 : 0);
            EXPECT_EQ(text.find(' ', text.find_first_not_of(' ')), std::string::npos) << line;
        }
        if (start > 0) {
            EXPECT_EQ(line[0], ' ');
            EXPECT_NE(line.find_first_not_of(' '), std::string::npos);
        }
    }
    EXPECT_EQ(start, folded.size());
}

TEST(HeaderFolding, LongListsAndWordsFoldAtBlanks) {
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += (i ? ", " : "") + std::string("operator") + std::to_string(i) + "@example.com";
    const std::string cases[] = {
        "", "Quotes", forty, "a  b   c" + std::string(100, ' ') + "d", std::string(200, 'x') + " y",
        "trailing   ", std::string(77, 'w'),
    };
    for (const std::string& value : cases) ExpectWellFolded("To", value, FoldHeader("To", value));
    EXPECT_EQ(FoldHeader("Subject", "Quotes"), "Subject: Quotes\r\n");
    EXPECT_EQ(FoldHeader("Subject", "a\r\nBcc: x\0y"), "Subject: a  Bcc: x\r\n");
    EXPECT_EQ(FoldHeader("Subject", std::string("a\r\nBcc: x\0y", 11)), "Subject: a  Bcc: x y\r\n");
    EXPECT_GT(FoldHeader("To", forty).size(), forty.size() + 4 + 2 * 12);  // folded, not one line
}

TEST(EncodedWords, SubjectsAndNamesRoundTrip) {
    const struct {
        std::string text;
        const char* subject;  // EncodeHeaderText's result, or null: encoded words
        const char* name;     // EncodeDisplayName's, or null: encoded words
    } cases[] = {
        {"Quotes feed down", "Quotes feed down", "Quotes feed down"},
        {"Feed, Ops", "Feed, Ops", "\"Feed, Ops\""},
        {"say \"hi\"", "say \"hi\"", "\"say \\\"hi\\\"\""},
        {"Kurs\xC3\xA4nderung \xE2\x82\xAC 5", nullptr, nullptr},
        {"caf\xE9", nullptr, nullptr},  // not UTF-8: windows-1252
        {"looks =?UTF-8?B?QQ==?= encoded", nullptr, nullptr},
        {std::string(80, 'x'), nullptr, nullptr},
        {std::string(40, '\xE2') + "tab\there", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const std::string subject = EncodeHeaderText(c.text);
        const std::string name = EncodeDisplayName(c.text);
        if (c.subject) {
            EXPECT_EQ(subject, c.subject);
        }
        if (c.name) {
            EXPECT_EQ(name, c.name);
        }
        if (!c.subject) {
            EXPECT_EQ(subject.rfind("=?", 0), 0u) << subject;
            EXPECT_EQ(DecodeHeaderText(subject), c.text);
            std::size_t start = 0;
            for (std::size_t end; start < subject.size(); start = end + 1) {
                end = subject.find(' ', start);
                if (end == std::string::npos) end = subject.size();
                EXPECT_LE(end - start, 75u);
                for (std::size_t i = start; i < end; ++i) EXPECT_TRUE(subject[i] > 0x20 && subject[i] < 0x7f);
            }
        }
    }
    // No word splits a UTF-8 sequence: each decodes to whole characters.
    const std::string euros = [] { std::string s; for (int i = 0; i < 30; ++i) s += "\xE2\x82\xAC"; return s; }();
    const std::string encoded = EncodeHeaderText(euros);
    for (std::size_t start = 0, end; start < encoded.size(); start = end + 1) {
        end = encoded.find(' ', start);
        if (end == std::string::npos) end = encoded.size();
        EXPECT_EQ(DecodeHeaderText(encoded.substr(start, end - start)).size() % 3, 0u);
    }
    EXPECT_STREQ(TextCharset("caf\xC3\xA9"), "UTF-8");
    EXPECT_STREQ(TextCharset("caf\xE9"), "windows-1252");
    EXPECT_STREQ(TextCharset("\xED\xA0\x80"), "windows-1252");  // a surrogate is not UTF-8
}

TEST(EncodedWords, MimeParameters) {
    EXPECT_EQ(MimeParameter("filename", "report.txt"), "filename=\"report.txt\"");
    EXPECT_EQ(MimeParameter("name", "q 1;\"x\".log"), "name=\"q 1;\\\"x\\\".log\"");
    EXPECT_EQ(MimeParameter("name", "r\xC3\xA9sum\xC3\xA9 1.txt"), "name*0*=UTF-8''r%C3%A9sum%C3%A9%201.txt");
    const std::string longName = std::string(130, 'a') + ".log";
    const std::string parameter = MimeParameter("filename", longName);
    EXPECT_EQ(parameter, "filename*0*=UTF-8''" + std::string(53, 'a') + "; filename*1*=" + std::string(60, 'a') +
                             "; filename*2*=" + std::string(17, 'a') + ".log");
}

TEST(MessageId, FormAndUniqueness) {
    EXPECT_EQ(MakeMessageId(35, 36, 0, "example.com"), "<z.100@example.com>");
    EXPECT_EQ(MakeMessageId(1, 2, 3, "[192.0.2.1]"), "<1.23@[192.0.2.1]>");
    for (const char* bad : {"", "a b", "x>y", "a[b]"}) EXPECT_EQ(MakeMessageId(1, 2, 3, bad), "<1.23@localhost>") << bad;
    EXPECT_EQ(MakeBoundary(35, 36), "=_vantrel_z_10");
    // Neither body encoding can produce the boundary.
    const std::string boundary = MakeBoundary(~0ull, 12345);
    const std::string hostile = "--" + boundary + "\r\n" + boundary + "=_vantrel_";
    EXPECT_EQ(QuotedPrintableEncode(hostile).find("=_"), std::string::npos);
    EXPECT_EQ(Base64EncodeLines(hostile).find('_'), std::string::npos);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
