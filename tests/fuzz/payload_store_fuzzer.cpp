// The payload check and the quotes store: arbitrary payloads never crash the
// store nor raise anything but the decoding errors, and only well-formed
// messages with a Symbol are stored, under that Symbol, byte for byte.
//
// Input: the first byte chooses the mode, the rest is the payload.
//   raw        the rest, up to a NUL byte, is handed to the store;
//   generated  the rest is read as fields (a tag byte and a value) and made
//              into a message with correct BodyLength and CheckSum, which
//              the store must take exactly when it has a Symbol.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include <quickfix/Exceptions.h>

#include "feed/QuotesContainer.h"
#include "fix/PayloadScan.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/FixText.h"

namespace {

using vantrel::fuzz::Fail;

// Digits only (leading zeros allowed), at most INT_MAX.
bool ToNumber(const std::string& digits, long long& value) {
    if (digits.empty()) return false;
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return false;
    }
    return true;
}

// The structural rules, checked without QuickFIX: "tag=value" fields each
// ended by SOH up to the very last byte, tags of digits without a leading
// zero, no empty value, every data field right after its length field, which
// gives its size in bytes (the list of data fields is the library's), the
// first three fields BeginString (8), BodyLength (9) and MsgType (35), the
// last one CheckSum (10); BodyLength counts the bytes after its own field up to the CheckSum
// field, CheckSum is the byte sum of everything before it modulo 256. On
// success `symbols` holds the values of its Symbol (55) fields.
bool WellFormed(const std::string& text, std::vector<std::string>& symbols) {
    struct Field {
        long long tag;
        std::string value;
        std::size_t begin;
    };
    std::vector<Field> fields;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t soh = text.find('\x01', at);
        if (soh == std::string::npos) return false;
        const std::size_t equals = text.find('=', at);
        if (equals == std::string::npos || equals > soh) return false;
        Field field{0, text.substr(equals + 1, soh - equals - 1), at};
        if (text[at] == '0' || !ToNumber(text.substr(at, equals - at), field.tag) || field.value.empty()) return false;
        // A data field right after its length field, which gives its size.
        const int lengthTag = vantrel::fix::DataLengthTag(static_cast<int>(field.tag));
        long long size = 0;
        if (lengthTag != 0 && (fields.empty() || fields.back().tag != lengthTag ||
                               !ToNumber(fields.back().value, size) ||
                               static_cast<std::size_t>(size) != field.value.size())) {
            return false;
        }
        fields.push_back(field);
        at = soh + 1;
    }
    if (fields.size() < 4 || fields[0].tag != 8 || fields[1].tag != 9 || fields[2].tag != 35 ||
        fields.back().tag != 10) {
        return false;
    }
    long long bodyLength = 0, checkSum = 0;
    if (!ToNumber(fields[1].value, bodyLength) || !ToNumber(fields.back().value, checkSum)) return false;
    const std::size_t checkSumAt = fields.back().begin;
    if (static_cast<std::size_t>(bodyLength) != checkSumAt - fields[2].begin) return false;
    if (checkSum != vantrel::test::FixCheckSum(text.substr(0, checkSumAt))) return false;
    for (const Field& field : fields) {
        if (field.tag == 55) symbols.push_back(field.value);
    }
    return true;
}

// A message made of fields taken from the input. Tags come from a small set
// that mixes header, body and group fields; values are never empty and hold
// neither SOH nor NUL. Nothing else can make QuickFIX refuse it.
std::string Generate(FuzzedDataProvider& input, std::vector<std::string>& symbols) {
    static const int kTags[] = {49, 56, 34, 52, 55, 268, 269, 270, 271, 15, 58, 262, 7004, 55};
    std::string body = "35=" + std::string(input.ConsumeBool() ? "W" : "X") + "\x01";
    while (input.remaining_bytes() > 0) {
        const int tag = kTags[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kTags) - 1)];
        std::string value = input.ConsumeRandomLengthString(24);
        for (char& c : value) {
            if (c == '\x01' || c == '\0') c = ' ';
        }
        if (value.empty()) value = "0";
        if (tag == 55) symbols.push_back(value);
        body += std::to_string(tag) + "=" + value + "\x01";
    }
    return vantrel::test::FixFramed(body);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::UseScratchLogDirectory();
    vantrel::GetQuotesContainer().AddRef();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    vantrel::CQuotesContainer& store = vantrel::GetQuotesContainer();
    store.Clear();
    const bool bGenerated = (data[0] & 1) != 0;
    std::vector<std::string> symbols;
    std::string payload;
    if (bGenerated) {
        FuzzedDataProvider input(data + 1, size - 1);
        payload = Generate(input, symbols);
    } else {
        // Cut at a NUL byte, as the quotes thread cuts its lines: payloads
        // are text.
        payload.assign(reinterpret_cast<const char*>(data + 1), size - 1);
        payload.resize(payload.find('\0') == std::string::npos ? payload.size() : payload.find('\0'));
    }

    bool bStored = false;
    try {
        bStored = store.SetQuotes(payload);
    } catch (const FIX::Exception&) {
        // The decoding errors the store is documented to raise.
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        Fail("the store raised something other than a decoding error");
    }

    if (bGenerated && bStored == symbols.empty()) Fail("a generated message was not stored exactly when it has a Symbol", payload);
    if (!bStored) {
        std::string anySymbol, text;
        if (store.GetAnyQuotes(anySymbol, text)) Fail("a rejected payload left something in the store", payload);
        return 0;
    }
    if (!bGenerated) {
        if (!WellFormed(payload, symbols)) Fail("a malformed payload was stored", payload);
        if (symbols.empty()) Fail("a payload without Symbol was stored", payload);
    }
    // Filed under its Symbol. A message that repeats the field is filed under
    // one of them: QuickFIX's lookup keeps the first only while a tag repeats
    // a few times.
    std::string symbol, text;
    if (!store.GetAnyQuotes(symbol, text) || std::find(symbols.begin(), symbols.end(), symbol) == symbols.end()) {
        Fail("the payload is not filed under its Symbol", payload + "\nfiled under: " + symbol);
    }
    if (text != payload || !store.GetQuotes(symbol, text) || text != payload) Fail("the text stored is not the payload", payload);
    return 0;
}
