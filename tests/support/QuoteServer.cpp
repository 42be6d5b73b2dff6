#include "tests/support/QuoteServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <utility>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::test {
namespace {

// A TCP socket bound to `host` and `port` (0: an ephemeral one, stored in
// *pnPort); throws on failure. An IPv6 socket takes IPv6 only.
int BoundSocket(const std::string& host, int port, int* pnPort) {
    sockaddr_storage address{};
    socklen_t length = static_cast<socklen_t>(SocketAddress(host, port, &address));
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const int one = 1;
    if ((address.ss_family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    *pnPort = ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                                  : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace

QuoteServer::QuoteServer(int backlog) : QuoteServer("127.0.0.1", 0, backlog) {}

QuoteServer::QuoteServer(const std::string& address, int port, int backlog) : m_address(address) {
    m_listener = BoundSocket(address, port, &m_nPort);
    if (::listen(m_listener, backlog) != 0) {
        ::close(m_listener);
        throw std::runtime_error("listen failed");
    }
}

QuoteServer::~QuoteServer() {
    Close();
    ::close(m_listener);
}

bool QuoteServer::Accept(int timeoutMs) {
    Close();
    if (!WaitReadable(m_listener, timeoutMs)) return false;
    m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    m_received.clear();
    m_nConsumed = 0;
    return m_client >= 0;
}

bool QuoteServer::ClientReadable(int timeoutMs) const { return WaitReadable(m_client, timeoutMs); }

bool QuoteServer::HasPendingClient() const { return WaitReadable(m_listener, 0); }

bool QuoteServer::ReceiveSome(int timeoutMs) {
    if (m_client < 0 || !WaitReadable(m_client, timeoutMs)) return false;
    char buffer[4096];
    ssize_t n;
    do {
        n = ::recv(m_client, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    m_received.append(buffer, static_cast<size_t>(n));
    return true;
}

bool QuoteServer::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_client < 0) return false;
        const ssize_t n = ::send(m_client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool QuoteServer::Drip(std::string_view bytes, int gapMs) {
    const int one = 1;
    if (m_client < 0 || ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) return false;
    for (const char c : bytes) {
        if (!Send(std::string_view(&c, 1))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    return true;
}

bool QuoteServer::WaitUntilDelivered(int timeoutMs) const {
    return WaitUntil(
        [&] {
            int unacknowledged = 0;
            return m_client >= 0 && ::ioctl(m_client, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
        },
        timeoutMs);
}

void QuoteServer::Close() {
    if (m_client < 0) return;
    ::close(m_client);
    m_client = -1;
}

void QuoteServer::Reset() {
    if (m_client < 0) return;
    const linger abortive{1, 0};
    ::setsockopt(m_client, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    Close();
}

bool QuoteServer::ResetsAbortively() { return true; }

UnansweredPort::UnansweredPort(const std::string& address, int port) : m_server(address, port, 0) {
    sockaddr_storage target{};
    const auto targetLength = static_cast<socklen_t>(SocketAddress(address, m_server.port(), &target));
    m_filler = ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_filler < 0) return;
    if (::connect(m_filler, reinterpret_cast<const sockaddr*>(&target), targetLength) != 0 &&
        errno != EINPROGRESS) {
        return;
    }
    // The filler's connect completes once the kernel has queued it.
    pollfd p{m_filler, POLLOUT, 0};
    if (::poll(&p, 1, kWaitMs) != 1) return;
    int error = 0;
    socklen_t length = sizeof error;
    m_bReady = ::getsockopt(m_filler, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

UnansweredPort::~UnansweredPort() {
    if (m_filler >= 0) ::close(m_filler);
}

ClosedPort::ClosedPort(const std::string& address, int port) { m_socket = BoundSocket(address, port, &m_nPort); }

ClosedPort::~ClosedPort() { ::close(m_socket); }

}  // namespace vantrel::test
