// Splits the server's byte stream into lines, independent of any socket so it
// can be tested (and fuzzed) on byte strings.
//
// The rules: LF ends a line and is not part of it; CR is dropped wherever it
// stands; a line holds at most `maxLength` characters (CRs not counted), and
// a longer one comes out in pieces of `maxLength`, each a line of its own. A
// piece that fills the limit ends right there: the byte after it, even an LF,
// belongs to the next line (so "<1000 chars>\n" gives the piece and then an
// empty line).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

class CLineSplitter {
public:
    explicit CLineSplitter(std::size_t maxLength = 1000) : m_nMaxLength(maxLength) {}

    // Room for at least `size` more bytes at the end of the buffer; write them
    // there and call Commit(size) with the number written.
    char* Reserve(std::size_t size);
    void Commit(std::size_t size);
    void Append(std::string_view bytes);

    // The next complete line, or false when the buffered bytes end inside a
    // line. The view stays valid until the next call of any member.
    bool NextLine(std::string_view& line);

    // Bytes received but not yet handed out as a line.
    std::size_t Pending() const { return m_nEnd - m_nBegin; }

private:
    void Compact();

    std::size_t m_nMaxLength;
    std::string m_buffer;
    std::size_t m_nBegin = 0;  // first byte not yet handed out
    std::size_t m_nEnd = 0;    // end of the received bytes
    std::string m_scratch;     // a line with CRs taken out
};

}  // namespace vantrel
