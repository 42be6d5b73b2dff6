// The test quotes server's reading of what the client sent, the same on
// every platform; the socket calls are in QuoteServer.cpp (Linux) and
// QuoteServer_win32.cpp.
#include "tests/support/QuoteServer.h"

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

}  // namespace vantrel::test
