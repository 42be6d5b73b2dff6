#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A name look-up run by the resolver's own threads. It lives on the heap:
// a look-up that is given up and can no longer be cancelled is still written
// to by the resolver when it ends, so it is then deliberately left allocated.
struct PendingLookup {
    std::string name;
    addrinfo hints{};
    gaicb request{};
};

// The first IPv4 address of `host`, waiting at most until `deadline` and
// giving up when `wake` is signalled. 0, or EINVAL / ETIMEDOUT / ECANCELED.
#if defined(__SANITIZE_THREAD__)
#define VANTREL_BLOCKING_LOOKUP 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTREL_BLOCKING_LOOKUP 1
#endif
#endif

int ResolveIPv4(const char* host, Clock::time_point deadline, const WakeEvent* wake, in_addr* pAddress) {
    if (host == nullptr) return EINVAL;
    if (::inet_pton(AF_INET, host, pAddress) == 1) return 0;
#ifdef VANTREL_BLOCKING_LOOKUP
    // ThreadSanitizer cannot follow the threads that the C library starts for
    // getaddrinfo_a (they crash in its interceptors), so its builds look the
    // name up with a blocking call, bounded by the resolver's own time-outs.
    (void)deadline;
    (void)wake;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return EINVAL;
    *pAddress = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return 0;
#else
    PendingLookup* lookup = new (std::nothrow) PendingLookup;
    if (lookup == nullptr) return ENOMEM;
    lookup->name = host;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        delete lookup;
        return EINVAL;
    }
    int result = 0;
    for (;;) {
        if (::gai_error(&lookup->request) != EAI_INPROGRESS) break;
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            result = ETIMEDOUT;
            break;
        }
        if (wake != nullptr && wake->IsSignalled()) {
            result = ECANCELED;
            break;
        }
        // Short slices, so that a stop request is seen within 20 ms.
        const int slice = left < 20 ? left : 20;
        const timespec wait{0, static_cast<long>(slice) * 1000000L};
        const gaicb* waiting[1] = {&lookup->request};
        ::gai_suspend(waiting, 1, &wait);
    }
    if (result != 0 && ::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
        return result;  // still running: left allocated, see above
    }
    addrinfo* found = lookup->request.ar_result;
    if (result == 0) {
        if (::gai_error(&lookup->request) == 0 && found != nullptr) {
            *pAddress = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        } else {
            result = EINVAL;
        }
    }
    if (found != nullptr) ::freeaddrinfo(found);
    delete lookup;
    return result;
#endif
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
    in_addr address{};
    const int resolved = ResolveIPv4(host, deadline, wake, &address);
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
    using Clock = std::chrono::steady_clock;
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

namespace {

// WaitForSocket as an errno: 0 when ready, ETIMEDOUT, ECANCELED when `wake`
// was signalled, or the failure's own.
int WaitForSocketError(int socket, bool bWrite, const WakeEvent* wake, int timeoutMs) noexcept {
    int error = 0;
    switch (WaitForSocket(socket, bWrite, wake, timeoutMs, &error)) {
        case WaitResult::Ready:
            return 0;
        case WaitResult::TimedOut:
            return ETIMEDOUT;
        case WaitResult::Woken:
            return ECANCELED;
        case WaitResult::Failed:
            break;
    }
    return error != 0 ? error : EIO;
}

}  // namespace

int SendAll(int socket, const char* data, std::size_t size, int timeoutMs, const WakeEvent* wake) noexcept {
    while (size > 0) {
        // A stop request ends the send even while the socket still takes bytes.
        if (wake != nullptr && wake->IsSignalled()) return ECANCELED;
        int error = 0;
        const long n = SendSome(socket, data, size, &error);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && error == EINTR) continue;
        if (n == 0 || (error != EAGAIN && error != EWOULDBLOCK)) return n == 0 ? EPIPE : error;
        if ((error = WaitForSocketError(socket, true, wake, timeoutMs)) != 0) return error;
    }
    return 0;
}

long ReceiveWaiting(int socket, char* data, std::size_t size, int timeoutMs, const WakeEvent* wake,
                    int* pnError) noexcept {
    for (;;) {
        int error = 0;
        const long n = ReceiveSome(socket, data, size, &error);
        if (n >= 0) return n;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            *pnError = error;
            return -1;
        }
        if ((error = WaitForSocketError(socket, false, wake, timeoutMs)) != 0) {
            *pnError = error;
            return -1;
        }
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
