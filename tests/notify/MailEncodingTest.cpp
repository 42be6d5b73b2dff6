#include "notify/MailEncoding.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
    const struct {
        std::string plain, encoded;
    } cases[] = {
        {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
        {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}, {"Username:", "VXNlcm5hbWU6"}, {std::string("\0\xff\xfe", 3), "AP/+"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Encode(c.plain), c.encoded) << c.plain;
        EXPECT_EQ(Base64Decode(c.encoded), c.plain) << c.encoded;
    }
}

TEST(Base64, DecodingSkipsCharactersOutsideTheAlphabetAndKeepsShortGroups) {
    EXPECT_EQ(Base64Decode("UGFz\r\nc3dv cmQ6"), "Password:");
    EXPECT_EQ(Base64Decode("Zm9vYg"), "foob");    // no padding
    EXPECT_EQ(Base64Decode("Zm9vYmE"), "fooba");
    EXPECT_EQ(Base64Decode("=Z=g=="), "f");
    EXPECT_EQ(Base64Decode("Z"), "");              // a lone character holds no byte
    EXPECT_EQ(Base64Decode("*!"), "");
}

TEST(Base64, AttachmentLinesHold76CharactersAndEndWithOneMoreLineEnd) {
    EXPECT_EQ(Base64EncodeLines(""), "\r\n");
    EXPECT_EQ(Base64EncodeLines("foo"), "Zm9v\r\n");
    const std::string line57 = Base64EncodeLines(std::string(57, 'a'));
    EXPECT_EQ(line57, Base64Encode(std::string(57, 'a')) + "\r\n\r\n");
    EXPECT_EQ(line57.size(), 76u + 4u);
    const std::string bytes(100, '\x9c');
    const std::string lines = Base64EncodeLines(bytes);
    const std::string whole = Base64Encode(bytes);
    EXPECT_EQ(lines, whole.substr(0, 76) + "\r\n" + whole.substr(76) + "\r\n");
}

TEST(QuotedPrintable, EncodesByRfc2045) {
    const struct {
        std::string text, encoded;
    } cases[] = {
        {"", ""},
        {"plain text", "plain text="},
        {"a=b\n", "a=3Db\r\n"},
        {"caf\xc3\xa9\n", "caf=C3=A9\r\n"},
        {"line1\nline2\r\nline3", "line1\r\nline2\r\nline3="},
        {"trailing \nblank\t", "trailing=20\r\nblank=09="},
        {"lone\rCR\n", "lone=0DCR\r\n"},
        {std::string("nul\0\n", 5), "nul=00\r\n"},
        {"\n", "\r\n"},
        // 76 characters fit on a line that a hard break ends; the 77th needs
        // a soft break, and so does the 76th before the final "=".
        {std::string(76, 'x') + "\n", std::string(76, 'x') + "\r\n"},
        {std::string(77, 'x') + "\n", std::string(75, 'x') + "=\r\n" + "xx\r\n"},
        {std::string(76, 'x'), std::string(75, 'x') + "=\r\nx="},
        // An escape is never cut by a soft break.
        {std::string(74, 'x') + "==\n", std::string(74, 'x') + "=\r\n=3D=3D\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(QuotedPrintableEncode(c.text), c.encoded) << c.text;
}

TEST(DotStuffing, DoublesEveryDotThatStartsALine) {
    const struct {
        const char* text;
        const char* stuffed;
    } cases[] = {
        {"", ""},
        {".", ".."},
        {".start", "..start"},
        {"a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"a.b\n..c", "a.b\n...c"},
        {"end\n.", "end\n.."},
    };
    for (const auto& c : cases) EXPECT_EQ(DotStuff(c.text), c.stuffed) << c.text;
}

}  // namespace
}  // namespace vantrel
