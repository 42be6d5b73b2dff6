// The mail encoders against decoders written here from the RFCs: base64 (one
// line and in 76-character lines), quoted-printable and dot-stuffing must
// round-trip every byte string, and their output must keep the line rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "notify/MailEncoding.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t crlf; (crlf = text.find("\r\n", at)) != std::string::npos; at = crlf + 2) {
        lines.push_back(text.substr(at, crlf - at));
    }
    lines.push_back(text.substr(at));
    return lines;
}

// Strict base64: only the alphabet, padding at the end only.
std::string DecodeBase64Strictly(const std::string& text) {
    static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Check(text.size() % 4 == 0);
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        uint32_t value = 0;
        int pads = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=') {
                Check(i + 4 == text.size() && k >= 2);
                ++pads;
                value <<= 6;
                continue;
            }
            Check(pads == 0);
            const char* at = std::strchr(kAlphabet, c);
            Check(c != '\0' && at != nullptr);
            value = value << 6 | static_cast<uint32_t>(at - kAlphabet);
        }
        out += static_cast<char>(value >> 16);
        if (pads < 2) out += static_cast<char>(value >> 8 & 0xFF);
        if (pads < 1) out += static_cast<char>(value & 0xFF);
    }
    return out;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    std::abort();
}

// Quoted-printable: "=XX" escapes, "=" CR LF soft breaks, CR LF hard breaks
// (read as LF), a final "=" as the soft break before the framing's CR LF.
std::string DecodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "\r\n") == 0) {
            out += '\n';
            i += 2;
        } else if (text[i] == '=') {
            if (i + 1 == text.size()) break;
            if (text.compare(i + 1, 2, "\r\n") == 0) {
                i += 3;
                continue;
            }
            Check(i + 2 < text.size());
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 3;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::string base64 = vantrel::Base64Encode(bytes);
    Check(base64.size() == (size + 2) / 3 * 4);
    Check(DecodeBase64Strictly(base64) == bytes);
    Check(vantrel::Base64Decode(base64) == bytes);

    const std::string lines = vantrel::Base64EncodeLines(bytes);
    const std::vector<std::string> split = Lines(lines);
    Check(split.back().empty());  // ends with CR LF
    std::string joined;
    for (std::size_t i = 0; i + 1 < split.size(); ++i) {
        Check(split[i].size() <= 76);
        Check(i + 2 >= split.size() || split[i].size() == 76);  // only the last lines are shorter
        joined += split[i];
    }
    Check(joined == base64);

    const std::string qp = vantrel::QuotedPrintableEncode(bytes);
    for (const std::string& line : Lines(qp)) {
        Check(line.size() <= 76);
        for (const char c : line) Check((c >= 33 && c <= 126) || c == ' ' || c == '\t');
        Check(line.empty() || (line.back() != ' ' && line.back() != '\t'));
    }
    std::string canonical;  // CR LF and LF both read back as LF
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == '\r' && i + 1 < size && bytes[i + 1] == '\n') continue;
        canonical += bytes[i];
    }
    Check(DecodeQuotedPrintable(qp) == canonical);

    const std::string stuffed = vantrel::DotStuff(qp);
    std::string unstuffed;
    bool bLineStart = true;
    for (std::size_t i = 0; i < stuffed.size(); ++i) {
        if (bLineStart) Check(stuffed[i] != '.' || (i + 1 < stuffed.size() && stuffed[i + 1] == '.'));
        if (bLineStart && stuffed[i] == '.') ++i;
        unstuffed += stuffed[i];
        bLineStart = stuffed[i] == '\n';
    }
    Check(unstuffed == qp);
    return 0;
}
