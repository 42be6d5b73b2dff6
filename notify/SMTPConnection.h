// The library's SMTP client: one connection to a mail server, logged in with
// AUTH LOGIN (or AUTH PLAIN, or not at all), in plain text or protected by TLS
// (STARTTLS, or TLS from the first byte), over which whole mails are sent.
//
// Every failure is reported as a warning through the log facade and as a
// false result; the server's last reply (text and code) and the error code of
// the last failure stay readable for the caller's own warning. Codes: the
// platform's socket codes (errno values on Linux, WSAGetLastError values on
// Windows), 0 when the server closed the connection, and those of
// platform/ErrorCodes.h: kErrorTimedOut when a reply did not arrive whole
// within its time-out, kErrorUnexpectedReply when its reply had an unexpected code,
// kErrorHostNotResolved when the host name did not resolve, kErrorCanceled
// when the wake event cut a wait short.
//
// A connection is used by one thread at a time; only its reference count is
// touched from several threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "notify/ByteStream.h"
#include "notify/MailMessage.h"
#include "notify/SMTPReplyReader.h"

namespace vantrel {

// How long the client waits on the server. Each bound covers a whole step, so
// a server that drips one byte at a time is cut at the same bound as one that
// stays silent. Servers that scan mail take seconds to answer, and the
// standard SMTP time-outs are minutes; the defaults leave real servers ample
// room while the mail thread, the only thread that waits on them, stays
// responsive. Tests make them small.
struct SMTPTimeouts {
    int connectMs = 10000;     // name look-up and TCP connection together
    int replyMs = 30000;       // each reply, the greeting included; each send; the TLS handshake
    int endOfDataMs = 60000;   // the reply to the end of a mail (the server may scan it first)
    int idleQuitMs = 30000;    // the mail thread sends QUIT after this long without a mail
    int quitAtUnloadMs = 1000; // QUIT when the library unloads: its send, and its reply
};

// How a connection protects and authenticates its dialogue. The defaults are
// plain TCP and AUTH LOGIN.
struct SMTPOptions {
    enum class Security {
        None,      // plain TCP throughout
        StartTls,  // EHLO, STARTTLS, TLS handshake, EHLO again, then AUTH; a
                   // server that does not offer STARTTLS is refused
        Tls,       // TLS from the first byte (usually port 465)
    };
    enum class Auth { Login, Plain, None };

    Security security = Security::None;
    Auth auth = Auth::Login;
    // The server's certificate check (TLS only).
    platform::TlsPeerCheck peer;
    SMTPTimeouts timeouts;
};

class CSMTPConnection {
public:
    static constexpr int kReplyTimeoutMs = SMTPTimeouts().replyMs;
    static constexpr int kEndOfDataTimeoutMs = SMTPTimeouts().endOfDataMs;

    // Stores copies of the arguments; no network activity. `stream` carries
    // the dialogue; null gives TCP.
    CSMTPConnection(std::string host, int port, std::string user, std::string password,
                    std::unique_ptr<CByteStream> stream = nullptr);
    CSMTPConnection(std::string host, int port, std::string user, std::string password, SMTPOptions options,
                    std::unique_ptr<CByteStream> stream = nullptr);
    // Sends QUIT when still connected (unless the wake event is signalled:
    // the library is being unloaded), then closes the connection, and
    // overwrites the stored password.
    virtual ~CSMTPConnection();
    CSMTPConnection(const CSMTPConnection&) = delete;
    CSMTPConnection& operator=(const CSMTPConnection&) = delete;

    // Reference counting: a new object has no reference; it deletes itself
    // when the last one is given back.
    void AddRef() noexcept;
    void Release() noexcept;
    int32_t GetRefsCount() const noexcept { return m_nRefsCnt.load(); }

    // Connects and logs in: greeting 220, EHLO 250, AUTH LOGIN 334 with the
    // prompts "Username:" (or "User Name") and "Password:" (base64, any letter
    // case, a final ":" or NUL bytes ignored), then 235. With the options:
    // TLS before the greeting, or STARTTLS (220) and a second EHLO after
    // the first; AUTH PLAIN with the credentials at once, then 235; or no
    // AUTH. The first form uses the stored values; the second its arguments
    // (the stored ones are not changed). A connection still open is closed
    // first.
    bool Connect();
    bool Connect(const std::string& host, int port, const std::string& user, const std::string& password);

    // QUIT (when connected) and close. True when the server answered 221, or
    // when there was no connection. After a failed send or receive (the
    // connection is dead, or out of step with the server) the connection is
    // closed without QUIT, with an event, and the result is false.
    bool Disconnect();

    // Before a mail is sent over a logged-in connection: true when it is still
    // usable. A server that has closed it, or has announced that it closes it
    // (a 421 sent while idle), leaves it closed here, with an event naming
    // what the server said, and false: the caller connects again instead of
    // sending MAIL into a dead connection.
    bool CheckIdleConnection();

    // Sends QUIT within SMTPTimeouts::quitAtUnloadMs even while the wake event
    // is signalled: the library is unloading and the server should see the
    // session end. Nothing when not logged in or the connection failed.
    void QuitBeforeUnload();

    // One whole mail transaction on the open connection. No RSET follows a
    // failure: the caller disconnects and reconnects.
    bool SendMessage(CMailMessage& message);
    bool SendRcptTo(const CMailAddress& recipient);

    // Reads one reply, waiting at most the reply time-out for the whole of
    // it; true when its code is `nExpectedCode`. A server that closes the
    // connection before the reply is complete fails the read at once (code 0).
    virtual bool ReadCommandResponse(int nExpectedCode);
    virtual bool ReadResponse(int nExpectedCode, int nTimeoutMs);

    // Whether the last failure may pass when tried again at once: a 4xx
    // reply, or a failed connection, send or receive. Not a 5xx or other
    // unexpected reply, a failed TLS set-up, a stop request, nor a failure
    // after the end of a mail was sent (the server may have taken the mail).
    bool IsLastFailureTransient() const;
    // True when the last SendMessage failed after the whole mail was sent:
    // no reply came to its end within SMTPTimeouts::endOfDataMs, or the
    // connection failed while waiting for it.
    bool IsDeliveryUnknown() const { return m_bDeliveryUnknown; }
    // The reason of the last failure, for warnings: the server's last reply
    // when one (or part of one) arrived, what happened otherwise ("no reply
    // within 30000 ms", "the server closed the connection", ...).
    std::string DescribeLastFailure() const;

    // The last reply read, without the ending of its last line (on a failed
    // read: what had arrived of it), and its code (0 if none). After a failed
    // TLS handshake: "TLS handshake failed: " and the reason, code 0. The
    // password, in every form the login sent it, is cut out (see
    // notify/PasswordRedaction.h): this text is quoted in warnings.
    const std::string& GetLastCommandResponse() const { return m_sLastCommandResponse; }
    int GetLastCommandResponseCode() const { return m_nLastCommandResponseCode; }
    // The errno value of the last failure.
    int GetLastError() const { return m_nLastError; }
    bool IsConnected() const { return m_bConnected; }
    const SMTPOptions& GetOptions() const { return m_options; }

    // The event that cuts every wait short (library unload); null for none.
    void SetWakeEvent(const platform::WakeEvent* wake) noexcept { m_pStream->SetWakeEvent(wake); }
    void SetReplyTimeout(int nTimeoutMs) noexcept { m_options.timeouts.replyMs = nTimeoutMs; }
    void SetTimeouts(const SMTPTimeouts& timeouts) noexcept { m_options.timeouts = timeouts; }

private:
    bool SendCommand(std::string_view text);
    // Records a failed send or receive: the connection can no longer be
    // trusted to carry a QUIT.
    void FailTransport(int nError, int nWaitedMs);
    // Sends a piece of the DATA stream; on failure warns `failure` followed by
    // the error code.
    bool SendPiece(std::string_view bytes, const char* failure);
    // Sends `prefix`, the base64 form of `secret` and a line end, wiping the
    // copies.
    bool SendSecret(const std::string& secret, std::string_view prefix = std::string_view());
    bool StartTls(const std::string& host, int port);
    bool Login(const std::string& user, const std::string& password);
    // Whether the last reply's prompt is `expected`; kErrorUnexpectedReply when not.
    bool ChallengeIs(std::string_view expected);
    // Ends a failed Connect: disconnects, warns, and keeps the failure's
    // reply and code (not QUIT's) for the caller. False.
    bool FailLogin(const char* warning, bool bWarnFirst);
    void StoreResponse(std::string_view text);
    bool Stopping() const noexcept;

    std::atomic<int32_t> m_nRefsCnt{0};
    std::string m_sHost;
    int m_nPort;
    std::string m_sUser;
    std::string m_sPassword;
    // The credentials of a Connect with explicit values, for the redaction
    // of replies.
    std::string m_sLoginUser;
    std::string m_sLoginPassword;
    SMTPOptions m_options;
    std::unique_ptr<CByteStream> m_pStream;
    bool m_bConnected = false;
    std::string m_sLastCommandResponse;
    int m_nLastCommandResponseCode = 0;
    int m_nLastError = 0;
    // The wait that the last failed step was given.
    int m_nLastWaitMs = 0;
    bool m_bTransportFailed = false;
    bool m_bNoRetry = false;
    bool m_bDeliveryUnknown = false;
    CSMTPReplyReader m_reader;
};

// A counted reference to a connection: copying takes a further reference,
// destruction gives one back.
class CSMTPConnectionRef {
public:
    CSMTPConnectionRef() noexcept = default;
    // Takes a new reference on `pConnection` (which may be null).
    explicit CSMTPConnectionRef(CSMTPConnection* pConnection) noexcept : m_p(pConnection) {
        if (m_p != nullptr) m_p->AddRef();
    }
    CSMTPConnectionRef(const CSMTPConnectionRef& other) noexcept : CSMTPConnectionRef(other.m_p) {}
    CSMTPConnectionRef(CSMTPConnectionRef&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    CSMTPConnectionRef& operator=(CSMTPConnectionRef other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~CSMTPConnectionRef() {
        if (m_p != nullptr) m_p->Release();
    }

    CSMTPConnection* get() const noexcept { return m_p; }
    CSMTPConnection* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    CSMTPConnection* m_p = nullptr;
};

}  // namespace vantrel
