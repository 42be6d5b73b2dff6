// The pieces of a mail's header on arbitrary bytes. The first byte picks the
// piece, the rest is the text:
//   address: what ParseMailAddress accepts is one token an SMTP command can
//     carry (no blank, "<", ">" or control character outside a quoted local
//     part), and parsing "name <address>" built from its result gives it back;
//   folding: unfolding gives the field back, a line passes 78 characters
//     only to hold one word (so 998 only for a word that long), every
//     continuation line starts with a blank and holds a word;
//   encoded words: decoding gives the text back, the output is printable
//     ASCII in words of at most 75 characters, and folds within 78;
//   EHLO name: always one token of letters, digits, ".", "-", ":", "[", "]".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "notify/EhloName.h"
#include "notify/EncodedWords.h"
#include "notify/HeaderFolding.h"
#include "notify/MailAddressParser.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using vantrel::fuzz::Fail;

void CheckAddress(const std::string& text) {
    std::string name, address;
    if (!vantrel::ParseMailAddress(text, name, address)) return;
    if (!vantrel::IsMailAddress(address)) Fail("a parsed address is not an address", text);
    bool bQuoted = false;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            Fail("a parsed address holds a control or 8-bit byte", text);
        }
        if (bQuoted && c == '\\') {
            ++i;  // the escaped character belongs to the quoted string
            continue;
        }
        if (c == '"') bQuoted = !bQuoted;
        if (!bQuoted && (c == ' ' || c == '<' || c == '>')) Fail("a parsed address is more than one token", text);
    }
    for (const char c : name) {
        if (c == '\r' || c == '\n' || c == '\0') Fail("a parsed name holds a line break", text);
    }
    std::string quoted = "\"";
    for (const char c : name) quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    std::string name2, address2;
    if (!vantrel::ParseMailAddress(quoted + "\" <" + address + ">", name2, address2) || name2 != name ||
        address2 != address) {
        Fail("name <address> does not parse back", text);
    }
}

void CheckFolded(const std::string& name, const std::string& value, const std::string& folded) {
    std::string expected = name + ": ";
    for (const char c : value) expected += c == '\r' || c == '\n' || c == '\0' ? ' ' : c;
    if (vantrel::UnfoldHeader(folded) != expected) Fail("unfolding does not give the field back", value);
    std::size_t start = 0;
    for (std::size_t end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = folded.substr(start, end - start);
        if (line.find_first_of("\r\n") != std::string::npos) Fail("a bare CR or LF in a header", value);
        // Blanks that end the value stay on the last line.
        std::string text = line.substr(start == 0 ? name.size() + 1 : 0);
        if (end + 2 == folded.size()) text.erase(text.find_last_not_of(" \t") + 1);
        const std::size_t word = text.find_first_not_of(" \t");
        if (line.size() > vantrel::kHeaderLineGoal && word != std::string::npos &&
            text.find_first_of(" \t", word) != std::string::npos) {
            Fail("a line over 78 characters holds more than one word", value);
        }
        if (start > 0 && (line.empty() || (line[0] != ' ' && line[0] != '\t') || word == std::string::npos)) {
            Fail("a continuation line without a leading blank or a word", value);
        }
    }
    if (start != folded.size()) Fail("the field does not end with CR LF", value);
}

void CheckEncoded(const std::string& text) {
    const std::string encoded = vantrel::EncodeHeaderText(text);
    if (vantrel::DecodeHeaderText(encoded) != text) Fail("encoded words do not decode to the text", text);
    if (encoded == text) return;
    std::size_t nRun = 0;
    for (const char c : encoded) {
        if (c < 0x20 || c >= 0x7f) Fail("an encoded word holds a byte that is not printable ASCII", text);
        nRun = c == ' ' ? 0 : nRun + 1;
        if (nRun > 75) Fail("an encoded word over 75 characters", text);
    }
    const std::string folded = vantrel::FoldHeader("Subject", encoded);
    CheckFolded("Subject", encoded, folded);
    std::size_t start = 0;
    for (std::size_t end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2) {
        if (end - start > vantrel::kHeaderLineGoal) Fail("an encoded subject does not fold within 78", text);
    }
}

void CheckEhlo(const std::string& text) {
    const std::size_t half = text.size() / 2;
    const std::string ehlo = vantrel::ChooseEhloName(text.substr(0, half), text.substr(half));
    if (ehlo.empty()) Fail("an empty EHLO name", text);
    for (const char c : ehlo) {
        const bool bAllowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                              c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
        if (!bAllowed) Fail("an EHLO name with a character outside host names and literals", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0:
            CheckAddress(text);
            break;
        case 1:
            CheckFolded("To", text, vantrel::FoldHeader("To", text));
            break;
        case 2:
            CheckEncoded(text);
            break;
        default:
            CheckEhlo(text);
            break;
    }
    return 0;
}
