#include "bench/BenchMessages.h"

#include <cstdio>

#include "tests/support/FixText.h"

namespace vantrel {
namespace bench {

std::vector<std::string> SnapshotPayloads(int nMessages, int nSymbols, int nEntries) {
    std::vector<std::string> payloads;
    payloads.reserve(static_cast<std::size_t>(nMessages));
    char symbol[32], price[32], size[32];
    for (int i = 0; i < nMessages; ++i) {
        std::snprintf(symbol, sizeof symbol, "S%05d/USD", i % nSymbols);
        std::vector<test::Entry> entries;
        for (int e = 0; e < nEntries; ++e) {
            const bool bOffer = e % 2 == 1;
            const int level = e / 2;
            std::snprintf(price, sizeof price, "%.5f",
                          1.0 + (i % 9973) * 0.00001 + (bOffer ? 0.0002 : 0.0) + (bOffer ? level : -level) * 0.0001);
            std::snprintf(size, sizeof size, "%d", 1000000 + (i + e) % 7 * 100000);
            entries.push_back({bOffer ? "1" : "0", price, size});
        }
        payloads.push_back(test::SnapshotMessage(symbol, entries));
    }
    return payloads;
}

std::string NumberedPayload(const std::string& symbol, int bid) {
    return test::SnapshotMessage(symbol, {{"0", std::to_string(bid), "1000000"},
                                          {"1", std::to_string(bid) + ".5", "2000000"}});
}

}  // namespace bench
}  // namespace vantrel
