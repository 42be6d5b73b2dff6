#include "notify/MessageId.h"

namespace vantrel {
namespace {

std::string Base36(uint64_t n) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[n % 36]);
        n /= 36;
    } while (n != 0);
    return text;
}

bool FitsMessageId(std::string_view domain) {
    if (domain.empty()) return false;
    for (const char c : domain) {
        if (c <= 0x20 || c >= 0x7f || c == '<' || c == '>' || c == '@' || c == '"' || c == '\\') return false;
    }
    const std::size_t open = domain.find('[');
    const std::size_t close = domain.find(']');
    if (open == std::string_view::npos && close == std::string_view::npos) return true;
    return open == 0 && close == domain.size() - 1 && domain.find('[', 1) == std::string_view::npos;
}

}  // namespace

std::string MakeMessageId(uint64_t nMillis, uint64_t nRandom1, uint64_t nRandom2, std::string_view domain) {
    return "<" + Base36(nMillis) + "." + Base36(nRandom1) + Base36(nRandom2) + "@" +
           (FitsMessageId(domain) ? std::string(domain) : std::string("localhost")) + ">";
}

std::string MakeBoundary(uint64_t nRandom1, uint64_t nRandom2) {
    return "=_vantrel_" + Base36(nRandom1) + "_" + Base36(nRandom2);
}

}  // namespace vantrel
