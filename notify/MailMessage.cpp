#include "notify/MailMessage.h"

#include <cstdio>
#include <stdexcept>

#include "log/LogFacade.h"
#include "notify/MailEncoding.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string JoinTexts(const std::vector<CMailAddress>& addresses) {
    std::string text;
    for (const CMailAddress& address : addresses) {
        if (!text.empty()) text += ',';
        text += address.GetText();
    }
    return text;
}

}  // namespace

std::string CMailAddress::GetText() const {
    return m_sName.empty() ? m_sAddress : m_sName + " <" + m_sAddress + ">";
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

std::string CMailAttachment::GetPartHeader() const {
    return std::string("\r\n\r\n--") + kMailBoundary +
           "\r\nContent-Type: application/octet-stream; name=" + QuotedParameter(m_sPath) +
           "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" +
           QuotedParameter(m_sTitle) + "\r\n\r\n";
}

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

void CMailMessage::SetBody(std::string_view text) { m_sBody = DotStuff(QuotedPrintableEncode(text)); }

std::string CMailMessage::GetHeader() const {
    platform::LocalTime local;
    return GetHeader(platform::ToLocalTime(platform::NowUtcMillis(), local) ? FormatMailDate(local) : std::string());
}

std::string CMailMessage::GetHeader(const std::string& date) const {
    std::string header = "From: " + m_From.GetText() + "\r\nTo: " + JoinTexts(m_recipients[TO]) + "\r\n";
    if (!m_recipients[CC].empty()) header += "Cc: " + JoinTexts(m_recipients[CC]) + "\r\n";
    header += "Subject: " + m_sSubject + "\r\nDate: " + date + "\r\nX-Mailer: " + m_sXMailer + "\r\n";
    if (!m_ReplyTo.m_sAddress.empty()) header += "Reply-To: " + m_ReplyTo.GetText() + "\r\n";
    if (m_attachments.empty()) {
        header += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n";
    } else {
        header += std::string("MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"") + kMailBoundary +
                  "\"\r\n";
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

std::string QuotedParameter(std::string_view value) {
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c == '\r' || c == '\n' ? ' ' : c;
    }
    return quoted + "\"";
}

}  // namespace vantrel
