// Decoding a stored message with the FIX 4.4 dictionary, as the quote
// queries do, including messages written by QuickFIX's own FIX 4.4 classes.
#include <quickfix/Exceptions.h>
#include <quickfix/fix44/MarketDataSnapshotFullRefresh.h>

#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace vantrel {
namespace {

using test::Entry;
using test::SnapshotMessage;

struct Decoded {
    char type;
    double px;
    double size;
    bool operator==(const Decoded& o) const { return type == o.type && px == o.px && size == o.size; }
};

struct Collector : fix::MDEntryVisitor {
    std::vector<Decoded> entries;
    size_t stopAfter = 1000;
    bool onEntry(char cType, double dPx, double dSize) override {
        entries.push_back({cType, dPx, dSize});
        return entries.size() < stopAfter;
    }
};

std::vector<Decoded> Decode(const std::string& text) {
    Collector c;
    fix::DecodeMarketDataEntries(text, c);
    return c.entries;
}

TEST(StoredDecode, ReadsEveryEntryInOrderAndStopsWhenAsked) {
    const std::string text = SnapshotMessage(
        "EUR/USD", {{"0", "1.2345", "1000000"}, {"1", "1.2347", "500000"}, {"2", "1.2346", "7"}});
    const std::vector<Decoded> expected = {{'0', 1.2345, 1e6}, {'1', 1.2347, 5e5}, {'2', 1.2346, 7}};
    EXPECT_EQ(Decode(text), expected);

    Collector c;
    c.stopAfter = 2;
    fix::DecodeMarketDataEntries(text, c);
    EXPECT_EQ(c.entries.size(), 2u);

    EXPECT_TRUE(Decode(SnapshotMessage("EUR/USD", {})).empty());
}

TEST(StoredDecode, MissingEntriesAndFieldsRaiseFieldNotFound) {
    // NoMDEntries says 3 but two entries follow: entries 1 and 2 decode.
    std::string text = test::FixMessage(
        "W", {{55, "X"}, {268, "3"}, {269, "0"}, {270, "1.5"}, {271, "10"}, {269, "1"}, {270, "1.6"}, {271, "20"}});
    Collector c;
    EXPECT_THROW(fix::DecodeMarketDataEntries(text, c), FIX::FieldNotFound);
    EXPECT_EQ(c.entries.size(), 2u);

    // A tag the group does not list ends the group inside the second entry:
    // the second entry lacks MDEntrySize, which came after the unknown tag.
    text = test::FixMessage("W", {{55, "X"}, {268, "3"},
                                  {269, "0"}, {270, "1.5"}, {271, "10"},
                                  {269, "1"}, {270, "1.6"}, {7999, "odd"}, {271, "20"},
                                  {269, "0"}, {270, "1.4"}, {271, "30"}});
    c.entries.clear();
    EXPECT_THROW(fix::DecodeMarketDataEntries(text, c), FIX::FieldNotFound);
    ASSERT_EQ(c.entries.size(), 1u);
    EXPECT_EQ(c.entries[0], (Decoded{'0', 1.5, 10}));

    EXPECT_THROW(Decode(test::FixMessage("W", {{55, "X"}})), FIX::FieldNotFound);
    EXPECT_THROW(Decode(SnapshotMessage("X", {{"0", "", "10"}})), FIX::FieldNotFound);
    EXPECT_THROW(Decode(SnapshotMessage("X", {{"0", "1.1", ""}})), FIX::FieldNotFound);
    EXPECT_THROW(Decode(SnapshotMessage("X", {{"0", "1.1", "1"}}) + "\r\n"), FIX::InvalidMessage);
}

TEST(StoredDecode, ValueSyntaxFollowsTheTypedReads) {
    EXPECT_EQ(Decode(SnapshotMessage("X", {{"0", ".5", "1."}})), (std::vector<Decoded>{{'0', 0.5, 1.0}}));
    EXPECT_EQ(Decode(SnapshotMessage("X", {{"1", "-0.25", "007"}})), (std::vector<Decoded>{{'1', -0.25, 7.0}}));

    struct Bad {
        Entry entry;
        int tag;
        std::string text;
    };
    const Bad cases[] = {
        {{"0", "1,2345", "1"}, 270, "1,2345"}, {{"01", "1.2", "1"}, 269, "01"},
        {{"0", "1e5", "1"}, 270, "1e5"},       {{"0", "+1.5", "1"}, 270, "+1.5"},
        {{"0", " 1.5", "1"}, 270, " 1.5"},     {{"0", "1.5", "2.5.1"}, 271, "2.5.1"},
        {{"0", "1.5", "-"}, 271, "-"},
    };
    for (const Bad& bad : cases) {
        try {
            Decode(SnapshotMessage("X", {bad.entry}));
            ADD_FAILURE() << bad.text << " was accepted";
        } catch (const FIX::IncorrectDataFormat& e) {
            EXPECT_EQ(e.field, bad.tag) << bad.text;
            EXPECT_EQ(e.detail, bad.text);
        }
    }
    // NoMDEntries is an int: a count beyond its range does not convert (it
    // must not wrap round to the two entries that follow).
    for (const char* count : {"+1", "4294967298", "2147483648", "-2147483649", "244444444444444444444"}) {
        try {
            Decode(test::FixMessage("W", {{55, "X"}, {268, count}, {269, "0"}, {270, "1"}, {271, "1"},
                                          {269, "1"}, {270, "2"}, {271, "2"}}));
            ADD_FAILURE() << count << " accepted as NoMDEntries";
        } catch (const FIX::IncorrectDataFormat& e) {
            EXPECT_EQ(e.field, 268);
            EXPECT_EQ(e.detail, count);
        }
    }
    EXPECT_EQ(Decode(test::FixMessage("W", {{55, "X"}, {268, "0000000001"}, {269, "0"}, {270, "1"}, {271, "1"}})),
              (std::vector<Decoded>{{'0', 1.0, 1.0}}));
}

// Decimals convert to exactly what strtod gives, across short and long
// mantissas, many fraction lengths, leading zeros and signs.
TEST(StoredDecode, DecimalsConvertExactlyAsStrtod) {
    std::mt19937_64 random(20261208);
    std::vector<Entry> entries;
    for (int i = 0; i < 990; ++i) {
        std::string text = random() % 5 == 0 ? "-" : "";
        const int intDigits = static_cast<int>(random() % 12);
        const int fracDigits = static_cast<int>(random() % 14);
        for (int d = 0; d < intDigits; ++d) text += static_cast<char>('0' + random() % 10);
        if (fracDigits > 0 || intDigits == 0) {
            text += '.';
            for (int d = 0; d < fracDigits || (intDigits == 0 && d == 0); ++d) text += static_cast<char>('0' + random() % 10);
        }
        entries.push_back({"0", text, text});
    }
    entries.push_back({"1", "123456789012345678901234567890", "0.1234567890123456789"});
    entries.push_back({"1", "9007199254740993", "000000000000000001.5"});
    const std::vector<Decoded> decoded = Decode(SnapshotMessage("X", entries));
    ASSERT_EQ(decoded.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(decoded[i].px, std::strtod(entries[i].px.c_str(), nullptr)) << entries[i].px;
    }
}

// QuickFIX's own FIX 4.4 classes write the message; our decode must see the
// same entries QuickFIX put in.
TEST(StoredDecode, MessagesWrittenByQuickFixDecodeToTheSameEntries) {
    for (int depth : {1, 2, 5}) {
        FIX44::MarketDataSnapshotFullRefresh snapshot;
        snapshot.getHeader().setField(FIX::SenderCompID("FEED"));
        snapshot.getHeader().setField(FIX::TargetCompID("CLIENT"));
        snapshot.getHeader().setField(FIX::MsgSeqNum(depth));
        snapshot.set(FIX::Symbol("USD/JPY"));
        std::vector<Decoded> expected;
        for (int i = 0; i < depth; ++i) {
            for (char side : {'0', '1'}) {
                FIX44::MarketDataSnapshotFullRefresh::NoMDEntries entry;
                const double px = 150.0 + (side == '0' ? -0.25 : 0.25) * (i + 1);  // exact in binary
                const double size = 1000000.0 * (i + 1);
                entry.set(FIX::MDEntryType(side));
                entry.set(FIX::MDEntryPx(px));
                entry.set(FIX::Currency("JPY"));
                entry.set(FIX::MDEntrySize(size));
                entry.set(FIX::QuoteEntryID("q" + std::to_string(i)));
                snapshot.addGroup(entry);
                expected.push_back({side, px, size});
            }
        }
        const std::string text = snapshot.toString();
        EXPECT_EQ(fix::SymbolOfPayload(text), "USD/JPY");
        EXPECT_EQ(Decode(text), expected) << text;
    }
}

}  // namespace
}  // namespace vantrel
