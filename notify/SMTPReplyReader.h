// Cuts an SMTP server's byte stream into replies, independent of any socket
// so that it is tested (and fuzzed) on byte strings.
//
// A reply is one or more lines, each ended by LF (normally CR LF). A line
// whose three-digit code is followed by "-" announces another line of the
// same reply; any other line is the reply's last. A reply is complete only
// when its last line has arrived, however the bytes were cut into receives;
// bytes after it stay for the next reply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

class CSMTPReplyReader {
public:
    // Longest reply accepted, line endings included. A server that sends
    // more without ending its reply is broken or hostile.
    static constexpr std::size_t kMaxReplyLength = 64 * 1024;

    enum class Status { Complete, Incomplete, TooLong };

    explicit CSMTPReplyReader(std::size_t maxReplyLength = kMaxReplyLength) : m_nMaxLength(maxReplyLength) {}

    void Append(std::string_view bytes);

    // Complete: `reply` holds the next reply, its lines as received (with
    // their line endings) except for the ending of the last line.
    // Incomplete: more bytes are needed; `reply` is untouched.
    // TooLong: the next reply exceeds the limit; it stays so until Clear().
    Status Next(std::string& reply);

    // The bytes received but not yet handed out as a reply.
    std::string_view Pending() const;

    void Clear();

private:
    std::size_t m_nMaxLength;
    std::string m_buffer;
    std::size_t m_nBegin = 0;    // start of the next reply
    std::size_t m_nScanned = 0;  // start of its first line not yet seen whole
    bool m_bTooLong = false;
};

// The reply code: the first three characters as a number, or 0 when they are
// not three digits.
int SMTPReplyCode(std::string_view reply);

// True for a line that announces another line of the same reply ("250-...").
bool IsSMTPContinuationLine(std::string_view line);

// Whether an EHLO reply lists the extension `keyword` (in any letter case):
// one of its lines after the first (which names the server) begins, after
// the code and its separator, with that word.
bool SMTPReplyOffers(std::string_view ehloReply, std::string_view keyword);

}  // namespace vantrel
