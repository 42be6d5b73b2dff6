// The test quotes server's reading of what the client sent and the streaming
// server built on it, the same on every platform; the socket calls are in
// QuoteServer.cpp (Linux) and QuoteServer_win32.cpp.
#include "tests/support/QuoteServer.h"

#include <exception>
#include <stdexcept>
#include <utility>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace vantrel::test {

bool QuoteServer::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string::size_type lf = m_received.find('\n', m_nConsumed);
        if (lf != std::string::npos) {
            line = m_received.substr(m_nConsumed, lf - m_nConsumed);
            m_nConsumed = lf + 1;
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left < 0 || !ReceiveSome(static_cast<int>(left))) return false;
    }
}

bool QuoteServer::WaitForClientClose(int timeoutMs) {
    if (m_client < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left < 0 || !ClientReadable(static_cast<int>(left))) return false;
        if (!ReceiveSome(0)) return true;
    }
}

QuoteStreamer::QuoteStreamer(std::function<std::string(uint64_t)> batch)
    : m_batch(std::move(batch)), m_thread([this] { Run(); }) {}

QuoteStreamer::~QuoteStreamer() {
    m_bStop.store(true);
    m_thread.join();
}

void QuoteStreamer::Run() {
    uint64_t n = 0;
    while (!m_bStop.load()) {
        std::string line;
        if (!m_server.Accept(100)) continue;
        if (!m_server.ReadLine(line) || !m_server.ReadLine(line) || !m_server.Send("#1 Login granted\r\n")) {
            continue;
        }
        m_nSessions.fetch_add(1);
        while (!m_bStop.load() && m_server.Send(m_batch(n++)) && !m_server.WaitForClientClose(1)) {
        }
        m_server.Close();
    }
}

int SocketAddress(const std::string& host, int port, sockaddr_storage* pAddress) {
    *pAddress = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(pAddress);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(pAddress);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        return sizeof *v4;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof *v6;
    }
    throw std::runtime_error("not a numeric address: " + host);
}

bool LoopbackAvailable(const std::string& address) {
    try {
        ClosedPort probe(address);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace vantrel::test
