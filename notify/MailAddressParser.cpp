#include "notify/MailAddressParser.h"

#include <cstring>
#include <utility>

namespace vantrel {
namespace {

constexpr std::size_t kMaxAddress = 254;
constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxLabel = 63;

bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsAtext(char c) { return IsAlnum(c) || (c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr); }

bool IsPrintableAscii(char c) { return c >= 0x20 && c < 0x7f; }

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '.' ? text[i - 1] == '.' : !IsAtext(text[i])) return false;
    }
    return true;
}

// A quoted local part: printable ASCII inside the quotes, "\" escaping the
// next one.
bool IsQuotedString(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (!IsPrintableAscii(text[i]) || text[i] == '"') return false;
        if (text[i] == '\\' && (++i + 1 >= text.size() || !IsPrintableAscii(text[i]))) return false;
    }
    return true;
}

bool IsHostLabel(std::string_view label) {
    if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-') return false;
    for (const char c : label) {
        if (!IsAlnum(c) && c != '-') return false;
    }
    return true;
}

bool IsDomain(std::string_view domain) {
    if (domain.size() >= 2 && domain.front() == '[' && domain.back() == ']') {
        // An IPv4 address, or "IPv6:" and an IPv6 address: letters, digits,
        // dots, colons and hyphens, and nothing that delimits a path ("<",
        // ">") in a command.
        for (const char c : domain.substr(1, domain.size() - 2)) {
            if (!IsAlnum(c) && c != '.' && c != ':' && c != '-') return false;
        }
        return domain.size() > 2;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = domain.find('.', start);
        if (!IsHostLabel(domain.substr(start, dot == std::string_view::npos ? dot : dot - start))) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The display name before "<": a quoted string (unquoted here) or the text as
// it is, which then may not hold the characters that delimit the parts.
bool ParseDisplayName(std::string_view text, std::string& name) {
    if (!text.empty() && text.front() == '"') {
        if (text.size() < 2 || text.back() != '"') return false;
        name.clear();
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == '"') return false;
            if (text[i] == '\\' && ++i + 1 >= text.size()) return false;
            name += text[i];
        }
        return true;
    }
    if (text.find_first_of("<>\"") != std::string_view::npos) return false;
    name.assign(text.data(), text.size());
    return true;
}

}  // namespace

bool IsMailAddress(std::string_view address) {
    if (address.empty() || address.size() > kMaxAddress) return false;
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) return false;
    const std::string_view local = address.substr(0, at);
    if (local.size() > kMaxLocalPart || !(IsDotAtom(local) || IsQuotedString(local))) return false;
    return IsDomain(address.substr(at + 1));
}

bool ParseMailAddress(std::string_view text, std::string& name, std::string& address) {
    for (const char c : text) {
        // Control characters (tab aside) and DEL: nothing a setting may carry
        // into a header or a command.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return false;
    }
    text = Trim(text);
    std::string parsedName;
    std::string_view bare = text;
    if (!text.empty() && text.back() == '>') {
        // The first "<" after a quoted name opens the address (a quoted name,
        // or a quoted local part, may hold "<" of its own); an unquoted name
        // holds none.
        std::size_t open = 0;
        if (text.front() == '"') {
            std::size_t i = 1;
            while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
            if (i >= text.size()) return false;
            open = text.find('<', i + 1);
        } else {
            open = text.find('<');
        }
        if (open == std::string_view::npos) return false;
        if (!ParseDisplayName(Trim(text.substr(0, open)), parsedName)) return false;
        bare = text.substr(open + 1, text.size() - open - 2);
    }
    if (!IsMailAddress(bare)) return false;
    name = std::move(parsedName);
    address.assign(bare.data(), bare.size());
    return true;
}

}  // namespace vantrel
