// Decodes a market data message with the library's FIX 4.4 dictionary and
// exits 0 when the entries come out as written.
#include <cstdio>

#include <quickfix/Exceptions.h>

#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace {
struct Sum : vantrel::fix::MDEntryVisitor {
    int nEntries = 0;
    double dTotal = 0;
    bool onEntry(char, double dPx, double dSize) override {
        ++nEntries;
        dTotal += dPx + dSize;
        return true;
    }
};
}  // namespace

int main() {
    try {
        Sum sum;
        vantrel::fix::DecodeMarketDataEntries(
            vantrel::test::SnapshotMessage("EUR/USD", {{"0", "1.5", "2"}, {"1", "1.75", "3"}}), sum);
        std::printf("decoded %d entries\n", sum.nEntries);
        return sum.nEntries == 2 && sum.dTotal == 8.25 ? 0 : 1;
    } catch (const FIX::Exception& e) {
        std::printf("decode failed: %s\n", e.what());
        return 1;
    }
}
