// The test quotes server on Windows Sockets. Same behaviour as the Linux
// one, except WaitUntilDelivered, which has no count of unacknowledged bytes
// to read and returns once the bytes are handed to the loopback stack.
#include "tests/support/QuoteServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <stdexcept>

namespace vantrel::test {
namespace {

SOCKET Native(int socket) { return static_cast<SOCKET>(static_cast<intptr_t>(socket)); }

int BoundSocket(const std::string& host, int port, int* pnPort) {
    sockaddr_storage address{};
    int length = SocketAddress(host, port, &address);
    const SOCKET s = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    const DWORD one = 1;
    if ((address.ss_family == AF_INET6 &&
         ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&one), sizeof one) != 0) ||
        ::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        throw std::runtime_error("bind failed");
    }
    *pnPort = ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                                  : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return static_cast<int>(s);
}

bool WaitReadable(int socket, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(socket), &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &wait) > 0;
}

}  // namespace

QuoteServer::QuoteServer(int backlog) : QuoteServer("127.0.0.1", 0, backlog) {}

QuoteServer::QuoteServer(const std::string& address, int port, int backlog) : m_address(address) {
    m_listener = BoundSocket(address, port, &m_nPort);
    if (::listen(Native(m_listener), backlog) != 0) {
        ::closesocket(Native(m_listener));
        throw std::runtime_error("listen failed");
    }
}

QuoteServer::~QuoteServer() {
    Close();
    ::closesocket(Native(m_listener));
}

bool QuoteServer::Accept(int timeoutMs) {
    Close();
    if (!WaitReadable(m_listener, timeoutMs)) return false;
    const SOCKET client = ::accept(Native(m_listener), nullptr, nullptr);
    m_client = client == INVALID_SOCKET ? -1 : static_cast<int>(client);
    m_received.clear();
    m_nConsumed = 0;
    return m_client >= 0;
}

bool QuoteServer::ClientReadable(int timeoutMs) const { return WaitReadable(m_client, timeoutMs); }

bool QuoteServer::HasPendingClient() const { return WaitReadable(m_listener, 0); }

bool QuoteServer::ReceiveSome(int timeoutMs) {
    if (m_client < 0 || !WaitReadable(m_client, timeoutMs)) return false;
    char buffer[4096];
    const int n = ::recv(Native(m_client), buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    m_received.append(buffer, static_cast<size_t>(n));
    return true;
}

bool QuoteServer::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_client < 0) return false;
        const int chunk = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
        const int n = ::send(Native(m_client), bytes.data(), chunk, 0);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool QuoteServer::WaitUntilDelivered(int) const { return m_client >= 0; }

void QuoteServer::Close() {
    if (m_client < 0) return;
    ::closesocket(Native(m_client));
    m_client = -1;
}

void QuoteServer::Reset() {
    if (m_client < 0) return;
    const linger abortive{1, 0};
    ::setsockopt(Native(m_client), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    Close();
}

bool QuoteServer::ResetsAbortively() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

UnansweredPort::UnansweredPort(const std::string& host, int port) : m_server(host, port, 0) {
    sockaddr_storage address{};
    const int addressLength = SocketAddress(host, m_server.port(), &address);
    const SOCKET filler = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (filler == INVALID_SOCKET) return;
    m_filler = static_cast<int>(filler);
    u_long one = 1;
    ::ioctlsocket(filler, FIONBIO, &one);
    if (::connect(filler, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        return;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(filler, &writable);
    timeval wait{kWaitMs / 1000, 0};
    if (::select(0, nullptr, &writable, nullptr, &wait) != 1) return;
    int error = 0;
    int length = sizeof error;
    m_bReady = ::getsockopt(filler, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
               error == 0;
}

UnansweredPort::~UnansweredPort() {
    if (m_filler >= 0) ::closesocket(Native(m_filler));
}

ClosedPort::ClosedPort(const std::string& address, int port) { m_socket = BoundSocket(address, port, &m_nPort); }

ClosedPort::~ClosedPort() { ::closesocket(Native(m_socket)); }

}  // namespace vantrel::test
