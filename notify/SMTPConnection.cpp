#include "notify/SMTPConnection.h"

#include <cerrno>
#include <chrono>

#include "log/LogFacade.h"
#include "notify/EhloName.h"
#include "notify/MailEncoding.h"
#include "notify/PasswordRedaction.h"
#include "platform/ErrorCodes.h"

namespace vantrel {
namespace {

// Overwrites the characters before the string is released, through a
// volatile pointer so that the stores are not optimised away.
void Wipe(std::string& text) noexcept {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) p[i] = '\0';
    text.clear();
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string WithCode(const char* text, int nCode) { return text + std::to_string(nCode); }

}  // namespace

CSMTPConnection::CSMTPConnection(std::string host, int port, std::string user, std::string password,
                                 std::unique_ptr<CByteStream> stream)
    : CSMTPConnection(std::move(host), port, std::move(user), std::move(password), SMTPOptions(), std::move(stream)) {}

CSMTPConnection::CSMTPConnection(std::string host, int port, std::string user, std::string password,
                                 SMTPOptions options, std::unique_ptr<CByteStream> stream)
    : m_sHost(std::move(host)),
      m_nPort(port),
      m_sUser(std::move(user)),
      m_sPassword(std::move(password)),
      m_options(std::move(options)),
      m_pStream(stream ? std::move(stream) : std::make_unique<CTcpByteStream>()) {}

CSMTPConnection::~CSMTPConnection() {
    try {
        if (m_bConnected && !Stopping()) Disconnect();
        m_pStream->Close();
    } catch (...) {
    }
    Wipe(m_sPassword);
    Wipe(m_sUser);
    Wipe(m_sLoginPassword);
    Wipe(m_sLoginUser);
}

void CSMTPConnection::AddRef() noexcept { m_nRefsCnt.fetch_add(1); }

void CSMTPConnection::Release() noexcept {
    if (m_nRefsCnt.fetch_sub(1) == 1) delete this;
}

bool CSMTPConnection::Stopping() const noexcept {
    return m_pStream->GetWakeEvent() != nullptr && m_pStream->GetWakeEvent()->IsSignalled();
}

bool CSMTPConnection::Connect() { return Connect(m_sHost, m_nPort, m_sUser, m_sPassword); }

bool CSMTPConnection::Connect(const std::string& host, int port, const std::string& user,
                              const std::string& password) {
    if (m_bConnected) Disconnect();
    m_reader.Clear();
    m_bTransportFailed = m_bNoRetry = m_bDeliveryUnknown = false;
    if (&user != &m_sUser || &password != &m_sPassword) {
        Wipe(m_sLoginUser);
        Wipe(m_sLoginPassword);
        m_sLoginUser = user;
        m_sLoginPassword = password;
    }
    StoreResponse(std::string_view());
    int error = 0;
    const int nConnectMs = m_options.timeouts.connectMs;
    switch (m_pStream->Connect(host, port, nConnectMs, &error)) {
        case CByteStream::ConnectResult::NoSocket:
            FailTransport(error, nConnectMs);
            OutputWarning2Log(WithCode("Failed to create client socket, GetLastError() returns: ", error));
            return false;
        case CByteStream::ConnectResult::Failed:
            FailTransport(error, nConnectMs);
            OutputWarning2Log("Could not connect to the SMTP server " + host + " on port " + std::to_string(port) +
                              ", GetLastError() returns: " + std::to_string(error));
            Disconnect();
            return false;
        case CByteStream::ConnectResult::Connected:
            break;
    }
    if (m_options.security == SMTPOptions::Security::Tls && !StartTls(host, port)) return false;
    m_bConnected = true;
    if (!ReadCommandResponse(220)) return FailLogin("An unexpected SMTP login response was received.", true);

    const std::string ehlo =
        "EHLO " + ChooseEhloName(platform::LocalHostName(255), m_pStream->LocalAddress()) + "\r\n";
    if (!SendCommand(ehlo)) return FailLogin("An unexpected error occurred while sending the EHLO command.", false);
    if (!ReadCommandResponse(250)) return FailLogin("An unexpected EHLO response was received.", false);

    if (m_options.security == SMTPOptions::Security::StartTls) {
        // Never on in plain text: the credentials and the mails would be
        // readable on the way.
        if (!SMTPReplyOffers(m_sLastCommandResponse, "STARTTLS")) {
            m_nLastError = platform::kErrorUnexpectedReply;
            m_bNoRetry = true;
            return FailLogin("The SMTP server does not offer STARTTLS; the connection is closed rather than "
                             "continued without encryption.",
                             false);
        }
        if (!SendCommand("STARTTLS\r\n")) {
            return FailLogin("An unexpected error occurred while sending the STARTTLS command.", false);
        }
        if (!ReadCommandResponse(220)) return FailLogin("An unexpected STARTTLS response was received.", false);
        // Bytes that follow the 220 arrived before the encryption and could
        // come from anyone on the path: they are refused, not read as replies.
        if (!m_reader.Pending().empty()) {
            m_reader.Clear();
            m_nLastError = platform::kErrorUnexpectedReply;
            m_bNoRetry = true;
            return FailLogin("An unexpected STARTTLS response was received.", false);
        }
        if (!StartTls(host, port)) return false;
        // The server forgets what the first EHLO said; its extensions may
        // differ now (AUTH often appears only here).
        if (!SendCommand(ehlo)) return FailLogin("An unexpected error occurred while sending the EHLO command.", false);
        if (!ReadCommandResponse(250)) return FailLogin("An unexpected EHLO response was received.", false);
    }
    return Login(user, password);
}

bool CSMTPConnection::StartTls(const std::string& host, int port) {
    int error = 0;
    std::string reason;
    if (m_pStream->StartTls(host, m_options.peer, m_options.timeouts.replyMs, &error, &reason)) return true;
    // No QUIT: after a failed handshake the two sides no longer agree on what
    // the bytes are. Trying again at once would meet the same certificate,
    // unless the handshake merely ran out of time.
    FailTransport(error, m_options.timeouts.replyMs);
    m_bNoRetry = error != platform::kErrorTimedOut;
    m_bConnected = false;
    m_pStream->Close();
    m_reader.Clear();
    OutputWarning2Log("TLS handshake with the SMTP server " + host + " on port " + std::to_string(port) +
                      " failed: " + reason + ", GetLastError() returns: " + std::to_string(error));
    // The reason takes the place of the last reply, which would otherwise be
    // STARTTLS's 220 or nothing, for the callers' own warnings to quote.
    StoreResponse("TLS handshake failed: " + reason);
    return false;
}

bool CSMTPConnection::Login(const std::string& user, const std::string& password) {
    switch (m_options.auth) {
        case SMTPOptions::Auth::None:
            return true;
        case SMTPOptions::Auth::Plain: {
            // The credentials go with the command: one round trip.
            std::string credentials;
            credentials.reserve(user.size() + password.size() + 2);
            credentials += '\0';
            credentials += user;
            credentials += '\0';
            credentials += password;
            const bool bSent = SendSecret(credentials, "AUTH PLAIN ");
            Wipe(credentials);
            if (!bSent) return FailLogin("An unexpected error occurred while sending the AUTH PLAIN command.", false);
            if (!ReadCommandResponse(235)) return FailLogin("An unexpected AUTH PLAIN response was received.", false);
            return true;
        }
        case SMTPOptions::Auth::Login:
            break;
    }
    // AUTH LOGIN always, whatever the server offered.
    if (!SendCommand("AUTH LOGIN\r\n")) {
        return FailLogin("An unexpected error occurred while sending the AUTH LOGIN command.", false);
    }
    if (!ReadCommandResponse(334)) return FailLogin("An unexpected AUTH LOGIN response was received.", false);
    if (!ChallengeIs("username")) return FailLogin("An unexpected username response was received.", false);

    if (!SendSecret(user)) {
        return FailLogin("An unexpected error occurred while sending the username command.", false);
    }
    if (!ReadCommandResponse(334)) return FailLogin("An unexpected username response was received.", false);
    if (!ChallengeIs("password")) return FailLogin("An unexpected password response was received.", false);

    if (!SendSecret(password)) {
        return FailLogin("An unexpected error occurred while sending the password command.", false);
    }
    if (!ReadCommandResponse(235)) return FailLogin("An unexpected password response was received.", false);
    return true;
}

bool CSMTPConnection::FailLogin(const char* warning, bool bWarnFirst) {
    const std::string response = m_sLastCommandResponse;
    const int nCode = m_nLastCommandResponseCode;
    const int nError = m_nLastError;
    const int nWaitedMs = m_nLastWaitMs;
    const bool bTransportFailed = m_bTransportFailed, bNoRetry = m_bNoRetry;
    if (bWarnFirst) OutputWarning2Log(warning);
    Disconnect();
    if (!bWarnFirst) OutputWarning2Log(warning);
    m_sLastCommandResponse = response;
    m_nLastCommandResponseCode = nCode;
    m_nLastError = nError;
    m_nLastWaitMs = nWaitedMs;
    m_bTransportFailed = bTransportFailed;
    m_bNoRetry = bNoRetry;
    return false;
}

bool CSMTPConnection::SendSecret(const std::string& secret, std::string_view prefix) {
    std::string plain = secret;
    std::string encoded = Base64Encode(plain);
    Wipe(plain);
    // Sized once, so that no copy of the secret is left behind by a growth.
    std::string line;
    line.reserve(prefix.size() + encoded.size() + 2);
    line.append(prefix.data(), prefix.size());
    line += encoded;
    Wipe(encoded);
    line += "\r\n";
    const bool bSent = SendCommand(line);
    Wipe(line);
    return bSent;
}

bool CSMTPConnection::ChallengeIs(std::string_view expected) {
    const std::string_view response(m_sLastCommandResponse);
    const std::string decoded = Base64Decode(response.size() > 4 ? response.substr(4) : std::string_view());
    std::string_view text(decoded);
    // Servers word the prompts "Username:" and "Password:", or "User Name"
    // and "Password" ended by a NUL byte; any other prompt is refused.
    while (!text.empty() && (text.back() == '\0' || text.back() == ':')) text.remove_suffix(1);
    if (EqualIgnoringCase(text, expected) || (expected == "username" && EqualIgnoringCase(text, "user name"))) {
        return true;
    }
    m_nLastError = platform::kErrorUnexpectedReply;
    m_bNoRetry = true;
    return false;
}

bool CSMTPConnection::Disconnect() {
    bool bResult = true;
    if (m_bConnected && m_bTransportFailed) {
        // A QUIT would wait for a reply that cannot come, or read a late
        // reply of the failed step as its own.
        OutputEvent2Log("CSMTPConnection::Disconnect(): the connection failed; closed without QUIT.");
        m_bConnected = false;
        bResult = false;
    } else if (m_bConnected) {
        if (!SendCommand("QUIT\r\n")) {
            OutputWarning2Log(WithCode("Failed in call to send QUIT command, GetLastError() returns: ", m_nLastError));
        }
        bResult = ReadCommandResponse(221);
        if (!bResult) OutputWarning2Log("An unexpected QUIT response was received.");
        m_bConnected = false;
    } else {
        OutputEvent2Log("Already disconnected from SMTP server, doing nothing.");
    }
    m_pStream->Close();
    m_reader.Clear();
    return bResult;
}

bool CSMTPConnection::CheckIdleConnection() {
    if (!m_bConnected || m_bTransportFailed) return false;
    char chunk[512];
    int error = 0;
    const long n = m_pStream->Receive(chunk, sizeof chunk, 0, &error);
    if (n < 0 && error == platform::kErrorTimedOut && m_reader.Pending().empty()) return true;
    std::string said;
    if (n > 0) {
        m_reader.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
        said = RedactPassword(m_reader.Pending().substr(0, 512), m_sUser, m_sPassword);
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
    }
    FailTransport(n == 0 ? 0 : error, 0);
    const std::string what = n > 0 ? "sent \"" + said + "\"" : n == 0 ? "closed the connection"
                                                              : "failed, error " + std::to_string(error);
    OutputEvent2Log("CSMTPConnection::CheckIdleConnection(): the SMTP server " + what +
                    " while the connection was idle; connecting again.");
    Disconnect();
    return false;
}

void CSMTPConnection::QuitBeforeUnload() {
    if (!m_bConnected || m_bTransportFailed) return;
    const platform::WakeEvent* wake = m_pStream->GetWakeEvent();
    const SMTPTimeouts timeouts = m_options.timeouts;
    m_pStream->SetWakeEvent(nullptr);
    m_options.timeouts.replyMs = timeouts.quitAtUnloadMs;
    Disconnect();
    m_options.timeouts = timeouts;
    m_pStream->SetWakeEvent(wake);
}

bool CSMTPConnection::SendCommand(std::string_view text) {
    int error = 0;
    if (m_pStream->Send(text, m_options.timeouts.replyMs, &error)) return true;
    FailTransport(error, m_options.timeouts.replyMs);
    return false;
}

void CSMTPConnection::FailTransport(int nError, int nWaitedMs) {
    m_nLastError = nError;
    m_nLastWaitMs = nWaitedMs;
    m_bTransportFailed = true;
}

bool CSMTPConnection::IsLastFailureTransient() const {
    if (m_bNoRetry || m_bDeliveryUnknown || m_nLastError == platform::kErrorCanceled) return false;
    if (m_bTransportFailed) return true;
    return m_nLastCommandResponseCode >= 400 && m_nLastCommandResponseCode < 500;
}

std::string CSMTPConnection::DescribeLastFailure() const {
    const std::string& said = m_sLastCommandResponse;
    std::string text;
    if (!m_bTransportFailed) {
        text = said.empty() ? "error " + std::to_string(m_nLastError) : said;
    } else if (m_nLastError == platform::kErrorTimedOut) {
        const std::string bound = " within " + std::to_string(m_nLastWaitMs) + " ms";
        text = said.empty() ? "no reply" + bound : said + " (no complete reply" + bound + ")";
    } else if (m_nLastError == 0) {
        text = said.empty() ? "the server closed the connection" : said + " (then the server closed the connection)";
    } else if (m_nLastError == platform::kErrorCanceled) {
        text = "stopped: the library is unloading";
    } else {
        text = said.empty() ? "socket error " + std::to_string(m_nLastError) : said;
    }
    if (m_bDeliveryUnknown) text += "; the server may have taken the mail, which is not sent again";
    return text;
}

bool CSMTPConnection::SendPiece(std::string_view bytes, const char* failure) {
    if (SendCommand(bytes)) return true;
    OutputWarning2Log(WithCode(failure, m_nLastError));
    return false;
}

bool CSMTPConnection::SendRcptTo(const CMailAddress& recipient) {
    if (!SendPiece("RCPT TO:<" + recipient.m_sAddress + ">\r\n",
                   "Failed in call to send RCPT command, GetLastError() returns: ")) {
        return false;
    }
    if (ReadCommandResponse(250)) return true;
    OutputWarning2Log("An unexpected RCPT response was received.");
    return false;
}

bool CSMTPConnection::SendMessage(CMailMessage& message) {
    m_bDeliveryUnknown = false;
    if (!SendPiece("MAIL FROM:<" + message.m_From.m_sAddress + ">\r\n",
                   "Failed in call to send MAIL command, GetLastError() returns: ")) {
        return false;
    }
    if (!ReadCommandResponse(250)) {
        OutputWarning2Log("An unexpected MAIL response was received.");
        return false;
    }
    for (const int kind : {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC}) {
        for (std::size_t i = 0; i < message.GetNumberOfRecipients(kind); ++i) {
            if (!SendRcptTo(message.GetRecipient(i, kind))) return false;
        }
    }
    if (!SendPiece("DATA\r\n", "Failed in call to send DATA command, GetLastError() returns: ")) return false;
    if (!ReadCommandResponse(354)) {
        OutputWarning2Log("An unexpected DATA response was received.");
        return false;
    }
    if (!SendPiece(message.GetHeader(), "Failed in call to send the header, GetLastError() returns: ")) return false;

    std::vector<CMailAttachment>& attachments = message.GetAttachments();
    if (!attachments.empty() &&
        !SendPiece("\r\n--" + message.GetBoundary() + "\r\nContent-Type: text/plain; charset=" +
                       message.GetBodyCharset() + "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n",
                   "Failed in call to send the body header, GetLastError() returns: ")) {
        return false;
    }
    if (!SendPiece(message.GetBody(), "Failed in call to send the body, GetLastError() returns: ")) return false;
    for (CMailAttachment& attachment : attachments) {
        if (!SendPiece(attachment.GetPartHeader(message.GetBoundary()),
                       "Failed in call to send Mime attachment header, GetLastError() returns: ")) {
            return false;
        }
        // A file that cannot be read leaves the part empty; the mail still goes.
        if (!attachment.IsEncoded() && !attachment.Encode()) attachment.Encode();
        if (!SendPiece(attachment.GetEncoded(), "Failed in call to send the attachment, GetLastError() returns: ")) {
            return false;
        }
    }
    if (!attachments.empty() &&
        !SendPiece("\r\n--" + message.GetBoundary() + "--",
                   "Failed in call to send Mime attachment footer, GetLastError() returns: ")) {
        return false;
    }
    if (!SendPiece("\r\n.\r\n", "Failed in call to send end of message indicator, GetLastError() returns: ")) {
        return false;
    }
    if (!ReadResponse(250, m_options.timeouts.endOfDataMs)) {
        m_bDeliveryUnknown = m_bTransportFailed;
        OutputWarning2Log("An unexpected end of message response was received.");
        return false;
    }
    return true;
}

bool CSMTPConnection::ReadCommandResponse(int nExpectedCode) {
    return ReadResponse(nExpectedCode, m_options.timeouts.replyMs);
}

bool CSMTPConnection::ReadResponse(int nExpectedCode, int nTimeoutMs) {
    // Enough for a whole usual reply in one receive; longer ones take several.
    char chunk[4096];
    // One deadline for the whole reply: a server that drips a byte at a time
    // is cut at the same bound as a silent one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        std::string reply;
        switch (m_reader.Next(reply)) {
            case CSMTPReplyReader::Status::Complete:
                StoreResponse(reply);
                if (m_nLastCommandResponseCode == nExpectedCode) return true;
                m_nLastError = platform::kErrorUnexpectedReply;
                return false;
            case CSMTPReplyReader::Status::TooLong:
                // Only the start goes into the text that warnings quote. The
                // rest of it is still on its way: the stream is out of step.
                StoreResponse(m_reader.Pending().substr(0, 1024));
                FailTransport(platform::kErrorUnexpectedReply, nTimeoutMs);
                m_bNoRetry = true;
                return false;
            case CSMTPReplyReader::Status::Incomplete:
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        int error = platform::kErrorTimedOut;
        const long n = left > 0 ? m_pStream->Receive(chunk, sizeof chunk, static_cast<int>(left), &error) : -1;
        if (n > 0) {
            m_reader.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
            continue;
        }
        // The server closed the connection (code 0), stayed silent or failed:
        // keep what arrived of the reply.
        StoreResponse(m_reader.Pending());
        m_reader.Clear();
        FailTransport(n == 0 ? 0 : error, nTimeoutMs);
        return false;
    }
}

void CSMTPConnection::StoreResponse(std::string_view text) {
    std::string redacted = RedactPassword(text, m_sUser, m_sPassword);
    if (!m_sLoginPassword.empty()) redacted = RedactPassword(redacted, m_sLoginUser, m_sLoginPassword);
    m_sLastCommandResponse = std::move(redacted);
    m_nLastCommandResponseCode = SMTPReplyCode(text);
}

}  // namespace vantrel
