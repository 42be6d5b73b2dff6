// A single pass over a FIX message text that refuses what QuickFIX would
// read unsafely or differently from one parse to the next, so that a text
// that passes it can be parsed with the data dictionary.
//
// QuickFIX reads a data field (a field of type DATA, which may hold SOH) by
// the number its length field gives, without checking it against the text:
// a length that runs past the end reads beyond the buffer. And without the
// dictionary a data field is split at its first SOH, so the same text would
// be two different messages to the payload check and to the decode. A text
// passes when:
//   - it is a sequence of tag=value fields, each ended by SOH, to its last
//     byte;
//   - every tag is a number from 1 to 2147483647, digits only, with no
//     leading zero (QuickFIX lets a longer number wrap round);
//   - no value is empty;
//   - the last field is CheckSum (10): QuickFIX counts a field after it into
//     BodyLength and CheckSum and lets it pass;
//   - every data field comes right after its length field, whose value is
//     exactly the number of bytes of the data value (which therefore holds
//     no SOH).
//
// This header compiles as C++14 and C++17.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel {
namespace fix {

enum class ScanFault {
    None,
    Empty,           // no byte at all
    BadTag,          // not 1 to 2147483647, a leading zero, or no "="
    NoSoh,           // the last field is not ended by SOH
    EmptyValue,      // "tag=" followed by SOH
    DataNoLength,    // a data field not right after its length field
    DataLength,      // the length field does not give the data's size
    NotLast,         // the last field is not CheckSum (10)
};

struct PayloadScan {
    ScanFault fault = ScanFault::None;
    int tag = 0;             // the field at fault, when its tag was read
    std::size_t offset = 0;  // where its field begins
};

PayloadScan ScanPayload(const char* text, std::size_t size);

// What went wrong, for the log ("" for ScanFault::None).
std::string DescribeScan(const PayloadScan& scan);

// The length field QuickFIX reads for data field `tag`: one tag lower, but
// SignatureLength (93) for Signature (89). 0 when `tag` is not a data field
// of the FIX 4.4 dictionary the library carries.
int DataLengthTag(int tag);

}  // namespace fix
}  // namespace vantrel
