// The two ways the library decodes a FIX message text, behind an interface
// that needs no QuickFIX header beyond <quickfix/Exceptions.h>.
//
// Both raise QuickFIX's own exceptions unchanged:
//   FIX::InvalidMessage       the text is not exactly one well-formed message
//                             (fields, header order, BodyLength, CheckSum)
//   FIX::IncorrectDataFormat  a value read (or BodyLength/CheckSum) does not
//                             convert; carries the tag and the text
//   FIX::FieldNotFound        a field or group entry read is missing
//   FIX::ConfigError          the embedded dictionary cannot be loaded
//
// Value syntax: integers are an optional "-" and digits, within the range of
// an int (BodyLength and CheckSum included); decimals an optional
// "-", digits, an optional "." and digits, at least one digit in all (so "1."
// and ".5" convert, "1e5", "+1", " 1" and "1,2" do not); characters exactly
// one byte.
//
// This header compiles as C++14 and C++17.
#pragma once

#include <string>

namespace vantrel {
namespace fix {

// Checks a received payload as one well-formed FIX message, without the data
// dictionary (repeating groups are not recognised; only the structure is
// checked), and returns its Symbol (55).
std::string SymbolOfPayload(const std::string& payload);

// Receives the entries of a market data message, in message order.
class MDEntryVisitor {
public:
    // Return false to stop the walk.
    virtual bool onEntry(char cType, double dPx, double dSize) = 0;

protected:
    ~MDEntryVisitor() = default;
};

// Decodes a stored message with the FIX 4.4 dictionary (loaded on first use),
// reads NoMDEntries (268) and, for entry i = 1..NoMDEntries, MDEntryType (269)
// as a character and MDEntryPx (270) and MDEntrySize (271) as decimals, and
// hands them to the visitor until it returns false.
void DecodeMarketDataEntries(const std::string& text, MDEntryVisitor& visitor);

// Loads the dictionary now (throws FIX::ConfigError when it cannot).
void LoadFix44Dictionary();

}  // namespace fix
}  // namespace vantrel
