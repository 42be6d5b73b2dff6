#include "feed/LineSplitter.h"

#include <cstring>

namespace vantrel {

void CLineSplitter::Compact() {
    if (m_nBegin == 0) return;
    if (m_nBegin < m_nEnd) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_nBegin, m_nEnd - m_nBegin);
    }
    m_nEnd -= m_nBegin;
    m_nBegin = 0;
}

char* CLineSplitter::Reserve(std::size_t size) {
    Compact();
    if (m_buffer.size() < m_nEnd + size) m_buffer.resize(m_nEnd + size);
    return m_buffer.data() + m_nEnd;
}

void CLineSplitter::Commit(std::size_t size) { m_nEnd += size; }

void CLineSplitter::Append(std::string_view bytes) {
    std::memcpy(Reserve(bytes.size()), bytes.data(), bytes.size());
    Commit(bytes.size());
}

bool CLineSplitter::NextLine(std::string_view& line) {
    const char* const begin = m_buffer.data() + m_nBegin;
    const std::size_t available = m_nEnd - m_nBegin;
    // Fast path: an LF within reach, and no CR before it other than one right
    // before it (the usual CR LF ending). Such a line is shorter than the
    // limit, so it is handed out in place.
    const std::size_t reach = available < m_nMaxLength ? available : m_nMaxLength;
    const char* lf = static_cast<const char*>(std::memchr(begin, '\n', reach));
    if (lf != nullptr) {
        std::size_t length = static_cast<std::size_t>(lf - begin);
        if (length > 0 && begin[length - 1] == '\r') --length;
        if (std::memchr(begin, '\r', length) == nullptr) {
            line = std::string_view(begin, length);
            m_nBegin += static_cast<std::size_t>(lf - begin) + 1;
            return true;
        }
    }
    // Byte by byte: drop CRs, stop at LF or when the line is full.
    m_scratch.clear();
    for (std::size_t i = 0; i < available; ++i) {
        const char c = begin[i];
        if (c == '\r') continue;
        if (c == '\n') {
            m_nBegin += i + 1;
            line = m_scratch;
            return true;
        }
        m_scratch.push_back(c);
        if (m_scratch.size() == m_nMaxLength) {
            m_nBegin += i + 1;
            line = m_scratch;
            return true;
        }
    }
    // The line is still open. Keep only its characters, CRs dropped, so a
    // stream of CRs cannot grow the buffer and the next call starts clean.
    std::memcpy(m_buffer.data() + m_nBegin, m_scratch.data(), m_scratch.size());
    m_nEnd = m_nBegin + m_scratch.size();
    return false;
}

}  // namespace vantrel
