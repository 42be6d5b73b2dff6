#include "platform/Socket.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/ConnectSteps.h"

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

int CreateTcpSocketFor(int family, int* pnError) noexcept {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *pnError = errno;
        return kInvalidSocket;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int CreateTcpSocket() noexcept {
    int error = 0;
    const int fd = CreateTcpSocketFor(AF_INET, &error);
    errno = error;
    return fd;
}

int SocketFamily(int socket) noexcept {
    int family = 0;
    socklen_t length = sizeof family;
    return ::getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &family, &length) == 0 ? family : 0;
}

void CarrySocketOptions(int from, int to) noexcept {
    static constexpr struct {
        int level;
        int name;
    } kOptions[] = {{SOL_SOCKET, SO_KEEPALIVE},  {IPPROTO_TCP, TCP_NODELAY},  {IPPROTO_TCP, TCP_KEEPIDLE},
                    {IPPROTO_TCP, TCP_KEEPINTVL}, {IPPROTO_TCP, TCP_KEEPCNT}, {IPPROTO_TCP, TCP_USER_TIMEOUT}};
    for (const auto& option : kOptions) {
        int value = 0;
        socklen_t length = sizeof value;
        if (::getsockopt(from, option.level, option.name, &value, &length) == 0) {
            ::setsockopt(to, option.level, option.name, &value, length);
        }
    }
}

namespace {

using Clock = std::chrono::steady_clock;

// Drops a connection attempt so that the socket is left unconnected.
void Disconnect(int socket) {
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(socket, &unspecified, sizeof unspecified);
}

}  // namespace

int ConnectAddress(int socket, const TcpAddress& address, int timeoutMs, const WakeEvent* wake,
                   int* pnError) noexcept {
    if (::connect(socket, address.get(), static_cast<socklen_t>(address.length)) == 0) return 0;
    if (errno != EINPROGRESS) {
        *pnError = errno;
        return -1;
    }
    const WaitResult wait = WaitForSocket(socket, true, wake, timeoutMs, pnError);
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

}  // namespace vantrel::platform
