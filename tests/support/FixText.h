// Builds FIX tag=value texts by hand, computing BodyLength and CheckSum
// independently of QuickFIX, so tests can also build texts QuickFIX would
// never write (bad checksums, odd values, unknown tags).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantrel {
namespace test {

using FixFields = std::vector<std::pair<int, std::string>>;

// "8=FIX.4.4|9=..|35=<msgType>|<fields>|10=NNN|" with SOH separators.
std::string FixMessage(const std::string& msgType, const FixFields& body);

// "8=FIX.4.4|9=<length of body>|<body>10=NNN|": any text, even one that is no
// sequence of fields, framed with a correct BodyLength and CheckSum.
std::string FixFramed(const std::string& body);

// The standard CheckSum of a text: the sum of its bytes modulo 256.
int FixCheckSum(const std::string& text);

// Replaces the CheckSum value of a complete message text.
std::string WithCheckSumText(const std::string& message, const std::string& checkSum);

// A MarketDataSnapshotFullRefresh for `symbol` with the given entries
// (type, price text, size text), plus the usual header fields.
struct Entry {
    std::string type;
    std::string px;
    std::string size;
};
std::string SnapshotMessage(const std::string& symbol, const std::vector<Entry>& entries);

}  // namespace test
}  // namespace vantrel
