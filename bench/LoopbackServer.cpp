#include "bench/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace bench {
namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "loopback server: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

// Reads until the client has sent its two lines (login and password).
bool ReadCredentials(int fd) {
    int nLines = 0;
    char buffer[256];
    while (nLines < 2) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) nLines += buffer[i] == '\n';
    }
    return true;
}

// Waits until the client closes the connection (its Logoff).
void DrainUntilClosed(int fd) {
    char buffer[256];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
    }
}

}  // namespace

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string QuoteLine(const std::string& fixText) { return "[QT]" + fixText + "\r\n"; }

LoopbackServer::LoopbackServer(Script script) : m_script(std::move(script)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) Fail("socket");
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    if (::listen(m_listen, 16) != 0) Fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    m_bStop.store(true);
    // Shutting the listening socket down makes the blocked accept return.
    ::shutdown(m_listen, SHUT_RDWR);
    m_thread.join();
    ::close(m_listen);
}

void LoopbackServer::Run() {
    while (!m_bStop.load()) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // shut down
        }
        m_nConnections.fetch_add(1);
        Serve(fd);
        ::close(fd);
    }
}

void LoopbackServer::Serve(int fd) {
    // Quote lines go out as soon as they are written, as a live feed's would.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!ReadCredentials(fd)) return;
    if (!SendAll(fd, "Welcome. #1 Login granted\r\n")) return;
    if (m_script) m_script(fd);
    DrainUntilClosed(fd);
}

}  // namespace bench
}  // namespace vantrel
