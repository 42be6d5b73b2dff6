// Line splitting must give exactly the lines of a reader that takes one byte
// at a time, however the stream is cut into receives.
#include "feed/LineSplitter.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// The byte-wise reader: CR dropped, LF ends the line, and a line that reaches
// `max` characters ends there without taking the next byte. `rest` is the
// open line at the end of the input.
std::vector<std::string> ByteWiseLines(const std::string& bytes, size_t max, std::string* rest) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : bytes) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
            continue;
        }
        line.push_back(c);
        if (line.size() == max) {
            lines.push_back(line);
            line.clear();
        }
    }
    *rest = line;
    return lines;
}

// Feeds `bytes` in the given chunk sizes and drains every complete line
// after each chunk, as the quotes thread does.
std::vector<std::string> SplitterLines(const std::string& bytes, size_t max,
                                       const std::vector<size_t>& chunks, size_t* pending) {
    CLineSplitter splitter(max);
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
        const size_t size = std::min(chunks[i % chunks.size()], bytes.size() - at);
        splitter.Append(std::string_view(bytes).substr(at, size));
        at += size;
        std::string_view line;
        while (splitter.NextLine(line)) lines.emplace_back(line);
    }
    *pending = splitter.Pending();
    return lines;
}

void ExpectSameLines(const std::string& bytes, size_t max, const std::vector<size_t>& chunks) {
    std::string rest;
    const std::vector<std::string> expected = ByteWiseLines(bytes, max, &rest);
    size_t pending = 0;
    EXPECT_EQ(SplitterLines(bytes, max, chunks, &pending), expected);
    // What stays buffered is the open line, CRs already dropped.
    EXPECT_EQ(pending, rest.size());
}

TEST(LineSplitter, BoundaryCases) {
    const std::string full(1000, 'x');
    for (const std::string& bytes : {
             std::string("abc\r\n\r\n\n"),
             std::string("a\rb\r\rc\n\r\r\r\n"),
             std::string("x\0y\n", 4),
             full + "\n",             // the piece, then an empty line
             full + "\r\n",           // a CR after the piece is dropped from the next line
             full + "\r" + full + "\n",
             std::string(2500, 'y') + "\r\n",
             std::string(999, 'z') + "\r\r\n" + full,
         }) {
        SCOPED_TRACE(bytes.size());
        ExpectSameLines(bytes, 1000, {bytes.size()});
        ExpectSameLines(bytes, 1000, {1});
        ExpectSameLines(bytes, 1000, {999, 2, 1000, 7});
    }
}

TEST(LineSplitter, MatchesTheByteWiseReaderOnRandomStreams) {
    std::mt19937 random(20261208);
    // Mostly ordinary text, with many CRs, LFs and the odd NUL or high byte.
    const std::string alphabet = std::string("abcQT[]=\x01\x80\xff\0", 12) + "\r\r\n\n";
    for (int round = 0; round < 3000; ++round) {
        const size_t max = std::vector<size_t>{1, 2, 3, 7, 64, 1000}[round % 6];
        const size_t length = std::uniform_int_distribution<size_t>(0, round % 10 == 0 ? 5000 : 300)(random);
        std::string bytes;
        // Long stretches without LF exercise the 1000-character limit.
        const bool bLongLines = round % 4 == 0;
        for (size_t i = 0; i < length; ++i) {
            char c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
            if (bLongLines && c == '\n') c = 'L';
            bytes.push_back(c);
        }
        std::vector<size_t> chunks;
        for (int i = 0; i < 8; ++i) {
            chunks.push_back(std::uniform_int_distribution<size_t>(1, round % 3 == 0 ? 4 : 1500)(random));
        }
        SCOPED_TRACE(round);
        ExpectSameLines(bytes, max, chunks);
        if (::testing::Test::HasFailure()) break;
    }
}

TEST(LineSplitter, AStreamOfCarriageReturnsDoesNotGrowTheBuffer) {
    CLineSplitter splitter;
    const std::string crs(64 * 1024, '\r');
    std::string_view line;
    for (int i = 0; i < 64; ++i) {
        splitter.Append(crs);
        EXPECT_FALSE(splitter.NextLine(line));
        ASSERT_EQ(splitter.Pending(), 0u);
    }
    splitter.Append("ab\r\n");
    ASSERT_TRUE(splitter.NextLine(line));
    EXPECT_EQ(line, "ab");
}

}  // namespace
}  // namespace vantrel
