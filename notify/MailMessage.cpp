#include "notify/MailMessage.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "log/LogFacade.h"
#include "notify/EncodedWords.h"
#include "notify/HeaderFolding.h"
#include "notify/MailAddressParser.h"
#include "notify/MailEncoding.h"
#include "notify/MessageId.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Joined by ", ": the blank is where a long list is folded.
std::string JoinTexts(const std::vector<CMailAddress>& addresses) {
    std::string text;
    for (const CMailAddress& address : addresses) {
        if (!text.empty()) text += ", ";
        text += address.GetText();
    }
    return text;
}

// A number no other mail of this or another process shares: a counter
// through a mixing function, from a start drawn once per process.
uint64_t UniqueNumber() noexcept {
    static const uint64_t nStart = [] {
        uint64_t n = static_cast<uint64_t>(platform::NowUtcMillis()) * 0x9E3779B97F4A7C15ull;
        try {
            std::random_device device;
            n ^= (static_cast<uint64_t>(device()) << 32) ^ device();
        } catch (...) {
            // The clock alone then tells processes apart.
        }
        return n;
    }();
    static std::atomic<uint64_t> nCounter{0};
    uint64_t z = nStart + 0x9E3779B97F4A7C15ull * (nCounter.fetch_add(1) + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::string CMailAddress::GetText() const {
    return m_sName.empty() ? m_sAddress : EncodeDisplayName(m_sName) + " <" + m_sAddress + ">";
}

CMailAttachment::CMailAttachment(const CMailAttachment& other)
    : m_sPath(other.m_sPath), m_sTitle(other.m_sTitle) {}

CMailAttachment& CMailAttachment::operator=(const CMailAttachment& other) {
    if (this != &other) Attach(other.m_sPath);
    return *this;
}

bool CMailAttachment::Attach(const std::string& path) {
    m_sPath = path;
    m_sTitle = AttachmentTitle(path);
    m_bEncoded = false;
    m_sEncoded.clear();
    return true;
}

bool CMailAttachment::Encode() {
    if (m_bEncoded) return true;
    std::string content;
    switch (platform::ReadWholeFile(m_sPath, content)) {
        case platform::FileReadResult::Ok:
            break;
        case platform::FileReadResult::NoStatus:
            OutputWarning2Log("Failed to get the status for file '" + m_sPath + "', probably does not exist.");
            return false;
        case platform::FileReadResult::OpenFailed:
        case platform::FileReadResult::ReadFailed:
            OutputWarning2Log("Failed to open file to be attached.");
            return false;
    }
    m_sEncoded = Base64EncodeLines(content);
    m_bEncoded = true;
    return true;
}

std::string CMailAttachment::GetPartHeader(const std::string& boundary) const {
    return "\r\n\r\n--" + boundary + "\r\n" +
           FoldHeader("Content-Type", "application/octet-stream; " + MimeParameter("name", m_sTitle)) +
           "Content-Transfer-Encoding: base64\r\n" +
           FoldHeader("Content-Disposition", "attachment; " + MimeParameter("filename", m_sTitle)) + "\r\n";
}

CMailMessage::CMailMessage()
    : m_nCreatedMillis(static_cast<uint64_t>(platform::NowUtcMillis())), m_nUnique{UniqueNumber(), UniqueNumber()} {}

std::string CMailMessage::GetMessageId() const {
    const std::string::size_type at = m_From.m_sAddress.rfind('@');
    return MakeMessageId(m_nCreatedMillis, m_nUnique[0], m_nUnique[1],
                         at == std::string::npos ? std::string_view() : std::string_view(m_From.m_sAddress).substr(at + 1));
}

std::string CMailMessage::GetBoundary() const { return MakeBoundary(m_nUnique[1], m_nUnique[0]); }

int CMailMessage::AddRecipient(const CMailAddress& recipient, int kind) {
    if (!IsKind(kind)) return -1;
    m_recipients[kind].push_back(recipient);
    return static_cast<int>(m_recipients[kind].size() - 1);
}

CMailAddress CMailMessage::GetRecipient(std::size_t index, int kind) const {
    if (!IsKind(kind)) return CMailAddress();
    if (index >= m_recipients[kind].size()) {
        throw std::invalid_argument("CMailMessage::GetRecipient(): index out of range");
    }
    return m_recipients[kind][index];
}

std::size_t CMailMessage::GetNumberOfRecipients(int kind) const {
    return IsKind(kind) ? m_recipients[kind].size() : 0;
}

int CMailMessage::AddAttachment(const CMailAttachment& attachment) {
    m_attachments.push_back(attachment);
    return static_cast<int>(m_attachments.size() - 1);
}

void CMailMessage::SetBody(std::string_view text) {
    m_sBody = DotStuff(QuotedPrintableEncode(text));
    m_pBodyCharset = IsAscii(text) ? "US-ASCII" : TextCharset(text);
}

std::string CMailMessage::GetHeader() const {
    platform::LocalTime local;
    return GetHeader(platform::ToLocalTime(platform::NowUtcMillis(), local) ? FormatMailDate(local) : std::string());
}

std::string CMailMessage::GetHeader(const std::string& date) const {
    std::string header = FoldHeader("From", m_From.GetText()) + FoldHeader("To", JoinTexts(m_recipients[TO]));
    if (!m_recipients[CC].empty()) header += FoldHeader("Cc", JoinTexts(m_recipients[CC]));
    header += FoldHeader("Subject", EncodeHeaderText(m_sSubject)) + FoldHeader("Date", date) +
              FoldHeader("Message-ID", GetMessageId()) + FoldHeader("X-Mailer", EncodeHeaderText(m_sXMailer));
    if (!m_ReplyTo.m_sAddress.empty()) header += FoldHeader("Reply-To", m_ReplyTo.GetText());
    if (m_attachments.empty()) {
        header += std::string("MIME-Version: 1.0\r\nContent-type: text/plain; charset=") + m_pBodyCharset +
                  "\r\nContent-Transfer-Encoding: quoted-printable\r\n";
    } else {
        header += "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"" + GetBoundary() + "\"\r\n";
    }
    return header + "\r\n";
}

std::string FormatZone(int nUtcOffsetMinutes) {
    const int nAbsolute = nUtcOffsetMinutes < 0 ? -nUtcOffsetMinutes : nUtcOffsetMinutes;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d%02d", nUtcOffsetMinutes < 0 ? '-' : '+', nAbsolute / 60 % 100,
                  nAbsolute % 60);
    return text;
}

std::string FormatMailDate(const platform::LocalTime& local) {
    const int weekday = local.nWeekday >= 0 && local.nWeekday < 7 ? local.nWeekday : 0;
    const int month = local.nMonth >= 1 && local.nMonth <= 12 ? local.nMonth : 1;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d ", kDayNames[weekday], local.nDay,
                  kMonthNames[month - 1], local.nYear, local.nHour, local.nMinute, local.nSecond);
    return text + FormatZone(local.nUtcOffsetMinutes);
}

std::string AttachmentTitle(const std::string& path) {
    for (std::string::size_type i = path.size(); i > 0; --i) {
        if (platform::IsPathSeparator(path[i - 1])) return path.substr(i);
    }
    return path;
}

CMailAddress SenderAddress(const std::string& setting) {
    CMailAddress sender;
    if (!ParseMailAddress(setting, sender.m_sName, sender.m_sAddress)) sender.m_sAddress = setting;
    return sender;
}

}  // namespace vantrel
