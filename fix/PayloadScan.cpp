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
    if (size == 0) {
        scan.fault = ScanFault::Empty;
        return scan;
    }
    const char* const end = text + size;
    const char* p = text;
    int previousTag = 0;
    const char* previousValue = nullptr;
    const char* previousSoh = nullptr;
    while (p != end) {
        scan.offset = static_cast<std::size_t>(p - text);
        scan.tag = 0;
        if (*p < '1' || *p > '9') {
            scan.fault = ScanFault::BadTag;
            return scan;
        }
        long long tag = 0;
        while (p != end && *p >= '0' && *p <= '9') {
            tag = tag * 10 + (*p - '0');
            if (tag > INT_MAX) {
                scan.fault = ScanFault::BadTag;
                return scan;
            }
            ++p;
        }
        if (p == end || *p != '=') {
            scan.fault = ScanFault::BadTag;
            return scan;
        }
        scan.tag = static_cast<int>(tag);
        const char* const value = ++p;
        const char* const soh = static_cast<const char*>(std::memchr(value, kSoh, static_cast<std::size_t>(end - value)));
        if (soh == nullptr) {
            scan.fault = ScanFault::NoSoh;
            return scan;
        }
        if (soh == value) {
            scan.fault = ScanFault::EmptyValue;
            return scan;
        }
        if (const int lengthTag = DataLengthTag(scan.tag)) {
            if (previousTag != lengthTag) {
                scan.fault = ScanFault::DataNoLength;
                return scan;
            }
            if (LengthValue(previousValue, previousSoh) != soh - value) {
                scan.fault = ScanFault::DataLength;
                return scan;
            }
        }
        previousTag = scan.tag;
        previousValue = value;
        previousSoh = soh;
        p = soh + 1;
    }
    scan = PayloadScan();
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
    }
    return std::string();
}

}  // namespace fix
}  // namespace vantrel
