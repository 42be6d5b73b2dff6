// TLS on top of a connected TCP socket, as a client: OpenSSL on Linux
// (TlsStream.cpp), Schannel on Windows (win32/TlsStream.cpp).
//
// The TLS library does the protocol through memory buffers; the socket is
// read and written by the implementation, with platform::SendSome/ReceiveSome
// (never SIGPIPE) and platform::WaitForSocket, so every wait is bounded by a
// time-out and cut short by a WakeEvent, as for plain TCP. Error codes are the
// platform's (platform/ErrorCodes.h): kErrorUnexpectedReply for a failure of
// the TLS protocol or of the server's certificate (the reason text says
// which), kErrorInvalidArgument for a CA file that cannot be used,
// kErrorTimedOut, kErrorCanceled, 0 when the server closed the connection,
// ENOTSUP when the build carries no TLS.
//
// Builds without TLS (option VANTREL_WITH_TLS off) get a session whose
// handshake always fails with "TLS is not available in this build".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/ErrorCodes.h"
#include "platform/Socket.h"

namespace vantrel::platform {

// How the server's certificate is checked.
struct TlsPeerCheck {
    // Check the chain against the trusted certificates and the name against
    // the host connected to. Off: any certificate is accepted.
    bool bVerifyPeer = true;
    // PEM file of the certificates trusted to sign the server's (they alone);
    // empty: the system's trust store (on Windows its certificate store).
    std::string sCAFile;
};

// Whether this build carries TLS.
bool TlsAvailable() noexcept;

// Initialises the TLS library now. Its clean-up at process exit then comes
// after that of everything set up later, such as the stop of a library
// thread that uses TLS: a thread still running when the TLS library is
// cleaned up could no longer free what it keeps for the thread.
void PrepareTls() noexcept;

// The reason for a handshake that failed without one from the TLS library:
// how the wait for the server ended (`error` 0: the server closed the
// connection), or the socket's error.
inline std::string WaitFailureText(int error) {
    switch (error) {
        case 0:
            return "the server closed the connection";
        case kErrorTimedOut:
            return "the server did not answer in time";
        case kErrorCanceled:
            return "the library is being unloaded";
        default:
            return std::system_category().message(error);
    }
}

// The TLS library's state of one session; known to the implementation only.
struct TlsState;

class TlsSession {
public:
    // Longest time a whole handshake may take, however often the server
    // sends a little.
    static constexpr int kHandshakeLimitMs = 10000;

    TlsSession() noexcept;
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Runs the client handshake on `socket` (connected, non-blocking) with
    // `host` as the name sent to the server and checked in its certificate
    // (an IPv4 or IPv6 address is checked against the certificate's addresses).
    // Each wait lasts at most `timeoutMs`. On failure *psReason holds the TLS
    // library's reason, with the certificate check's verdict when that failed;
    // the session is then closed.
    bool Handshake(int socket, const std::string& host, const TlsPeerCheck& check, int timeoutMs,
                   const WakeEvent* wake, int* pnError, std::string* psReason);

    // Sends all of `bytes` (waiting at most `timeoutMs` each time the socket
    // takes nothing).
    bool Send(std::string_view bytes, int timeoutMs, const WakeEvent* wake, int* pnError);

    // Returns decrypted bytes already at hand, or waits at most `timeoutMs`
    // for more. The number received, 0 when the server ended the session or
    // closed the connection, -1 with the reason in *pnError.
    long Receive(char* buffer, std::size_t size, int timeoutMs, const WakeEvent* wake, int* pnError);

    // Announces the end of the session to the server if the socket takes it
    // at once, and forgets the session. The socket stays open.
    void Close() noexcept;
    bool IsOpen() const noexcept;

private:
    std::unique_ptr<TlsState> m_pState;
    int m_socket = kInvalidSocket;
};

}  // namespace vantrel::platform
