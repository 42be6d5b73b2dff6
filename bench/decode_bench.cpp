// Cost of decoding a stored market data message, as the quote queries do,
// against a bare QuickFIX parse of the same text with the same dictionary.
// The difference is the library's own overhead: group walk and typed reads.
//
//   decode_bench [calls per round]
//   decode_bench --only bare|decode ENTRIES CALLS
//       runs one side alone, for counting instructions under
//       valgrind --tool=callgrind (see bench/decode_instructions.sh)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <quickfix/Message.h>

#include "bench/BenchUtil.h"
#include "fix/Fix44Dictionary.h"
#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace {

struct Sink : vantrel::fix::MDEntryVisitor {
    double dTotal = 0;
    bool onEntry(char cType, double dPx, double dSize) override {
        dTotal += cType + dPx + dSize;
        return true;
    }
};

}  // namespace

std::string Snapshot(int nEntries) {
    std::vector<vantrel::test::Entry> entries;
    for (int i = 0; i < nEntries; ++i) {
        entries.push_back({i % 2 ? "1" : "0", std::to_string(1.1 + i * 0.0001), "1000000"});
    }
    return vantrel::test::SnapshotMessage("EUR/USD", entries);
}

int OnlyOneSide(const std::string& side, int nEntries, int calls) {
    const FIX::DataDictionary& dd = vantrel::fix::GetFix44DataDictionary();
    const std::string text = Snapshot(nEntries);
    Sink sink;
    size_t nFields = 0;
    for (int i = 0; i < calls; ++i) {
        if (side == "bare") {
            const FIX::Message message(text, dd, true);
            nFields += message.totalFields();
        } else {
            vantrel::fix::DecodeMarketDataEntries(text, sink);
        }
    }
    return sink.dTotal < 0 || nFields == 1 ? 1 : 0;
}

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--only") {
        return OnlyOneSide(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    const FIX::DataDictionary& dd = vantrel::fix::GetFix44DataDictionary();
    std::printf("%-8s %14s %14s %10s\n", "entries", "bare parse ns", "decode ns", "overhead");
    for (int nEntries : {2, 4, 10}) {
        const std::string text = Snapshot(nEntries);
        Sink sink;
        int nFields = 0;
        // Alternate short rounds of the two and keep each side's fastest
        // round: interference from other processes only ever adds time.
        double bare = 1e300, decode = 1e300;
        for (int pass = 0; pass < 15; ++pass) {
            bare = std::min(bare, vantrel::bench::NanosPerCall([&] {
                const FIX::Message message(text, dd, true);
                nFields += static_cast<int>(message.totalFields());
            }, calls / 5, 1));
            decode = std::min(decode, vantrel::bench::NanosPerCall([&] {
                vantrel::fix::DecodeMarketDataEntries(text, sink);
            }, calls / 5, 1));
        }
        std::printf("%-8d %14.0f %14.0f %9.1f%%\n", nEntries, bare, decode, (decode / bare - 1) * 100);
        if (sink.dTotal < 0 || nFields < 0) return 1;
    }
    std::printf("dictionary parses: %zu\n", vantrel::fix::Fix44DictionaryParseCount());
    return 0;
}
