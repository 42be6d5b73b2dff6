#include "fix/PayloadScan.h"

#include <climits>
#include <cstring>

namespace vantrel {
namespace fix {
namespace {

constexpr char kSoh = '\x01';

// The value of a length field as a size: digits only (leading zeros allowed,
// as QuickFIX reads them), at most INT_MAX; -1 otherwise.
long long LengthValue(const char* begin, const char* end) {
    long long n = 0;
    for (const char* p = begin; p != end; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
        if (digit > 9) return -1;
        n = n * 10 + digit;
        if (n > INT_MAX) return -1;
    }
    return n;
}

}  // namespace

int DataLengthTag(int tag) {
    switch (tag) {
        case 89: return 93;  // Signature, after SignatureLength
        case 91: case 96: case 213: case 349: case 351: case 353: case 355: case 357:
        case 359: case 361: case 363: case 365: case 446: case 619: case 622:
            return tag - 1;
        default: return 0;
    }
}

PayloadScan ScanPayload(const char* text, std::size_t size) {
    PayloadScan scan;
    const auto fault = [&](ScanFault what, const char* field, long long tag) {
        scan.fault = what;
        scan.tag = static_cast<int>(tag);
        scan.offset = static_cast<std::size_t>(field - text);
        return scan;
    };
    if (size == 0) return fault(ScanFault::Empty, text, 0);
    const char* const end = text + size;
    const char* p = text;
    long long previousTag = 0;
    const char* previousValue = nullptr;
    const char* previousSoh = nullptr;
    while (p != end) {
        const char* const field = p;
        if (*p < '1' || *p > '9') return fault(ScanFault::BadTag, field, 0);
        // Ten digits at most, so the value cannot overflow before the check.
        long long tag = 0;
        const char* const digitsEnd = end - p > 11 ? p + 11 : end;
        while (p != digitsEnd && static_cast<unsigned>(*p - '0') < 10u) tag = tag * 10 + (*p++ - '0');
        if (p == end || *p != '=' || tag > INT_MAX) return fault(ScanFault::BadTag, field, 0);
        const char* const value = ++p;
        const char* const soh = static_cast<const char*>(std::memchr(value, kSoh, static_cast<std::size_t>(end - value)));
        if (soh == nullptr) return fault(ScanFault::NoSoh, field, tag);
        if (soh == value) return fault(ScanFault::EmptyValue, field, tag);
        // Every data field's tag lies between 89 and 622.
        if (tag >= 89 && tag <= 622) {
            if (const int lengthTag = DataLengthTag(static_cast<int>(tag))) {
                if (previousTag != lengthTag) return fault(ScanFault::DataNoLength, field, tag);
                if (LengthValue(previousValue, previousSoh) != soh - value) return fault(ScanFault::DataLength, field, tag);
            }
        }
        previousTag = tag;
        previousValue = value;
        previousSoh = soh;
        p = soh + 1;
        if (p == end && tag != 10) return fault(ScanFault::NotLast, field, tag);
    }
    return scan;
}

std::string DescribeScan(const PayloadScan& scan) {
    const std::string at = " at byte " + std::to_string(scan.offset);
    const std::string tag = std::to_string(scan.tag);
    switch (scan.fault) {
        case ScanFault::None: return std::string();
        case ScanFault::Empty: return "Empty message";
        case ScanFault::BadTag: return "Field tag is not a number from 1 to 2147483647" + at;
        case ScanFault::NoSoh: return "SOH not found at end of field " + tag + at;
        case ScanFault::EmptyValue: return "Empty value in field " + tag + at;
        case ScanFault::DataNoLength:
            return "Data field " + tag + " does not follow its length field " +
                   std::to_string(DataLengthTag(scan.tag)) + at;
        case ScanFault::DataLength:
            return "Length field " + std::to_string(DataLengthTag(scan.tag)) + " does not give the size of data field " +
                   tag + at;
        case ScanFault::NotLast: return "The last field, " + tag + ", is not CheckSum" + at;
    }
    return std::string();
}

}  // namespace fix
}  // namespace vantrel
