#include "log/EscapeText.h"

namespace vantrel {

void AppendEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(escaped, sizeof escaped);
        }
    }
}

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

}  // namespace vantrel
