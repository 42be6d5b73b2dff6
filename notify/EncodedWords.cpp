#include "notify/EncodedWords.h"

#include <cstring>

#include "notify/MailEncoding.h"

namespace vantrel {
namespace {

// An encoded word is "=?", the charset, "?B?", the base64 text and "?=", and
// has at most 75 characters.
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kMaxPlainWord = 75;
constexpr std::size_t kMaxParameterSection = 60;

bool IsPrintableAscii(char c) { return c >= 0x20 && c < 0x7f; }

// The length of the UTF-8 sequence that starts at `text[i]`, or 0 when no
// valid one does (overlong forms, surrogates and values above U+10FFFF
// included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool HasLongWord(std::string_view text) {
    std::size_t nRun = 0;
    for (const char c : text) {
        nRun = c == ' ' ? 0 : nRun + 1;
        if (nRun > kMaxPlainWord) return true;
    }
    return false;
}

bool NeedsEncoding(std::string_view text) {
    for (const char c : text) {
        if (!IsPrintableAscii(c)) return true;
    }
    return HasLongWord(text) || text.find("=?") != std::string_view::npos;
}

std::string EncodeWords(std::string_view text) {
    const char* charset = TextCharset(text);
    const bool bUtf8 = std::strcmp(charset, "UTF-8") == 0;
    const std::string prefix = std::string("=?") + charset + "?B?";
    // Whole groups of three bytes fill the room left by the word's frame.
    const std::size_t nMaxBytes = (kMaxEncodedWord - prefix.size() - 2) / 4 * 3;
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 0;
        while (i + n < text.size()) {
            const std::size_t k = bUtf8 ? Utf8SequenceLength(text, i + n) : 1;
            if (n + k > nMaxBytes) break;
            n += k;
        }
        if (!out.empty()) out += ' ';
        out += prefix + Base64Encode(text.substr(i, n)) + "?=";
        i += n;
    }
    return out;
}

bool IsAtomText(std::string_view text) {
    for (const char c : text) {
        if (c != ' ' && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr)) {
            return false;
        }
    }
    return true;
}

}  // namespace

const char* TextCharset(std::string_view text) { return IsUtf8(text) ? "UTF-8" : "windows-1252"; }

std::string EncodeHeaderText(std::string_view text) {
    return NeedsEncoding(text) ? EncodeWords(text) : std::string(text);
}

std::string EncodeDisplayName(std::string_view name) {
    if (NeedsEncoding(name)) return EncodeWords(name);
    if (IsAtomText(name)) return std::string(name);
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string MimeParameter(std::string_view name, std::string_view value) {
    bool bPlain = value.size() <= kMaxParameterSection;
    for (const char c : value) bPlain = bPlain && IsPrintableAscii(c);
    std::string out(name);
    if (bPlain) {
        out += "=\"";
        for (const char c : value) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + '"';
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string section = std::string(TextCharset(value)) + "''";
    int nSection = 0;
    out.clear();
    const auto flush = [&] {
        if (!out.empty()) out += "; ";
        out += std::string(name) + '*' + std::to_string(nSection++) + "*=" + section;
        section.clear();
    };
    for (const char c : value) {
        const bool bLiteral = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                              (c != '\0' && std::strchr("!#$&+-.^_`|~", c) != nullptr);
        const std::size_t nWidth = bLiteral ? 1 : 3;
        if (section.size() + nWidth > kMaxParameterSection) flush();
        if (bLiteral) {
            section += c;
        } else {
            section += '%';
            section += kHex[static_cast<unsigned char>(c) >> 4];
            section += kHex[static_cast<unsigned char>(c) & 15];
        }
    }
    if (!section.empty() || nSection == 0) flush();
    return out;
}

std::string DecodeHeaderText(std::string_view text) {
    std::string out;
    bool bAfterWord = false;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t nBlanks = 0;
        while (i + nBlanks < text.size() && text[i + nBlanks] == ' ') ++nBlanks;
        std::size_t end = text.find(' ', i + nBlanks);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(i + nBlanks, end - i - nBlanks);
        const std::size_t mark = word.find("?B?");
        const bool bEncoded = word.size() >= 8 && word.substr(0, 2) == "=?" && word.substr(word.size() - 2) == "?=" &&
                              mark != std::string_view::npos && mark + 3 <= word.size() - 2;
        if (!(bEncoded && bAfterWord)) out.append(text.substr(i, nBlanks));
        if (bEncoded) {
            out += Base64Decode(word.substr(mark + 3, word.size() - 2 - mark - 3));
        } else {
            out.append(word);
        }
        bAfterWord = bEncoded;
        i = end;
    }
    return out;
}

}  // namespace vantrel
