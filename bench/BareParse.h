// The floor of ingest: what QuickFIX alone costs to check a payload and read
// its Symbol, with no socket, no line splitting and no store.
#pragma once

#include <string>
#include <vector>

namespace vantrel {
namespace bench {

// Payloads per second of a bare QuickFIX parse (validation on, no
// dictionary) and Symbol read over `payloads`, repeated `repeats` times.
double BareParsePerSecond(const std::vector<std::string>& payloads, int repeats);

}  // namespace bench
}  // namespace vantrel
