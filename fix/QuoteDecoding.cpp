#include "fix/QuoteDecoding.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <quickfix/FieldConvertors.h>
#include <quickfix/FieldNumbers.h>
#include <quickfix/Message.h>

#include "fix/Fix44Dictionary.h"
#include "platform/FloatingPoint.h"

namespace vantrel {
namespace fix {
namespace {

// The typed reads, as QuickFIX's field classes do them: a value that does not
// convert raises FIX::IncorrectDataFormat with the tag and the text.
const std::string& ReadText(const FIX::FieldMap& map, int tag) {
    return map.getFieldRef(tag).getString();
}

// Integer syntax: an optional "-" and one or more digits, within the range of
// an int. (QuickFIX's own conversion lets a longer number overflow, which
// would turn a count of 4294967298 into 2.)
// QuickFIX leaves every BeginString, BodyLength and CheckSum field out of the
// length and the sum it compares, so a second one would hide its bytes from
// both checks: each may appear once.
void RequireOnce(const FIX::FieldMap& map, int tag) {
    int n = 0;
    for (auto field = map.begin(); field != map.end(); ++field) n += field->getTag() == tag;
    if (n > 1) throw FIX::RepeatedTag(tag);
}

int ReadInt(const FIX::FieldMap& map, int tag) {
    const std::string& text = ReadText(map, tag);
    const bool bNegative = !text.empty() && text[0] == '-';
    const std::size_t start = bNegative ? 1 : 0;
    const long long nLimit = bNegative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long nValue = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
        if (digit > 9) throw FIX::IncorrectDataFormat(tag, text);
        nValue = nValue * 10 + digit;
        if (nValue > nLimit) throw FIX::IncorrectDataFormat(tag, text);
    }
    if (text.size() == start) throw FIX::IncorrectDataFormat(tag, text);
    return static_cast<int>(bNegative ? -nValue : nValue);
}

// Decimal syntax: an optional "-", digits, an optional "." and digits, at
// least one digit in all. Prices and sizes are short decimals, so most values
// take the exact fast path: at most 15 digits make an integer mantissa below
// 2^53, and dividing it by an exact power of ten rounds correctly, which is
// what strtod returns. Longer values go to strtod. Both are exact only in
// standard double arithmetic, which the caller puts in place.
bool ParseDecimal(const std::string& text, double& value) {
    static const double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool bNegative = p != end && *p == '-';
    if (bNegative) ++p;
    uint64_t nMantissa = 0;
    const char* const intBegin = p;
    while (p != end && static_cast<unsigned>(*p - '0') < 10u) {
        nMantissa = nMantissa * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    const std::ptrdiff_t nIntDigits = p - intBegin;
    std::ptrdiff_t nFraction = 0;
    if (p != end && *p == '.') {
        const char* const fracBegin = ++p;
        while (p != end && static_cast<unsigned>(*p - '0') < 10u) {
            nMantissa = nMantissa * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        nFraction = p - fracBegin;
    }
    if (p != end || nIntDigits + nFraction == 0) return false;
    if (nIntDigits + nFraction > 15) {
        value = std::strtod(text.c_str(), nullptr);  // the mantissa may have wrapped
        return true;
    }
    const double dMagnitude = static_cast<double>(nMantissa) / kPowersOfTen[nFraction];
    value = bNegative ? -dMagnitude : dMagnitude;
    return true;
}

double ConvertDouble(const FIX::FieldBase* pField, int tag) {
    if (pField == nullptr) throw FIX::FieldNotFound(tag);
    const std::string& text = pField->getString();
    double value = 0.0;
    if (!ParseDecimal(text, value)) throw FIX::IncorrectDataFormat(tag, text);
    return value;
}

char ConvertChar(const FIX::FieldBase* pField, int tag) {
    if (pField == nullptr) throw FIX::FieldNotFound(tag);
    const std::string& text = pField->getString();
    char value = 0;
    if (!FIX::CharConvertor::convert(text, value)) throw FIX::IncorrectDataFormat(tag, text);
    return value;
}

}  // namespace

std::string SymbolOfPayload(const std::string& payload) {
    const FIX::Message message(payload, true);
    // QuickFIX compares BodyLength and CheckSum after a conversion that lets a
    // number beyond an int wrap round (a CheckSum of 4294967519 passes for
    // 223); both must be ints.
    ReadInt(message.getHeader(), FIX::FIELD::BodyLength);
    ReadInt(message.getTrailer(), FIX::FIELD::CheckSum);
    RequireOnce(message.getHeader(), FIX::FIELD::BeginString);
    RequireOnce(message.getHeader(), FIX::FIELD::BodyLength);
    RequireOnce(message.getTrailer(), FIX::FIELD::CheckSum);
    return ReadText(message, FIX::FIELD::Symbol);
}

void DecodeMarketDataEntries(const std::string& text, MDEntryVisitor& visitor) {
    const FIX::DataDictionary& dictionary = GetFix44DataDictionary();
    const FIX::Message message(text, dictionary, true);
    const int nEntries = ReadInt(message, FIX::FIELD::NoMDEntries);
    // The parsed entries, looked up once rather than once per entry; an entry
    // number beyond them raises FieldNotFound as a group lookup does.
    const std::vector<FIX::FieldMap*>* pEntries = nullptr;
    // The conversions below, and whatever the visitor computes, run in
    // standard double arithmetic whatever the host did to this thread's
    // floating-point state.
    const platform::StandardDoubleArithmetic arithmetic;
    for (auto it = message.g_begin(); it != message.g_end(); ++it) {
        if (it->first == FIX::FIELD::NoMDEntries) pEntries = &it->second;
    }
    for (int i = 1; i <= nEntries; ++i) {
        if (pEntries == nullptr || static_cast<size_t>(i) > pEntries->size()) {
            throw FIX::FieldNotFound(FIX::FIELD::NoMDEntries);
        }
        const FIX::FieldMap& entry = *(*pEntries)[static_cast<size_t>(i - 1)];
        // One pass over the entry finds the first occurrence of each field;
        // they are then checked and converted in the order type, price, size.
        const FIX::FieldBase* pType = nullptr;
        const FIX::FieldBase* pPx = nullptr;
        const FIX::FieldBase* pSize = nullptr;
        for (auto field = entry.begin(); field != entry.end(); ++field) {
            switch (field->getTag()) {
                case FIX::FIELD::MDEntryType: if (!pType) pType = &*field; break;
                case FIX::FIELD::MDEntryPx: if (!pPx) pPx = &*field; break;
                case FIX::FIELD::MDEntrySize: if (!pSize) pSize = &*field; break;
                default: break;
            }
        }
        const char cType = ConvertChar(pType, FIX::FIELD::MDEntryType);
        const double dPx = ConvertDouble(pPx, FIX::FIELD::MDEntryPx);
        const double dSize = ConvertDouble(pSize, FIX::FIELD::MDEntrySize);
        if (!visitor.onEntry(cType, dPx, dSize)) break;
    }
}

void LoadFix44Dictionary() { GetFix44DataDictionary(); }

}  // namespace fix
}  // namespace vantrel
