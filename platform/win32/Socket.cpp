// Windows Sockets 2.2 behind the library's socket interface.
//
// Sockets travel as int: a SOCKET is a kernel handle, and Windows keeps
// handle values within 32 bits, so the conversion is lossless, and
// INVALID_SOCKET comes back as -1 (kInvalidSocket). Error codes are
// WSAGetLastError values.
#include "platform/Socket.h"

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/ConnectSteps.h"
#include "platform/ErrorCodes.h"
#include "platform/win32/Windows.h"

namespace vantrel::platform {
namespace {

SOCKET Native(int socket) { return static_cast<SOCKET>(static_cast<intptr_t>(socket)); }

int FromNative(SOCKET socket) { return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<int>(socket); }

void SetNonBlocking(SOCKET socket) {
    u_long one = 1;
    ::ioctlsocket(socket, FIONBIO, &one);
}

void DoNotInherit(SOCKET socket) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

// The wake-up is a UDP socket on 127.0.0.1 connected to itself: a datagram
// sent to it makes it readable, so select() can wait on it beside the
// connection.
WakeEvent::WakeEvent() : m_fd(kInvalidSocket) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return;
    }
    SetNonBlocking(s);
    DoNotInherit(s);
    m_fd = FromNative(s);
}

WakeEvent::~WakeEvent() {
    if (m_fd != kInvalidSocket) ::closesocket(Native(m_fd));
}

void WakeEvent::Signal() noexcept {
    const char one = 1;
    if (m_fd != kInvalidSocket) ::send(Native(m_fd), &one, 1, 0);
}

bool WakeEvent::IsSignalled() const noexcept {
    if (m_fd == kInvalidSocket) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(m_fd), &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) == 1;
}

void WakeEvent::Clear() noexcept {
    if (m_fd == kInvalidSocket) return;
    char buffer[64];
    while (::recv(Native(m_fd), buffer, sizeof buffer, 0) > 0) {
    }
}

int CreateTcpSocketFor(int family, int* pnError) noexcept {
    const SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *pnError = ::WSAGetLastError();
        return kInvalidSocket;
    }
    SetNonBlocking(s);
    DoNotInherit(s);
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return FromNative(s);
}

int CreateTcpSocket() noexcept {
    int error = 0;
    return CreateTcpSocketFor(AF_INET, &error);
}

int SocketFamily(int socket) noexcept {
    WSAPROTOCOL_INFOW info{};
    int length = sizeof info;
    const bool bKnown =
        ::getsockopt(Native(socket), SOL_SOCKET, SO_PROTOCOL_INFOW, reinterpret_cast<char*>(&info), &length) == 0;
    return bKnown ? info.iAddressFamily : 0;
}

// Only what Windows lets be read back: keep-alive timings set through
// SIO_KEEPALIVE_VALS cannot be, so those belong after the connect.
void CarrySocketOptions(int from, int to) noexcept {
    static constexpr struct {
        int level;
        int name;
    } kOptions[] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_NODELAY}};
    for (const auto& option : kOptions) {
        DWORD value = 0;
        int length = sizeof value;
        if (::getsockopt(Native(from), option.level, option.name, reinterpret_cast<char*>(&value), &length) == 0) {
            ::setsockopt(Native(to), option.level, option.name, reinterpret_cast<const char*>(&value), length);
        }
    }
}

int ConnectAddress(int socket, const TcpAddress& address, int timeoutMs, const WakeEvent* wake,
                   int* pnError) noexcept {
    if (::connect(Native(socket), address.get(), address.length) == 0) return 0;
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        *pnError = error;
        return -1;
    }
    const WaitResult wait = WaitForSocket(socket, true, wake, timeoutMs, pnError);
    if (wait == WaitResult::TimedOut || wait == WaitResult::Woken) {
        *pnError = wait == WaitResult::TimedOut ? kErrorTimedOut : kErrorCanceled;
        return -1;
    }
    if (wait != WaitResult::Ready) return -1;
    int result = 0;
    int length = sizeof result;
    if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) != 0) {
        result = ::WSAGetLastError();
    }
    if (result != 0) {
        *pnError = result;
        return -1;
    }
    return 0;
}

long SendSome(int socket, const char* data, std::size_t size, int* pnError) noexcept {
    const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
    const int n = ::send(Native(socket), data, chunk, 0);
    if (n == SOCKET_ERROR) *pnError = ::WSAGetLastError();
    return n;
}

long ReceiveSome(int socket, char* data, std::size_t size, int* pnError) noexcept {
    const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
    const int n = ::recv(Native(socket), data, chunk, 0);
    if (n == SOCKET_ERROR) *pnError = ::WSAGetLastError();
    return n;
}

WaitResult WaitForSocket(int socket, bool bWrite, const WakeEvent* wake, int timeoutMs,
                         int* pnError) noexcept {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const SOCKET s = Native(socket);
    const bool bWake = wake != nullptr && wake->fd() != kInvalidSocket;
    const SOCKET w = bWake ? Native(wake->fd()) : INVALID_SOCKET;
    for (;;) {
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, bWrite ? &writable : &readable);
        FD_SET(s, &failed);  // a failed connect shows here, not as writable
        if (bWake) FD_SET(w, &readable);
        timeval wait{};
        timeval* pWait = nullptr;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (left < 0) left = 0;
            wait.tv_sec = static_cast<long>(left / 1000000);
            wait.tv_usec = static_cast<long>(left % 1000000);
            pWait = &wait;
        }
        const int n = ::select(0, &readable, &writable, &failed, pWait);
        if (n == SOCKET_ERROR) {
            *pnError = ::WSAGetLastError();
            return WaitResult::Failed;
        }
        if (n == 0) {
            if (timeoutMs >= 0 && Clock::now() < deadline) continue;  // woke a little early
            return WaitResult::TimedOut;
        }
        if (bWake && FD_ISSET(w, &readable)) return WaitResult::Woken;
        // A failure counts as ready: the next receive or send, or the
        // connect's SO_ERROR, reports what happened.
        return WaitResult::Ready;
    }
}

int CloseSocket(int* pSocket) noexcept {
    if (pSocket == nullptr || *pSocket == kInvalidSocket) return 0;
    const int result = ::closesocket(Native(*pSocket));
    *pSocket = kInvalidSocket;
    return result;
}

std::string LocalHostName(std::size_t maxLength) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string text(name);
    if (text.size() > maxLength) text.resize(maxLength);
    return text;
}

}  // namespace vantrel::platform
