#include "notify/ByteStream.h"

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace vantrel {

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
    if (platform::ConnectTcp(&m_socket, host.c_str(), port, timeoutMs, GetWakeEvent(), pnError) != 0) {
        Close();
        return ConnectResult::Failed;
    }
    return ConnectResult::Connected;
}

bool CTcpByteStream::Send(std::string_view bytes, int timeoutMs, int* pnError) {
    if (!IsOpen() || m_bBroken) {
        *pnError = platform::kErrorNotConnected;
        return false;
    }
    if (m_tls.IsOpen()) return m_tls.Send(bytes, timeoutMs, GetWakeEvent(), pnError);
    const int error = platform::SendAll(m_socket, bytes.data(), bytes.size(), timeoutMs, GetWakeEvent());
    if (error == 0) return true;
    *pnError = error;
    return false;
}

long CTcpByteStream::Receive(char* buffer, std::size_t size, int timeoutMs, int* pnError) {
    if (!IsOpen() || m_bBroken) {
        *pnError = platform::kErrorNotConnected;
        return -1;
    }
    if (m_tls.IsOpen()) return m_tls.Receive(buffer, size, timeoutMs, GetWakeEvent(), pnError);
    if (GetWakeEvent() != nullptr && GetWakeEvent()->IsSignalled()) {
        *pnError = platform::kErrorCanceled;
        return -1;
    }
    return platform::ReceiveWaiting(m_socket, buffer, size, timeoutMs, GetWakeEvent(), pnError);
}

bool CTcpByteStream::StartTls(const std::string& host, const platform::TlsPeerCheck& check, int timeoutMs,
                              int* pnError, std::string* psReason) {
    if (!IsOpen() || m_bBroken || m_tls.IsOpen()) {
        *pnError = platform::kErrorNotConnected;
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
