// The quote messages the benchmarks send, shared by every figure so that the
// library, the reference client and the bare parse see the same bytes.
#pragma once

#include <string>
#include <vector>

namespace vantrel {
namespace bench {

// `nMessages` market data snapshots cycling over `nSymbols` symbols
// ("S00000/USD", ...), each with `nEntries` entries alternating bid and offer,
// prices and sizes varying from message to message.
std::vector<std::string> SnapshotPayloads(int nMessages, int nSymbols, int nEntries);

// The snapshot of one symbol with one bid at `bid` and one offer at
// `bid` + 0.5, sizes one and two million: queries can tell which one they got.
std::string NumberedPayload(const std::string& symbol, int bid);

}  // namespace bench
}  // namespace vantrel
