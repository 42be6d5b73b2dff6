#include "fix/QuoteDecoding.h"

#include <cstdint>
#include <cstdlib>

#include <quickfix/FieldConvertors.h>
#include <quickfix/FieldNumbers.h>
#include <quickfix/Message.h>

#include "fix/Fix44Dictionary.h"

namespace vantrel {
namespace fix {
namespace {

// The typed reads, as QuickFIX's field classes do them: a value that does not
// convert raises FIX::IncorrectDataFormat with the tag and the text.
const std::string& ReadText(const FIX::FieldMap& map, int tag) {
    return map.getFieldRef(tag).getString();
}

int ReadInt(const FIX::FieldMap& map, int tag) {
    const std::string& text = ReadText(map, tag);
    int value = 0;
    if (!FIX::IntConvertor::convert(text, value)) throw FIX::IncorrectDataFormat(tag, text);
    return value;
}

// Decimal syntax: an optional "-", digits, an optional "." and digits, at
// least one digit in all. Prices and sizes are short decimals, so most values
// take the exact fast path: at most 15 significant digits make an integer
// mantissa below 2^53, and dividing it by an exact power of ten rounds
// correctly, which is what strtod would return. Longer values go to strtod.
bool ParseDecimal(const std::string& text, double& value) {
    static const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text.c_str();
    const char* const end = p + text.size();
    const bool bNegative = p != end && *p == '-';
    if (bNegative) ++p;
    uint64_t nMantissa = 0;
    int nDigits = 0;          // significant digits kept in the mantissa
    int nFraction = 0;        // digits after the point
    bool bAnyDigit = false;
    bool bPoint = false;
    for (; p != end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            bAnyDigit = true;
            if (nMantissa != 0 || c != '0') ++nDigits;
            nMantissa = nMantissa * 10 + static_cast<uint64_t>(c - '0');
            if (bPoint) ++nFraction;
            if (nDigits > 15) break;
        } else if (c == '.' && !bPoint) {
            bPoint = true;
        } else {
            return false;
        }
    }
    if (p != end) {
        // Too many digits for the fast path: check the rest of the syntax,
        // then let strtod round it.
        for (; p != end; ++p) {
            if (*p == '.' && !bPoint) {
                bPoint = true;
            } else if (*p < '0' || *p > '9') {
                return false;
            }
        }
        value = std::strtod(text.c_str(), nullptr);
        return true;
    }
    if (!bAnyDigit) return false;
    if (nFraction > 22) {
        value = std::strtod(text.c_str(), nullptr);
        return true;
    }
    const double dMagnitude = static_cast<double>(nMantissa) / kPowersOfTen[nFraction];
    value = bNegative ? -dMagnitude : dMagnitude;
    return true;
}

double ReadDouble(const FIX::FieldMap& map, int tag) {
    const std::string& text = ReadText(map, tag);
    double value = 0.0;
    if (!ParseDecimal(text, value)) throw FIX::IncorrectDataFormat(tag, text);
    return value;
}

char ReadChar(const FIX::FieldMap& map, int tag) {
    const std::string& text = ReadText(map, tag);
    char value = 0;
    if (!FIX::CharConvertor::convert(text, value)) throw FIX::IncorrectDataFormat(tag, text);
    return value;
}

}  // namespace

std::string SymbolOfPayload(const std::string& payload) {
    const FIX::Message message(payload, true);
    return ReadText(message, FIX::FIELD::Symbol);
}

void DecodeMarketDataEntries(const std::string& text, MDEntryVisitor& visitor) {
    const FIX::DataDictionary& dictionary = GetFix44DataDictionary();
    const FIX::Message message(text, dictionary, true);
    const int nEntries = ReadInt(message, FIX::FIELD::NoMDEntries);
    // The parsed entries, looked up once rather than once per entry; an entry
    // number beyond them raises FieldNotFound as a group lookup does.
    const std::vector<FIX::FieldMap*>* pEntries = nullptr;
    for (auto it = message.g_begin(); it != message.g_end(); ++it) {
        if (it->first == FIX::FIELD::NoMDEntries) pEntries = &it->second;
    }
    for (int i = 1; i <= nEntries; ++i) {
        if (pEntries == nullptr || static_cast<size_t>(i) > pEntries->size()) {
            throw FIX::FieldNotFound(FIX::FIELD::NoMDEntries);
        }
        const FIX::FieldMap& entry = *(*pEntries)[static_cast<size_t>(i - 1)];
        const char cType = ReadChar(entry, FIX::FIELD::MDEntryType);
        const double dPx = ReadDouble(entry, FIX::FIELD::MDEntryPx);
        const double dSize = ReadDouble(entry, FIX::FIELD::MDEntrySize);
        if (!visitor.onEntry(cType, dPx, dSize)) break;
    }
}

void LoadFix44Dictionary() { GetFix44DataDictionary(); }

}  // namespace fix
}  // namespace vantrel
