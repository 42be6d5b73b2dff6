// The check every received payload passes before it is stored: one
// well-formed FIX message, no dictionary, Symbol read.
#include <regex>

#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace vantrel {
namespace {

using fix::SymbolOfPayload;
using test::FixMessage;

const std::string kQuote = test::SnapshotMessage("EUR/USD", {{"0", "1.2345", "1000000"}});

std::string InvalidMessageText(const std::string& payload) {
    try {
        SymbolOfPayload(payload);
    } catch (const FIX::InvalidMessage& e) {
        return e.what();
    }
    return "accepted";
}

TEST(PayloadCheck, AcceptsWellFormedMessagesOfAnyTypeWithSymbol) {
    EXPECT_EQ(SymbolOfPayload(kQuote), "EUR/USD");
    EXPECT_EQ(SymbolOfPayload(FixMessage("D", {{11, "ord1"}, {55, "usd/jpy "}, {54, "1"}})), "usd/jpy ");
    EXPECT_THROW(SymbolOfPayload(FixMessage("ZZ", {{55, ""}, {58, "x"}})), FIX::InvalidMessage);
    EXPECT_THROW(SymbolOfPayload(FixMessage("W", {{262, "r1"}, {268, "0"}})), FIX::FieldNotFound);
}

TEST(PayloadCheck, RejectsAnythingButExactlyOneMessage) {
    EXPECT_EQ(InvalidMessageText(kQuote + "\r\n"), "Invalid message: Equal sign not found in field");
    EXPECT_NE(InvalidMessageText(kQuote + kQuote), "accepted");
    EXPECT_NE(InvalidMessageText(kQuote.substr(0, kQuote.size() - 1)), "accepted");
    EXPECT_NE(InvalidMessageText(""), "accepted");
    EXPECT_NE(InvalidMessageText("garbage"), "accepted");

    // BodyLength first instead of BeginString.
    const std::string::size_type bodyLength = kQuote.find("\x01" "9=") + 1;
    const std::string::size_type msgType = kQuote.find("\x01" "35=") + 1;
    const std::string swapped = kQuote.substr(bodyLength, msgType - bodyLength) +
                                kQuote.substr(0, bodyLength) + kQuote.substr(msgType);
    EXPECT_EQ(InvalidMessageText(swapped), "Invalid message: Header fields out of order");
}

TEST(PayloadCheck, CheckSumMustMatchButMayBePadded) {
    const int sum = test::FixCheckSum(kQuote.substr(0, kQuote.rfind("10=")));
    const std::string off = test::WithCheckSumText(kQuote, std::to_string((sum + 1) % 256));
    // The detail text is QuickFIX's own ("Received"/"Recieved" spelling varies).
    const std::regex shape("Invalid message: Expected CheckSum=(\\d+), Re(ce|ec)ived CheckSum=(\\d+)");
    std::smatch m;
    const std::string text = InvalidMessageText(off);
    ASSERT_TRUE(std::regex_match(text, m, shape)) << text;
    EXPECT_EQ(std::stoi(m[1]), sum);
    EXPECT_EQ(std::stoi(m[3]), (sum + 1) % 256);

    // Find a message whose checksum is 7 (three free characters reach every
    // residue), then write its checksum as "7" and as "007".
    std::string seven;
    for (int i = 0; i < 94 * 94 * 94 && seven.empty(); ++i) {
        const std::string free = {static_cast<char>(33 + i % 94), static_cast<char>(33 + i / 94 % 94),
                                  static_cast<char>(33 + i / 94 / 94)};
        const std::string candidate = FixMessage("W", {{55, "GBP/USD"}, {58, free}});
        if (test::FixCheckSum(candidate.substr(0, candidate.rfind("10="))) == 7) seven = candidate;
    }
    ASSERT_FALSE(seven.empty());
    EXPECT_EQ(SymbolOfPayload(test::WithCheckSumText(seven, "007")), "GBP/USD");
    EXPECT_EQ(SymbolOfPayload(test::WithCheckSumText(seven, "7")), "GBP/USD");
}

// BodyLength and CheckSum are ints. QuickFIX's own check lets a longer number
// wrap round, so 2^32 more than the right value would pass for it.
TEST(PayloadCheck, BodyLengthAndCheckSumBeyondAnIntAreRejected) {
    const std::string body = kQuote.substr(kQuote.find("35="), kQuote.rfind("10=") - kQuote.find("35="));
    const auto framed = [&](const std::string& bodyLength) {
        const std::string text = "8=FIX.4.4\x01" "9=" + bodyLength + "\x01" + body;
        return test::WithCheckSumText(text + "10=000\x01", std::to_string(test::FixCheckSum(text)));
    };
    const long long kWrap = 4294967296LL;
    const int sum = test::FixCheckSum(kQuote.substr(0, kQuote.rfind("10=")));
    const std::string wrapped[] = {framed(std::to_string(body.size() + kWrap)),
                                   test::WithCheckSumText(kQuote, std::to_string(sum + kWrap))};
    for (const std::string& payload : wrapped) {
        EXPECT_THROW(SymbolOfPayload(payload), FIX::IncorrectDataFormat) << payload;
    }
    EXPECT_EQ(SymbolOfPayload(framed("000" + std::to_string(body.size()))), "EUR/USD");
}

// QuickFIX leaves BeginString and BodyLength fields out of the length it
// compares: a second one (here with a leading zero in its tag) would smuggle
// unchecked bytes into a message that passes for well-formed.
TEST(PayloadCheck, ASecondBeginStringOrBodyLengthIsRejected) {
    const std::string::size_type afterMsgType = kQuote.find("35=W\x01") + 5;
    for (const std::string stray : {"09=FEED\x01", "9=7\x01", "08=FIX.4.4\x01"}) {
        const std::string text = kQuote.substr(0, afterMsgType) + stray +
                                 kQuote.substr(afterMsgType, kQuote.rfind("10=") - afterMsgType);
        const std::string payload = test::WithCheckSumText(text + "10=000\x01", std::to_string(test::FixCheckSum(text)));
        EXPECT_THROW(SymbolOfPayload(payload), FIX::RepeatedTag) << payload;
    }
}

}  // namespace
}  // namespace vantrel
