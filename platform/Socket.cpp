#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Resolver.h"

namespace vantrel::platform {

WakeEvent::WakeEvent() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0) ::close(m_fd);
}

void WakeEvent::Signal() noexcept {
    const uint64_t one = 1;
    if (m_fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
    }
}

bool WakeEvent::IsSignalled() const noexcept {
    if (m_fd < 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

void WakeEvent::Clear() noexcept {
    uint64_t value = 0;
    if (m_fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::read(m_fd, &value, sizeof value);
    }
}

int CreateTcpSocket() noexcept {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd < 0 ? kInvalidSocket : fd;
}

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds until `deadline`, 0 when it has passed, at most a day.
int MillisecondsLeft(Clock::time_point deadline) {
    constexpr long long kDay = 24LL * 3600 * 1000;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(left < 0 ? 0 : left > kDay ? kDay : left);
}

// Drops a connection attempt so that the socket is left unconnected.
void Disconnect(int socket) {
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(socket, &unspecified, sizeof unspecified);
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
    // The look-up counts inside the bound.
    in_addr address{};
    const int resolved =
        ResolveIPv4(host, timeoutMs < 0 ? -1 : MillisecondsLeft(deadline), wake, &address.s_addr);
    if (resolved != 0) {
        *pnError = resolved;
        return -1;
    }
    if (socket == kInvalidSocket) {
        *pnError = EBADF;
        return -1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr = address;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    if (errno != EINPROGRESS) {
        *pnError = errno;
        return -1;
    }
    const WaitResult wait = WaitForSocket(socket, true, wake, MillisecondsLeft(deadline), pnError);
    if (wait == WaitResult::TimedOut || wait == WaitResult::Woken) {
        Disconnect(socket);
        *pnError = wait == WaitResult::TimedOut ? ETIMEDOUT : ECANCELED;
        return -1;
    }
    if (wait != WaitResult::Ready) return -1;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
        *pnError = error;
        return -1;
    }
    return 0;
}

long SendSome(int socket, const char* data, std::size_t size, int* pnError) noexcept {
    const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
    if (n < 0) *pnError = errno;
    return static_cast<long>(n);
}

long ReceiveSome(int socket, char* data, std::size_t size, int* pnError) noexcept {
    ssize_t n;
    do {
        n = ::recv(socket, data, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) *pnError = errno;
    return static_cast<long>(n);
}

WaitResult WaitForSocket(int socket, bool bWrite, const WakeEvent* wake, int timeoutMs,
                         int* pnError) noexcept {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    pollfd fds[2] = {{socket, static_cast<short>(bWrite ? POLLOUT : POLLIN), 0}, {-1, POLLIN, 0}};
    const nfds_t count = wake != nullptr && wake->fd() >= 0 ? 2 : 1;
    if (count == 2) fds[1].fd = wake->fd();
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left < 0 ? 0 : static_cast<int>(left);
        }
        const int n = ::poll(fds, count, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            *pnError = errno;
            return WaitResult::Failed;
        }
        if (n == 0) return WaitResult::TimedOut;
        if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::Woken;
        if (fds[0].revents & POLLNVAL) {
            *pnError = EBADF;
            return WaitResult::Failed;
        }
        // Errors and hang-ups count as ready: the next receive or send
        // reports what happened.
        return WaitResult::Ready;
    }
}


int CloseSocket(int* pSocket) noexcept {
    if (pSocket == nullptr || *pSocket == kInvalidSocket) return 0;
    const int result = ::close(*pSocket);
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

std::string LocalAddressText(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    char text[INET_ADDRSTRLEN] = {};
    if (socket == kInvalidSocket || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET || ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) {
        return std::string();
    }
    return text;
}

}  // namespace vantrel::platform
