#include "tests/support/FixText.h"

#include <cstdio>

namespace vantrel::test {
namespace {
constexpr char kSoh = '\x01';
}

int FixCheckSum(const std::string& text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return static_cast<int>(sum % 256);
}

std::string FixFramed(const std::string& body) {
    std::string text = "8=FIX.4.4";
    text += kSoh;
    text += "9=" + std::to_string(body.size()) + kSoh + body;
    char checkSum[8];
    std::snprintf(checkSum, sizeof checkSum, "%03d", FixCheckSum(text));
    return text + "10=" + checkSum + kSoh;
}

std::string FixMessage(const std::string& msgType, const FixFields& body) {
    std::string rest = "35=" + msgType + kSoh;
    for (const auto& [tag, value] : body) {
        rest += std::to_string(tag) + "=" + value + kSoh;
    }
    return FixFramed(rest);
}

std::string WithCheckSumText(const std::string& message, const std::string& checkSum) {
    const std::string::size_type at = message.rfind("10=");
    return message.substr(0, at) + "10=" + checkSum + kSoh;
}

std::string SnapshotMessage(const std::string& symbol, const std::vector<Entry>& entries) {
    FixFields body = {{49, "FEED"}, {56, "CLIENT"}, {34, "7"}, {52, "20261208-10:11:12.345"},
                      {55, symbol}, {268, std::to_string(entries.size())}};
    for (const Entry& e : entries) {
        body.emplace_back(269, e.type);
        if (!e.px.empty()) body.emplace_back(270, e.px);
        body.emplace_back(15, "USD");
        if (!e.size.empty()) body.emplace_back(271, e.size);
    }
    return FixMessage("W", body);
}

}  // namespace vantrel::test
