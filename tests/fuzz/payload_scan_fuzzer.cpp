// The payload scan against QuickFIX's parse with the dictionary: a text that
// passes the check at ingest (QuickFIX's parse without the dictionary, then
// the scan) is parsed with the dictionary without reading past it
// (AddressSanitizer watches), without an error, and into exactly the fields
// the scan saw, so that the check at ingest and the decode read the same
// message.
//
// Input: the first byte chooses the mode, the rest is read as fields (a tag
// byte and a value) among header, trailer, group and data fields, with a
// length field before each data field that is right or off, and made into a
// message with correct BodyLength and CheckSum. In raw mode the rest, as it
// is, is the body of that message.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <quickfix/Message.h>

#include "fix/Fix44Dictionary.h"
#include "fix/PayloadScan.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/FixText.h"

namespace {

using vantrel::fuzz::Fail;
using Fields = std::vector<std::pair<int, std::string>>;

std::string Generate(FuzzedDataProvider& input) {
    // Header (90/91, 212/213, NoHops), trailer (93/89), body and group
    // fields of W, among them the data fields of the entries and of the
    // instrument components.
    static const int kTags[] = {34,  49,  52,  55,  627, 628, 268, 269, 270, 271, 58,  354,
                                355, 95,  96,  93,  89,  90,  91,  212, 213, 711, 311, 362,
                                363, 555, 600, 618, 619, 348, 349, 146, 7004};
    std::string body = "35=" + std::string(input.ConsumeBool() ? "W" : "B") + "\x01";
    while (input.remaining_bytes() > 0) {
        const int tag = kTags[input.ConsumeIntegralInRange<std::size_t>(0, sizeof kTags / sizeof kTags[0] - 1)];
        std::string value = input.ConsumeRandomLengthString(16);
        if (value.empty()) value = "1";
        const int lengthTag = vantrel::fix::DataLengthTag(tag);
        if (lengthTag != 0 && input.ConsumeIntegralInRange<int>(0, 7) != 0) {
            const long long size = static_cast<long long>(value.size()) + input.ConsumeIntegralInRange<int>(-2, 2);
            body += std::to_string(lengthTag) + "=" + std::to_string(size) + "\x01";
        }
        body += std::to_string(tag) + "=" + value + "\x01";
    }
    return vantrel::test::FixFramed(body);
}

void Collect(const FIX::FieldMap& map, Fields& fields) {
    for (auto field = map.begin(); field != map.end(); ++field) fields.emplace_back(field->getTag(), field->getString());
    for (auto groups = map.g_begin(); groups != map.g_end(); ++groups) {
        for (const FIX::FieldMap* pEntry : groups->second) Collect(*pEntry, fields);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fix::GetFix44DataDictionary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text;
    if ((data[0] & 1) != 0) {
        FuzzedDataProvider input(data + 1, size - 1);
        text = Generate(input);
    } else {
        text = vantrel::test::FixFramed(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    }
    // What the check at ingest passes: QuickFIX's parse without the
    // dictionary, then the scan.
    try {
        const FIX::Message plain(text, true);
    } catch (const FIX::Exception&) {
        return 0;
    }
    const vantrel::fix::PayloadScan scan = vantrel::fix::ScanPayload(text.data(), text.size());
    if (scan.fault != vantrel::fix::ScanFault::None) return 0;

    // The fields as the scan saw them: the text split at every SOH.
    Fields expected;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t equals = text.find('=', at);
        const std::size_t soh = text.find('\x01', equals);
        expected.emplace_back(std::stoi(text.substr(at, equals - at)), text.substr(equals + 1, soh - equals - 1));
        at = soh + 1;
    }
    Fields parsed;
    try {
        const FIX::Message message(text, vantrel::fix::GetFix44DataDictionary(), true);
        Collect(message.getHeader(), parsed);
        Collect(message, parsed);
        Collect(message.getTrailer(), parsed);
    } catch (const std::exception& e) {
        Fail(("the dictionary parse refused a text the scan passed: " + std::string(e.what())).c_str(), text);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(parsed.begin(), parsed.end());
    if (parsed != expected) Fail("the dictionary parse saw other fields than the scan", text);
    return 0;
}
