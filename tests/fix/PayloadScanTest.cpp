// The scan every payload passes before it is stored and every stored text
// before it is decoded: a data field's length must match its bytes, tags are
// canonical numbers, no value is empty. A text it refuses never reaches
// QuickFIX's parse with the dictionary, which would trust the length.
#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

#include "fix/PayloadScan.h"
#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace vantrel {
namespace {

using fix::ScanFault;

fix::PayloadScan Scan(const std::string& text) { return fix::ScanPayload(text.data(), text.size()); }

struct NoEntries final : fix::MDEntryVisitor {
    bool onEntry(char, double, double) override { return true; }
};

// Whole messages with correct BodyLength and CheckSum, so that only the scan
// can refuse them: at ingest (SymbolOfPayload) and at decode alike.
TEST(PayloadScan, DataLengthsTagsAndEmptyValues) {
    struct Case {
        const char* name;
        std::string body;  // after MsgType W, before CheckSum
        ScanFault fault;
        int tag;
    };
    const std::string entry = "268=1\x01" "269=0\x01" "270=1.5\x01" "271=1\x01";
    const Case cases[] = {
        {"plain quote", "55=EUR/USD\x01" + entry, ScanFault::None, 0},
        {"raw data", "95=3\x01" "96=a=b\x01" "55=X\x01", ScanFault::None, 0},
        {"length with leading zeros", "95=003\x01" "96=abc\x01" "55=X\x01", ScanFault::None, 0},
        {"encoded text in an entry", "55=X\x01" "268=1\x01" "269=0\x01" "270=1\x01" "271=1\x01" "354=2\x01" "355=xy\x01",
         ScanFault::None, 0},
        {"secure data", "90=1\x01" "91=z\x01" "55=X\x01", ScanFault::None, 0},
        {"highest tag", "55=X\x01" "2147483647=1\x01", ScanFault::None, 0},
        {"length beyond the message", "55=X\x01" "95=5000\x01" "96=x\x01", ScanFault::DataLength, 96},
        {"length far beyond", "55=X\x01" "95=100000000\x01" "96=x\x01", ScanFault::DataLength, 96},
        {"length short of the field", "55=X\x01" "95=1\x01" "96=xy\x01", ScanFault::DataLength, 96},
        {"length that wraps to 1", "55=X\x01" "95=4294967297\x01" "96=x\x01", ScanFault::DataLength, 96},
        {"negative length", "55=X\x01" "95=-1\x01" "96=x\x01", ScanFault::DataLength, 96},
        {"data holding SOH", "55=X\x01" "95=3\x01" "96=a\x01" "7=\x01", ScanFault::DataLength, 96},
        {"data without length", "55=X\x01" "96=x\x01", ScanFault::DataNoLength, 96},
        {"length not right before", "95=1\x01" "55=X\x01" "96=x\x01", ScanFault::DataNoLength, 96},
        {"second data after one length", "95=1\x01" "96=x\x01" "96=y\x01" "55=X\x01", ScanFault::DataNoLength, 96},
        {"encoded text in an entry, too long", "55=X\x01" + entry + "354=9\x01" "355=xy\x01", ScanFault::DataLength, 355},
        {"signature after the wrong length", "55=X\x01" "88=1\x01" "89=s\x01", ScanFault::DataNoLength, 89},
        {"empty value", "55=X\x01" "21=\x01", ScanFault::EmptyValue, 21},
        {"empty symbol", "55=\x01" + entry, ScanFault::EmptyValue, 55},
        {"empty data", "55=X\x01" "95=0\x01" "96=\x01", ScanFault::EmptyValue, 96},
        {"tag beyond an int", "55=X\x01" "71000000269=1\x01", ScanFault::BadTag, 0},
        {"tag just beyond an int", "55=X\x01" "2147483648=1\x01", ScanFault::BadTag, 0},
        {"leading zero", "055=X\x01", ScanFault::BadTag, 0},
        {"tag zero", "55=X\x01" "0=1\x01", ScanFault::BadTag, 0},
        {"negative tag", "55=X\x01" "-5=1\x01", ScanFault::BadTag, 0},
        {"letter in tag", "55=X\x01" "5x=1\x01", ScanFault::BadTag, 0},
        {"no tag", "55=X\x01" "=1\x01", ScanFault::BadTag, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = test::FixFramed("35=W\x01" + c.body);
        const fix::PayloadScan scan = Scan(text);
        EXPECT_EQ(scan.fault, c.fault);
        EXPECT_EQ(scan.tag, c.tag);
        if (c.fault == ScanFault::None) {
            EXPECT_EQ(fix::DescribeScan(scan), "");
            continue;
        }
        NoEntries visitor;
        EXPECT_THROW(fix::SymbolOfPayload(text), FIX::Exception);
        try {
            fix::DecodeMarketDataEntries(text, visitor);
            ADD_FAILURE() << "decoded";
        } catch (const FIX::InvalidMessage& e) {
            EXPECT_NE(std::string(e.what()).find(fix::DescribeScan(scan)), std::string::npos) << e.what();
        }
    }
}

// Texts that are no sequence of fields: the scan says where it stopped.
TEST(PayloadScan, StopsAtTheFirstFieldThatIsNoField) {
    const std::string quote = test::SnapshotMessage("EUR/USD", {{"0", "1.2345", "1000000"}});
    struct Case {
        std::string text;
        ScanFault fault;
        std::size_t offset;
    } const cases[] = {
        {"", ScanFault::Empty, 0},
        {std::string(1, '\0') + quote, ScanFault::BadTag, 0},
        {quote + "\r\n", ScanFault::BadTag, quote.size()},
        {quote.substr(0, quote.size() - 1), ScanFault::NoSoh, quote.rfind("10=")},
        {"8=FIX.4.4", ScanFault::NoSoh, 0},
        // QuickFIX counts a field after CheckSum into BodyLength and CheckSum.
        {"8=FIX.4.4\x01" "9=29\x01" "35=B\x01" "148=Headline\x01" "10=124\x01" "55=GBP/USD\x01", ScanFault::NotLast, 40},
    };
    for (const Case& c : cases) {
        const fix::PayloadScan scan = Scan(c.text);
        EXPECT_EQ(scan.fault, c.fault) << c.text;
        EXPECT_EQ(scan.offset, c.offset) << c.text;
        EXPECT_NE(fix::DescribeScan(scan), "");
        EXPECT_THROW(fix::SymbolOfPayload(c.text), FIX::Exception) << c.text;
    }
}

}  // namespace
}  // namespace vantrel
