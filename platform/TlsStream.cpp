#include "platform/TlsStream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace vantrel::platform {

bool TlsAvailable() noexcept { return true; }

struct TlsState {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;   // bytes from the server (owned by ssl)
    BIO* out = nullptr;  // bytes for the server (owned by ssl)
    bool bVerifyPeer = true;

    TlsState() = default;
    TlsState(const TlsState&) = delete;
    TlsState& operator=(const TlsState&) = delete;
    ~TlsState() {
        if (ssl != nullptr) SSL_free(ssl);
        if (ctx != nullptr) SSL_CTX_free(ctx);
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// One TLS record and a little more: a receive of this size rarely ends
// mid-record.
constexpr std::size_t kChunk = 17 * 1024;

// The reasons OpenSSL queued for the last failure, oldest first, and the
// certificate check's verdict when it refused the server.
std::string Reason(const TlsState& state) {
    std::string reason;
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        const char* text = ERR_reason_error_string(e);
        if (!reason.empty()) reason += ": ";
        reason += text != nullptr ? text : "TLS error " + std::to_string(ERR_GET_REASON(e));
    }
    if (state.bVerifyPeer && state.ssl != nullptr) {
        const long verdict = SSL_get_verify_result(state.ssl);
        if (verdict != X509_V_OK) {
            if (!reason.empty()) reason += ": ";
            reason += X509_verify_cert_error_string(verdict);
        }
    }
    return reason.empty() ? "TLS protocol error" : reason;
}

// Sends what OpenSSL has written for the server. 0, or the errno.
int Flush(TlsState& state, int socket, int timeoutMs, const WakeEvent* wake) {
    char chunk[kChunk];
    while (BIO_ctrl_pending(state.out) > 0) {
        const int n = BIO_read(state.out, chunk, sizeof chunk);
        if (n <= 0) break;
        const int error = SendAll(socket, chunk, static_cast<std::size_t>(n), timeoutMs, wake);
        if (error != 0) return error;
    }
    return 0;
}

// Waits for bytes from the server and hands them to OpenSSL. The number
// received, 0 when the server closed the connection, or -1 with *pnError.
long Fill(TlsState& state, int socket, int timeoutMs, const WakeEvent* wake, int* pnError) {
    char chunk[kChunk];
    const long n = ReceiveWaiting(socket, chunk, sizeof chunk, timeoutMs, wake, pnError);
    if (n > 0) BIO_write(state.in, chunk, static_cast<int>(n));
    return n;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Runs `op` (a handshake, read or write step of OpenSSL) until it succeeds:
// what it writes goes to the server, and when it needs more from the server
// the socket is read. Each wait lasts at most `timeoutMs` and none goes past
// `deadline`. Returns op's positive result; 0 when the server ended the
// session or closed the connection (*pnError 0); -1 with *pnError, and for a
// TLS failure (EPROTO) the reason in *psReason.
template <typename Op>
int Run(TlsState& state, int socket, Op op, int timeoutMs, Clock::time_point deadline,
        const WakeEvent* wake, int* pnError, std::string* psReason) {
    for (;;) {
        if (wake != nullptr && wake->IsSignalled()) {
            *pnError = ECANCELED;
            return -1;
        }
        ERR_clear_error();
        const int result = op();
        const int sslError = result > 0 ? SSL_ERROR_NONE : SSL_get_error(state.ssl, result);
        std::string reason;
        if (sslError != SSL_ERROR_NONE && sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_ZERO_RETURN) {
            reason = Reason(state);
        }
        // What OpenSSL wrote goes out even on failure: an alert tells the
        // server why the client gives up.
        const int nWait = deadline == Clock::time_point::max() ? timeoutMs : std::min(timeoutMs, MillisecondsLeft(deadline));
        const int flushError = Flush(state, socket, nWait, wake);
        if (!reason.empty()) {
            *pnError = EPROTO;
            if (psReason != nullptr) *psReason = reason;
            return -1;
        }
        if (flushError != 0) {
            *pnError = flushError;
            return -1;
        }
        if (sslError == SSL_ERROR_NONE) return result;
        if (sslError == SSL_ERROR_ZERO_RETURN) {
            *pnError = 0;
            return 0;
        }
        // SSL_ERROR_WANT_READ
        if (deadline != Clock::time_point::max() && MillisecondsLeft(deadline) == 0) {
            *pnError = ETIMEDOUT;
            return -1;
        }
        const long n = Fill(state, socket, nWait, wake, pnError);
        if (n > 0) continue;
        if (n == 0) *pnError = 0;
        return static_cast<int>(n);
    }
}

}  // namespace

TlsSession::TlsSession() noexcept = default;

TlsSession::~TlsSession() { Close(); }

bool TlsSession::IsOpen() const noexcept { return m_pState != nullptr; }

bool TlsSession::Handshake(int socket, const std::string& host, const TlsPeerCheck& check, int timeoutMs,
                           const WakeEvent* wake, int* pnError, std::string* psReason) {
    Close();
    *pnError = 0;
    psReason->clear();
    ERR_clear_error();
    auto state = std::make_unique<TlsState>();
    state->bVerifyPeer = check.bVerifyPeer;
    state->ctx = SSL_CTX_new(TLS_client_method());
    if (state->ctx == nullptr) {
        *pnError = ENOMEM;
        *psReason = Reason(*state);
        return false;
    }
    SSL_CTX_set_min_proto_version(state->ctx, TLS1_2_VERSION);
    if (check.bVerifyPeer) {
        SSL_CTX_set_verify(state->ctx, SSL_VERIFY_PEER, nullptr);
        if (!check.sCAFile.empty()) {
            if (SSL_CTX_load_verify_locations(state->ctx, check.sCAFile.c_str(), nullptr) != 1) {
                *pnError = EINVAL;
                *psReason = "the CA file '" + check.sCAFile + "' cannot be read: " + Reason(*state);
                return false;
            }
        } else {
            SSL_CTX_set_default_verify_paths(state->ctx);
        }
    }
    state->ssl = SSL_new(state->ctx);
    state->in = BIO_new(BIO_s_mem());
    state->out = BIO_new(BIO_s_mem());
    if (state->ssl == nullptr || state->in == nullptr || state->out == nullptr) {
        BIO_free(state->in);
        BIO_free(state->out);
        *pnError = ENOMEM;
        *psReason = Reason(*state);
        return false;
    }
    // An empty input buffer means "wait for more", never the end.
    BIO_set_mem_eof_return(state->in, -1);
    SSL_set_bio(state->ssl, state->in, state->out);
    SSL_set_connect_state(state->ssl);

    in6_addr address{};  // room for either family
    const bool bAddress =
        ::inet_pton(AF_INET, host.c_str(), &address) == 1 || ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
    // The name goes to the server so that it can pick the certificate of
    // that name; an address is not sent.
    if (!bAddress && !host.empty()) SSL_set_tlsext_host_name(state->ssl, host.c_str());
    if (check.bVerifyPeer) {
        X509_VERIFY_PARAM* param = SSL_get0_param(state->ssl);
        if (bAddress) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        }
    }

    const int nLimit = timeoutMs > kHandshakeLimitMs ? timeoutMs : kHandshakeLimitMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nLimit);
    SSL* ssl = state->ssl;
    if (Run(*state, socket, [ssl] { return SSL_do_handshake(ssl); }, timeoutMs, deadline, wake, pnError,
            psReason) > 0) {
        m_pState = std::move(state);
        m_socket = socket;
        return true;
    }
    if (psReason->empty()) *psReason = WaitFailureText(*pnError);
    return false;
}

bool TlsSession::Send(std::string_view bytes, int timeoutMs, const WakeEvent* wake, int* pnError) {
    if (!IsOpen()) {
        *pnError = ENOTCONN;
        return false;
    }
    while (!bytes.empty()) {
        const int n = bytes.size() > static_cast<std::size_t>(INT_MAX / 2) ? INT_MAX / 2 : static_cast<int>(bytes.size());
        SSL* ssl = m_pState->ssl;
        const char* data = bytes.data();
        std::string reason;
        const int written = Run(*m_pState, m_socket, [ssl, data, n] { return SSL_write(ssl, data, n); }, timeoutMs,
                                Clock::time_point::max(), wake, pnError, &reason);
        if (written <= 0) {
            if (written == 0) *pnError = EPIPE;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

long TlsSession::Receive(char* buffer, std::size_t size, int timeoutMs, const WakeEvent* wake, int* pnError) {
    if (!IsOpen()) {
        *pnError = ENOTCONN;
        return -1;
    }
    const int n = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    SSL* ssl = m_pState->ssl;
    std::string reason;
    return Run(*m_pState, m_socket, [ssl, buffer, n] { return SSL_read(ssl, buffer, n); }, timeoutMs,
               Clock::time_point::max(), wake, pnError, &reason);
}

void TlsSession::Close() noexcept {
    if (m_pState == nullptr) return;
    // close_notify, if the socket takes it without waiting.
    ERR_clear_error();
    if (SSL_is_init_finished(m_pState->ssl) && SSL_shutdown(m_pState->ssl) >= 0) {
        Flush(*m_pState, m_socket, 0, nullptr);
    }
    ERR_clear_error();
    m_pState.reset();
    m_socket = kInvalidSocket;
}

void PrepareTls() noexcept { OPENSSL_init_ssl(0, nullptr); }

}  // namespace vantrel::platform
