#include "notify/EhloName.h"

namespace vantrel {
namespace {

bool EndsWith(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsFullyQualifiedHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t nLabels = 0;
    bool bLastAllDigits = false;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string_view::npos) dot = name.size();
        const std::string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        bLastAllDigits = true;
        for (const char c : label) {
            if (!IsLetterOrDigit(c) && c != '-') return false;
            bLastAllDigits = bLastAllDigits && IsDigit(c);
        }
        ++nLabels;
        start = dot + 1;
    }
    return nLabels >= 2 && !bLastAllDigits && !EndsWith(name, ".localdomain") && !EndsWith(name, ".local") &&
           !EndsWith(name, ".localhost");
}

std::string ChooseEhloName(std::string_view hostName, std::string_view localAddress) {
    if (!hostName.empty() && hostName.back() == '.') hostName.remove_suffix(1);
    if (IsFullyQualifiedHostName(hostName)) return std::string(hostName);
    bool bAddress = !localAddress.empty();
    for (const char c : localAddress) {
        bAddress = bAddress && (IsLetterOrDigit(c) || c == '.' || c == ':');
    }
    if (!bAddress) return "[127.0.0.1]";
    return localAddress.find(':') != std::string_view::npos ? "[IPv6:" + std::string(localAddress) + "]"
                                                            : "[" + std::string(localAddress) + "]";
}

}  // namespace vantrel
