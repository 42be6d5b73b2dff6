// Windows Sockets 2.2 behind the library's socket interface.
//
// Sockets travel as int: a SOCKET is a kernel handle, and Windows keeps
// handle values within 32 bits, so the conversion is lossless, and
// INVALID_SOCKET comes back as -1 (kInvalidSocket). Error codes are
// WSAGetLastError values.
#include "platform/Socket.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/Thread.h"
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

int CreateTcpSocket() noexcept {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    SetNonBlocking(s);
    DoNotInherit(s);
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return FromNative(s);
}

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds until `deadline`, 0 when it has passed, at most a day.
int MillisecondsLeft(Clock::time_point deadline) {
    constexpr long long kDay = 24LL * 3600 * 1000;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(left < 0 ? 0 : left > kDay ? kDay : left);
}

// A name look-up on a thread of its own, so that the caller can stop waiting
// for it. Shared with that thread, which may outlive the wait; the thread
// holds a reference on the module meanwhile (LibraryThread).
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool bDone = false;
    bool bFound = false;
    in_addr address{};
};

// The first IPv4 address of `host`, waiting at most until `deadline` and
// giving up when `wake` is signalled. 0, or one of kErrorHostNotResolved,
// kErrorTimedOut, kErrorCanceled.
int ResolveIPv4(const char* host, Clock::time_point deadline, const WakeEvent* wake, in_addr* pAddress) {
    if (host == nullptr) return kErrorHostNotResolved;
    if (::inet_pton(AF_INET, host, pAddress) == 1) return 0;
    std::shared_ptr<PendingLookup> lookup;
    try {
        lookup = std::make_shared<PendingLookup>();
        LibraryThread thread;
        const bool bStarted = thread.Start([lookup, name = std::string(host)] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const bool bFound = ::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
            std::lock_guard<std::mutex> guard(lookup->mutex);
            if (bFound) lookup->address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
            if (found != nullptr) ::freeaddrinfo(found);
            lookup->bFound = bFound;
            lookup->bDone = true;
            lookup->done.notify_all();
        });
        if (!bStarted) return kErrorHostNotResolved;
        thread.Detach();
    } catch (...) {
        return kErrorHostNotResolved;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    for (;;) {
        if (lookup->bDone) break;
        const int left = MillisecondsLeft(deadline);
        if (left == 0) return kErrorTimedOut;
        if (wake != nullptr && wake->IsSignalled()) return kErrorCanceled;
        // Short slices, so that a stop request is seen within 20 ms.
        lookup->done.wait_for(lock, std::chrono::milliseconds(left < 20 ? left : 20));
    }
    if (!lookup->bFound) return kErrorHostNotResolved;
    *pAddress = lookup->address;
    return 0;
}

}  // namespace

int ConnectTcp(int socket, const char* host, int port, int timeoutMs, int* pnError) noexcept {
    return ConnectTcp(socket, host, port, timeoutMs, nullptr, pnError);
}

int ConnectTcp(int socket, const char* host, int port, int timeoutMs, const WakeEvent* wake,
               int* pnError) noexcept {
    *pnError = 0;
    const Clock::time_point deadline =
        timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    in_addr address{};
    const int resolved = ResolveIPv4(host, deadline, wake, &address);
    if (resolved != 0) {
        *pnError = resolved;
        return -1;
    }
    if (socket == kInvalidSocket) {
        *pnError = kErrorBadSocket;
        return -1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    target.sin_addr = address;
    if (::connect(Native(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        *pnError = error;
        return -1;
    }
    const WaitResult wait = WaitForSocket(socket, true, wake, MillisecondsLeft(deadline), pnError);
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
    DWORD size = sizeof name;
    // The configured DNS name needs no look-up; the host name is the short one.
    if ((!::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) || name[0] == '\0') &&
        (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')) {
        return "localhost";
    }
    std::string text(name);
    if (text.size() > maxLength) text.resize(maxLength);
    return text;
}

std::string LocalAddressText(int socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (socket == kInvalidSocket ||
        ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return std::string();
    }
    const unsigned long n = ntohl(address.sin_addr.s_addr);
    return std::to_string(n >> 24) + "." + std::to_string((n >> 16) & 255) + "." + std::to_string((n >> 8) & 255) +
           "." + std::to_string(n & 255);
}

}  // namespace vantrel::platform
