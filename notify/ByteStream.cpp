#include "notify/ByteStream.h"

#include <cerrno>

namespace vantrel {
namespace {

// Waits for the socket; 0 when ready, otherwise the errno to report.
int Wait(int socket, bool bWrite, const platform::WakeEvent* wake, int timeoutMs) {
    int error = 0;
    switch (platform::WaitForSocket(socket, bWrite, wake, timeoutMs, &error)) {
        case platform::WaitResult::Ready:
            return 0;
        case platform::WaitResult::TimedOut:
            return ETIMEDOUT;
        case platform::WaitResult::Woken:
            return ECANCELED;
        case platform::WaitResult::Failed:
            break;
    }
    return error != 0 ? error : EIO;
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

bool CByteStream::StartTls(const std::string&, const platform::TlsPeerCheck&, int, int* pnError,
                           std::string* psReason) {
    *pnError = ENOTSUP;
    *psReason = "this stream cannot carry TLS";
    return false;
}

CTcpByteStream::~CTcpByteStream() { Close(); }

CByteStream::ConnectResult CTcpByteStream::Connect(const std::string& host, int port, int timeoutMs,
                                                   int* pnError) {
    Close();
    m_socket = platform::CreateTcpSocket();
    if (m_socket == platform::kInvalidSocket) {
        *pnError = errno;
        return ConnectResult::NoSocket;
    }
    if (platform::ConnectTcp(m_socket, host.c_str(), port, timeoutMs, GetWakeEvent(), pnError) != 0) {
        Close();
        return ConnectResult::Failed;
    }
    return ConnectResult::Connected;
}

bool CTcpByteStream::Send(std::string_view bytes, int timeoutMs, int* pnError) {
    if (!IsOpen() || m_bBroken) {
        *pnError = ENOTCONN;
        return false;
    }
    if (m_tls.IsOpen()) return m_tls.Send(bytes, timeoutMs, GetWakeEvent(), pnError);
    while (!bytes.empty()) {
        // A stop request ends the send even while the socket still takes bytes.
        if (GetWakeEvent() != nullptr && GetWakeEvent()->IsSignalled()) {
            *pnError = ECANCELED;
            return false;
        }
        int error = 0;
        const long n = platform::SendSome(m_socket, bytes.data(), bytes.size(), &error);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && error == EINTR) continue;
        if (n == 0 || !WouldBlock(error)) {
            *pnError = n == 0 ? EPIPE : error;
            return false;
        }
        if ((error = Wait(m_socket, true, GetWakeEvent(), timeoutMs)) != 0) {
            *pnError = error;
            return false;
        }
    }
    return true;
}

long CTcpByteStream::Receive(char* buffer, std::size_t size, int timeoutMs, int* pnError) {
    if (!IsOpen() || m_bBroken) {
        *pnError = ENOTCONN;
        return -1;
    }
    if (m_tls.IsOpen()) return m_tls.Receive(buffer, size, timeoutMs, GetWakeEvent(), pnError);
    if (GetWakeEvent() != nullptr && GetWakeEvent()->IsSignalled()) {
        *pnError = ECANCELED;
        return -1;
    }
    for (;;) {
        int error = 0;
        const long n = platform::ReceiveSome(m_socket, buffer, size, &error);
        if (n >= 0) return n;
        if (!WouldBlock(error)) {
            *pnError = error;
            return -1;
        }
        if ((error = Wait(m_socket, false, GetWakeEvent(), timeoutMs)) != 0) {
            *pnError = error;
            return -1;
        }
    }
}

bool CTcpByteStream::StartTls(const std::string& host, const platform::TlsPeerCheck& check, int timeoutMs,
                              int* pnError, std::string* psReason) {
    if (!IsOpen() || m_bBroken || m_tls.IsOpen()) {
        *pnError = ENOTCONN;
        *psReason = "no plain connection to secure";
        return false;
    }
    if (m_tls.Handshake(m_socket, host, check, timeoutMs, GetWakeEvent(), pnError, psReason)) return true;
    m_bBroken = true;
    return false;
}

void CTcpByteStream::Close() noexcept {
    m_tls.Close();
    m_bBroken = false;
    platform::CloseSocket(&m_socket);
}

}  // namespace vantrel
