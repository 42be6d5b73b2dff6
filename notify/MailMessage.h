// One mail as the SMTP client sends it: addresses, the header block, the body
// and the attachments with their MIME parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/LocalTime.h"

namespace vantrel {

class CMailAddress {
public:
    CMailAddress() = default;
    explicit CMailAddress(std::string address, std::string name = std::string())
        : m_sName(std::move(name)), m_sAddress(std::move(address)) {}

    // The address alone without a display name, else "name <address>" with
    // the name as a header carries it (quoted or encoded when it must be).
    std::string GetText() const;

    std::string m_sName;     // display name, may be empty
    std::string m_sAddress;  // the address used in the envelope
};

// A file sent with the mail as a base64 part. The file is read and encoded
// when the mail goes out, not when it is attached.
class CMailAttachment {
public:
    CMailAttachment() = default;
    // A copy starts unencoded: it keeps the path and the title only.
    CMailAttachment(const CMailAttachment& other);
    CMailAttachment& operator=(const CMailAttachment& other);

    // Stores the path, derives the title (the file name without its
    // directories) and drops any earlier encoding. The file is not touched.
    bool Attach(const std::string& path);

    // Reads the whole file and encodes it in 76-character base64 lines. True
    // when it is encoded; false, with a warning, when the file cannot be read.
    bool Encode();

    const std::string& GetPath() const { return m_sPath; }
    const std::string& GetTitle() const { return m_sTitle; }
    bool IsEncoded() const { return m_bEncoded; }
    // The encoded text; empty until Encode() succeeds.
    const std::string& GetEncoded() const { return m_sEncoded; }

    // The part header that precedes the encoded text in the DATA stream,
    // after the line of `boundary`. The parameters carry the title only, so
    // that no recipient learns the host's directories.
    std::string GetPartHeader(const std::string& boundary) const;

private:
    std::string m_sPath;
    std::string m_sTitle;
    bool m_bEncoded = false;
    std::string m_sEncoded;
};

class CMailMessage {
public:
    enum RecipientKind { TO = 0, CC = 1, BCC = 2 };

    // Draws the numbers that make this mail's Message-ID and boundary unique.
    CMailMessage();
    virtual ~CMailMessage() = default;

    // Appends a copy; returns its index, or -1 for an unknown kind.
    int AddRecipient(const CMailAddress& recipient, int kind = TO);
    // Throws std::invalid_argument for an index outside the list; an unknown
    // kind gives an empty address.
    CMailAddress GetRecipient(std::size_t index, int kind = TO) const;
    std::size_t GetNumberOfRecipients(int kind = TO) const;

    // Appends a copy (unencoded); returns its index.
    int AddAttachment(const CMailAttachment& attachment);
    std::vector<CMailAttachment>& GetAttachments() { return m_attachments; }

    // Stores the text as it goes into the DATA stream: quoted-printable, so
    // that "=" and bytes above 127 arrive intact, then dot-stuffed.
    void SetBody(std::string_view text);
    const std::string& GetBody() const { return m_sBody; }
    // The charset of the body text: "US-ASCII", "UTF-8" or "windows-1252".
    const char* GetBodyCharset() const { return m_pBodyCharset; }

    // "<unique@sender's domain>", the same for the life of the message.
    std::string GetMessageId() const;
    // The boundary between the parts of this mail (see MakeBoundary).
    std::string GetBoundary() const;

    // The header block, ending in the empty line, dated now in local time.
    virtual std::string GetHeader() const;
    // The same with a given Date text.
    std::string GetHeader(const std::string& date) const;

    CMailAddress m_From;
    std::string m_sSubject;
    std::string m_sXMailer = "Corvel CSMTPConnection v1.3";
    CMailAddress m_ReplyTo;  // a Reply-To line only when its address is set

private:
    static bool IsKind(int kind) { return kind >= TO && kind <= BCC; }

    std::string m_sBody;
    const char* m_pBodyCharset = "US-ASCII";
    uint64_t m_nCreatedMillis = 0;
    uint64_t m_nUnique[2] = {};
    // By kind; the Bcc recipients are in the envelope only, never in the header.
    std::vector<CMailAddress> m_recipients[3];
    std::vector<CMailAttachment> m_attachments;
};

// "+0530" for UTC+05:30, "-0330" for UTC-03:30, "+0000" for UTC.
std::string FormatZone(int nUtcOffsetMinutes);

// "Sun, 08 Dec 2024 21:20:00 +0000": English day and month names whatever
// the host's locale.
std::string FormatMailDate(const platform::LocalTime& local);

// The file name of a path: what follows its last separator ("/", and on
// Windows also "\"), so that a Windows path never names the attachment.
std::string AttachmentTitle(const std::string& path);

// The sender setting as an address: "Name <address>" split into its two
// parts. A text that does not parse stays whole as the address (the mail
// settings refuse such a value before it gets here).
CMailAddress SenderAddress(const std::string& setting);

}  // namespace vantrel
