#include "notify/SMTPReplyReader.h"

namespace vantrel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithCode(std::string_view text) {
    return text.size() >= 3 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]);
}

}  // namespace

int SMTPReplyCode(std::string_view reply) {
    if (!StartsWithCode(reply)) return 0;
    return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

bool IsSMTPContinuationLine(std::string_view line) {
    return line.size() >= 4 && StartsWithCode(line) && line[3] == '-';
}

bool SMTPReplyOffers(std::string_view ehloReply, std::string_view keyword) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t end = ehloReply.find('\n'); end != std::string_view::npos;) {
        const std::size_t begin = end + 1;
        end = ehloReply.find('\n', begin);
        std::string_view line = ehloReply.substr(begin, end == std::string_view::npos ? end : end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() < 4 || !StartsWithCode(line)) continue;
        line.remove_prefix(4);
        const std::string_view word = line.substr(0, line.find(' '));
        if (word.size() != keyword.size()) continue;
        std::size_t i = 0;
        while (i < word.size() && lower(word[i]) == lower(keyword[i])) ++i;
        if (i == word.size()) return true;
    }
    return false;
}

void CSMTPReplyReader::Append(std::string_view bytes) {
    if (m_nBegin > 0 && m_nBegin == m_buffer.size()) {
        m_buffer.clear();
        m_nScanned -= m_nBegin;
        m_nBegin = 0;
    }
    m_buffer.append(bytes.data(), bytes.size());
}

CSMTPReplyReader::Status CSMTPReplyReader::Next(std::string& reply) {
    if (m_bTooLong) return Status::TooLong;
    std::size_t lineStart = m_nScanned;
    for (;;) {
        const std::size_t lf = m_buffer.find('\n', lineStart);
        const std::size_t extent = (lf == std::string::npos ? m_buffer.size() : lf + 1) - m_nBegin;
        if (extent > m_nMaxLength) {
            m_bTooLong = true;
            return Status::TooLong;
        }
        if (lf == std::string::npos) {
            m_nScanned = lineStart;
            return Status::Incomplete;
        }
        const std::string_view line(m_buffer.data() + lineStart, lf - lineStart);
        if (IsSMTPContinuationLine(line)) {
            lineStart = lf + 1;
            continue;
        }
        const std::size_t end = lf > lineStart && m_buffer[lf - 1] == '\r' ? lf - 1 : lf;
        reply.assign(m_buffer, m_nBegin, end - m_nBegin);
        m_nBegin = m_nScanned = lf + 1;
        // Drop what was handed out once it is a large part of the buffer.
        if (m_nBegin >= 4096 && m_nBegin * 2 >= m_buffer.size()) {
            m_buffer.erase(0, m_nBegin);
            m_nScanned = m_nBegin = 0;
        }
        return Status::Complete;
    }
}

std::string_view CSMTPReplyReader::Pending() const {
    return std::string_view(m_buffer).substr(m_nBegin);
}

void CSMTPReplyReader::Clear() {
    m_buffer.clear();
    m_nBegin = m_nScanned = 0;
    m_bTooLong = false;
}

}  // namespace vantrel
