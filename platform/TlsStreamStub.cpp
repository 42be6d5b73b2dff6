// TLS for builds without OpenSSL: every handshake fails, so a mail server
// that needs TLS is reported as unreachable instead of being spoken to in
// plain text.
#include <cerrno>

#include "platform/TlsStream.h"

namespace vantrel::platform {

struct TlsState {};

bool TlsAvailable() noexcept { return false; }

TlsSession::TlsSession() noexcept = default;

TlsSession::~TlsSession() = default;

bool TlsSession::IsOpen() const noexcept { return false; }

bool TlsSession::Handshake(int, const std::string&, const TlsPeerCheck&, int, const WakeEvent*, int* pnError,
                           std::string* psReason) {
    *pnError = ENOTSUP;
    *psReason = "TLS is not available in this build";
    return false;
}

bool TlsSession::Send(std::string_view, int, const WakeEvent*, int* pnError) {
    *pnError = ENOTCONN;
    return false;
}

long TlsSession::Receive(char*, std::size_t, int, const WakeEvent*, int* pnError) {
    *pnError = ENOTCONN;
    return -1;
}

void TlsSession::Close() noexcept {}

void PrepareTls() noexcept {}

}  // namespace vantrel::platform
