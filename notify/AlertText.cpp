#include "notify/AlertText.h"

namespace vantrel {

std::string ErrorAlertBody(uint32_t nCode, const std::string& text, const UtcTime& when) {
    return "<" + when.Stamp() + ", Error (" + std::to_string(nCode) + ")>: " + text;
}

std::string WarningAlertBody(const std::string& text, const UtcTime& when) {
    return "<" + when.Stamp() + ", Warning>: " + text;
}

std::vector<std::string> SplitAlertList(const std::string& list) {
    std::vector<std::string> tokens;
    std::string::size_type at = list.find_first_not_of(kAlertListSeparators);
    while (at != std::string::npos) {
        const std::string::size_type end = list.find_first_of(kAlertListSeparators, at);
        tokens.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = list.find_first_not_of(kAlertListSeparators, end);
    }
    return tokens;
}

}  // namespace vantrel
