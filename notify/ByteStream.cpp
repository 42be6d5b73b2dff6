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
    if (!IsOpen()) {
        *pnError = ENOTCONN;
        return false;
    }
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
    if (!IsOpen()) {
        *pnError = ENOTCONN;
        return -1;
    }
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

void CTcpByteStream::Close() noexcept { platform::CloseSocket(&m_socket); }

}  // namespace vantrel
