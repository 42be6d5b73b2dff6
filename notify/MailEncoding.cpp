#include "notify/MailEncoding.h"

namespace vantrel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kGroupsPerLine = 19;  // 76 characters

// Appends the four characters of the group that starts at `bytes[i]`.
void AppendGroup(std::string& out, std::string_view bytes, std::size_t i) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (n > 1) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) value |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(value >> 18) & 63];
    out += kAlphabet[(value >> 12) & 63];
    out += n > 1 ? kAlphabet[(value >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[value & 63] : '=';
}

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) AppendGroup(out, bytes, i);
    return out;
}

std::string Base64EncodeLines(std::string_view bytes) {
    const std::size_t groups = (bytes.size() + 2) / 3;
    std::string out;
    out.reserve(groups * 4 + groups / kGroupsPerLine * 2 + 2);
    for (std::size_t group = 0; group < groups; ++group) {
        AppendGroup(out, bytes, group * 3);
        if ((group + 1) % kGroupsPerLine == 0) out += "\r\n";
    }
    out += "\r\n";
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    unsigned value = 0;
    int count = 0;
    for (const char c : text) {
        const int digit = Base64Value(static_cast<unsigned char>(c));
        if (digit < 0) continue;
        value = (value << 6) | static_cast<unsigned>(digit);
        if (++count == 4) {
            out += static_cast<char>((value >> 16) & 0xFF);
            out += static_cast<char>((value >> 8) & 0xFF);
            out += static_cast<char>(value & 0xFF);
            value = 0;
            count = 0;
        }
    }
    if (count >= 2) out += static_cast<char>((value >> (6 * count - 8)) & 0xFF);
    if (count == 3) out += static_cast<char>((value >> 2) & 0xFF);
    return out;
}

std::string QuotedPrintableEncode(std::string_view text) {
    constexpr std::size_t kMaxLine = 76;
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    std::size_t nLine = 0;  // characters on the output line so far
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find('\n', i);
        const bool bBreak = end != std::string_view::npos;
        if (!bBreak) end = text.size();
        std::size_t contentEnd = end;
        if (bBreak && contentEnd > i && text[contentEnd - 1] == '\r') --contentEnd;
        for (std::size_t k = i; k < contentEnd; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            const bool bLast = k + 1 == contentEnd;
            char token[3];
            std::size_t n = 1;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !bLast)) {
                token[0] = static_cast<char>(c);
            } else {
                token[0] = '=';
                token[1] = kHexDigits[c >> 4];
                token[2] = kHexDigits[c & 15];
                n = 3;
            }
            // A soft break needs one column for its "="; only the last token
            // of a line ended by a hard break may use the 76th column.
            if (nLine + n > (bLast && bBreak ? kMaxLine : kMaxLine - 1)) {
                out += "=\r\n";
                nLine = 0;
            }
            out.append(token, n);
            nLine += n;
        }
        if (bBreak) {
            out += "\r\n";
            nLine = 0;
            i = end + 1;
        } else {
            // The line break that follows the body in the DATA stream reads
            // as this soft break, so a text without a final line break comes
            // back without one.
            out += '=';
            i = end;
        }
    }
    return out;
}

std::string DotStuff(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool bLineStart = true;
    for (const char c : text) {
        if (bLineStart && c == '.') out += '.';
        out += c;
        bLineStart = c == '\n';
    }
    return out;
}

}  // namespace vantrel
