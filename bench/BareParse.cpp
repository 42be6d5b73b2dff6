#include "bench/BareParse.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <quickfix/FieldNumbers.h>
#include <quickfix/Message.h>

namespace vantrel {
namespace bench {

double BareParsePerSecond(const std::vector<std::string>& payloads, int repeats) {
    std::size_t nSymbolBytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < repeats; ++r) {
        for (const std::string& payload : payloads) {
            const FIX::Message message(payload, true);
            nSymbolBytes += message.getField(FIX::FIELD::Symbol).size();
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (nSymbolBytes == 0) std::abort();  // keeps the parse from being optimised away
    return static_cast<double>(payloads.size()) * repeats / seconds;
}

}  // namespace bench
}  // namespace vantrel
