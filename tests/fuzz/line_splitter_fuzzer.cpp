// The feed's line splitter against a reader that takes one byte at a time:
// an arbitrary byte stream, cut into arbitrary receive sizes and drained at
// arbitrary moments, must give exactly the reader's lines, and what stays
// buffered must be the reader's open line.
//
// Input: the splitter's line limit and the cut points are taken from the end
// of the input, the stream from its front.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "feed/LineSplitter.h"

namespace {

// Reads as the quotes protocol defines it: a line is filled byte by byte, a
// CR is never stored, an LF ends the line unstored, and a line that has
// reached the limit ends before the next byte is looked at.
class ByteReader {
public:
    explicit ByteReader(std::size_t limit) : m_nLimit(limit) {}

    void Feed(const std::string& bytes) {
        for (const char c : bytes) {
            if (c == '\r') continue;
            if (c == '\n') {
                EndLine();
            } else {
                m_open += c;
                if (m_open.size() == m_nLimit) EndLine();
            }
        }
    }
    const std::vector<std::string>& lines() const { return m_lines; }
    const std::string& open() const { return m_open; }

private:
    void EndLine() {
        m_lines.push_back(m_open);
        m_open.clear();
    }
    std::size_t m_nLimit;
    std::vector<std::string> m_lines;
    std::string m_open;
};

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "line splitter disagrees with the byte reader: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t limit = input.ConsumeBool() ? 1000 : input.ConsumeIntegralInRange<std::size_t>(1, 40);
    vantrel::CLineSplitter splitter(limit);
    ByteReader reader(limit);
    std::vector<std::string> lines;

    while (input.remaining_bytes() > 0) {
        const std::size_t cut = input.ConsumeIntegralInRange<std::size_t>(0, 80);
        const bool bReserve = input.ConsumeBool();
        const bool bDrain = input.ConsumeBool();
        const std::string chunk = input.ConsumeBytesAsString(cut);
        reader.Feed(chunk);
        if (bReserve) {
            // Receive-style: room reserved larger than what arrives.
            char* space = splitter.Reserve(chunk.size() + 7);
            if (!chunk.empty()) std::memcpy(space, chunk.data(), chunk.size());
            splitter.Commit(chunk.size());
        } else {
            splitter.Append(chunk);
        }
        if (bDrain) {
            std::string_view line;
            while (splitter.NextLine(line)) lines.emplace_back(line);
        }
    }
    std::string_view line;
    while (splitter.NextLine(line)) lines.emplace_back(line);

    Check(lines == reader.lines(), "lines");
    Check(splitter.Pending() == reader.open().size(), "bytes left of the open line");
    return 0;
}
