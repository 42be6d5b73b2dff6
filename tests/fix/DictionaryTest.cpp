// The FIX 4.4 dictionary carried in the library: its contents, and that it is
// loaded once however many threads ask for it first.
#include <atomic>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "fix/EmbeddedDictionary.h"
#include "fix/Fix44Dictionary.h"
#include "fix/PayloadScan.h"
#include "fix/QuoteDecoding.h"
#include "tests/support/FixText.h"

namespace vantrel {
namespace {

std::string EmbeddedXml() {
    const fix::ByteSpan bytes = fix::EmbeddedFix44DictionaryXml();
    return std::string(bytes.pData, bytes.nSize);
}

// What the generator produces from QuickFIX 1.15's FIX 4.4 headers.
constexpr size_t kMessages = 94;
constexpr size_t kComponents = 24;
constexpr size_t kFields = 917;

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string Section(const std::string& xml, const std::string& name) {
    const size_t begin = xml.find("<" + name + ">");
    const size_t end = xml.find("</" + name + ">");
    return begin == std::string::npos || end == std::string::npos ? std::string() : xml.substr(begin, end - begin);
}

// Concurrent first use must load the text once and leave a dictionary every
// thread can parse with at once (QuickFIX builds group field orders lazily
// and unguarded; the loader computes them before sharing the dictionary).
TEST(Dictionary, ConcurrentFirstUseLoadsOnceAndDecodesEverywhere) {
    const std::string text = test::SnapshotMessage("EUR/USD", {{"0", "1.1", "1"}, {"1", "1.2", "2"}});
    const std::string withHops = test::FixMessage(
        "W", {{627, "1"}, {628, "HOP"}, {55, "X"}, {268, "1"}, {269, "0"}, {270, "1"}, {271, "1"}});
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    struct Counter : fix::MDEntryVisitor {
        int n = 0;
        bool onEntry(char, double, double) override { return ++n < 100; }
    };
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < 200; ++i) {
                try {
                    Counter c;
                    fix::DecodeMarketDataEntries(i % 2 ? text : withHops, c);
                    if (c.n != (i % 2 ? 2 : 1)) failures.fetch_add(1);
                } catch (...) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(fix::Fix44DictionaryParseCount(), 1u);
    fix::LoadFix44Dictionary();
    EXPECT_EQ(fix::Fix44DictionaryParseCount(), 1u);
}

TEST(Dictionary, MarketDataGroupHasTheLibrarysMemberOrder) {
    const FIX::DataDictionary& dd = fix::GetFix44DataDictionary();
    int delim = 0;
    const FIX::DataDictionary* group = nullptr;
    ASSERT_TRUE(dd.getGroup("W", 268, delim, group));
    EXPECT_EQ(delim, 269);
    const FIX::message_order& order = group->getOrderedFields();
    const std::vector<int> expected = {269, 270, 15,  271, 272, 273, 274, 275, 336, 625, 276,
                                       277, 282, 283, 284, 286, 59,  432, 126, 110, 18,  287,
                                       37,  299, 288, 289, 346, 290, 546, 811, 58,  354, 355};
    // message_order ranks the members: each expected tag must come after the last.
    for (size_t i = 1; i < expected.size(); ++i) {
        EXPECT_TRUE(order(expected[i - 1], expected[i])) << expected[i - 1] << " before " << expected[i];
    }
    for (int tag : expected) EXPECT_TRUE(group->isField(tag)) << tag;
    EXPECT_FALSE(group->isField(55));
    // Groups of the components the snapshot message uses.
    EXPECT_TRUE(dd.getGroup("W", 711, delim, group));  // NoUnderlyings
    EXPECT_TRUE(dd.getGroup("W", 555, delim, group));  // NoLegs
    EXPECT_TRUE(dd.getGroup("W", 454, delim, group));  // NoSecurityAltID (Instrument)
}

TEST(Dictionary, UserDefinedMessagesFieldsAndValues) {
    const FIX::DataDictionary& dd = fix::GetFix44DataDictionary();
    EXPECT_TRUE(dd.isMsgType("U1"));
    EXPECT_TRUE(dd.isMsgType("U2"));
    EXPECT_TRUE(dd.isFieldValue(35, "U1"));
    EXPECT_TRUE(dd.isFieldValue(35, "U2"));
    const std::pair<int, const char*> userFields[] = {
        {7003, "NotifPriority"}, {7004, "AccountName"}, {7005, "Leverage"}, {7006, "UsableMargin"}, {7007, "Equity"}};
    for (const auto& field : userFields) {
        std::string name;
        EXPECT_TRUE(dd.getFieldName(field.first, name));
        EXPECT_EQ(name, field.second);
    }
    EXPECT_TRUE(dd.isMsgField("U1", 7003));
    EXPECT_TRUE(dd.isMsgField("U1", 58));
    EXPECT_TRUE(dd.isMsgField("U2", 15));
    EXPECT_TRUE(dd.isMsgField("U2", 7007));
    std::string value;
    EXPECT_TRUE(dd.getValueName(7003, "3", value));
    EXPECT_EQ(value, "ALERT");
    EXPECT_TRUE(dd.getValueName(40, "Q", value));
    EXPECT_EQ(value, "QUOTE_VELMO");
    EXPECT_TRUE(dd.getValueName(269, "C", value));
    EXPECT_EQ(value, "OPEN_INTEREST");
    FIX::TYPE::Type type;
    EXPECT_TRUE(dd.getFieldType(7005, type));
    EXPECT_EQ(type, FIX::TYPE::Float);
    EXPECT_TRUE(dd.getFieldType(269, type));
    EXPECT_EQ(type, FIX::TYPE::Char);
}

// The payload scan's list of data fields is the dictionary's, and each has a
// length field where QuickFIX looks for it. QuickFIX reads the length from
// the part of the message the parse is in: a group that holds a length field
// but not its data field would end before the data field, which would then
// take its length from another occurrence, one the scan never matched.
// Returns how many groups holding a length field it saw.
size_t ExpectLengthWithData(const FIX::DataDictionary& dd, const std::string& msgType, const std::vector<int>& tags,
                            const std::vector<int>& dataTags, int depth) {
    size_t nSeen = 0;
    for (int tag : tags) {
        int delim = 0;
        const FIX::DataDictionary* group = nullptr;
        if (!dd.getGroup(msgType, tag, delim, group) || group == nullptr) continue;
        for (int data : dataTags) {
            nSeen += group->isField(fix::DataLengthTag(data));
            EXPECT_TRUE(!group->isField(fix::DataLengthTag(data)) || group->isField(data))
                << msgType << " group " << tag << " holds " << fix::DataLengthTag(data) << " without " << data;
        }
        if (depth < 8) nSeen += ExpectLengthWithData(*group, msgType, tags, dataTags, depth + 1);
    }
    return nSeen;
}

TEST(Dictionary, DataFieldsAreTheScansAndGroupsKeepThemWithTheirLengths) {
    const FIX::DataDictionary& dd = fix::GetFix44DataDictionary();
    const std::string xml = EmbeddedXml();
    std::vector<int> tags, dataTags;
    const std::regex field("<field number=\"(\\d+)\"");
    for (std::sregex_iterator it(xml.begin(), xml.end(), field), end; it != end; ++it) {
        const int tag = std::stoi((*it)[1]);
        tags.push_back(tag);
        EXPECT_EQ(dd.isDataField(tag), fix::DataLengthTag(tag) != 0) << tag;
        if (!dd.isDataField(tag)) continue;
        dataTags.push_back(tag);
        FIX::TYPE::Type type;
        EXPECT_TRUE(dd.getFieldType(fix::DataLengthTag(tag), type) && type == FIX::TYPE::Length) << tag;
    }
    EXPECT_EQ(tags.size(), kFields);
    EXPECT_EQ(dataTags.size(), 16u);
    const std::regex message("<message [^>]*msgtype=\"([^\"]+)\"");
    std::vector<std::string> msgTypes = {"_header_", "_trailer_"};
    for (std::sregex_iterator it(xml.begin(), xml.end(), message), end; it != end; ++it) msgTypes.push_back((*it)[1]);
    EXPECT_EQ(msgTypes.size(), kMessages + 2);
    size_t nSeen = 0;
    for (const std::string& msgType : msgTypes) nSeen += ExpectLengthWithData(dd, msgType, tags, dataTags, 0);
    EXPECT_GT(nSeen, 100u);  // EncodedText and the instrument's data fields live in many groups
}

// Counts of the direct entries of each section (the generator indents them
// by four spaces), and the header's required order.
size_t DirectEntries(const std::string& section, const std::string& element) {
    return Count(section, "\n    <" + element + " ");
}

TEST(Dictionary, SectionsHoldWhatTheGeneratorWrites) {
    const std::string xml = EmbeddedXml();
    EXPECT_EQ(xml.compare(0, 25, "<fix major=\"4\" minor=\"4\">"), 0);
    const std::string header = Section(xml, "header");
    EXPECT_EQ(DirectEntries(header, "field") + DirectEntries(header, "group"), 27u);
    EXPECT_EQ(DirectEntries(Section(xml, "trailer"), "field"), 3u);
    EXPECT_EQ(DirectEntries(Section(xml, "messages"), "message"), kMessages);
    EXPECT_EQ(DirectEntries(Section(xml, "components"), "component"), kComponents);
    EXPECT_EQ(DirectEntries(Section(xml, "fields"), "field"), kFields);
    const std::regex headerOrder(
        "BeginString\" required=\"Y[\\s\\S]*BodyLength\" required=\"Y[\\s\\S]*MsgType\" required=\"Y[\\s\\S]*"
        "SenderCompID\" required=\"Y[\\s\\S]*TargetCompID\" required=\"Y[\\s\\S]*MsgSeqNum\" required=\"Y[\\s\\S]*"
        "SendingTime\" required=\"Y[\\s\\S]*LastMsgSeqNumProcessed[\\s\\S]*NoHops");
    EXPECT_TRUE(std::regex_search(header, headerOrder));
    const size_t end = xml.find("</fix>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(xml.find_first_not_of("\n", end + 6), std::string::npos);
}

}  // namespace
}  // namespace vantrel
