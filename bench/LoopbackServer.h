// A quotes server for the session benchmarks: a thread listening on
// 127.0.0.1 (ephemeral port) that serves one connection at a time. For each,
// it reads the two credential lines, grants the login, runs the benchmark's
// script on the connection, then waits for the client to close it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace vantrel {
namespace bench {

class LoopbackServer {
public:
    // Runs on the server thread after the verdict line has been sent; `fd` is
    // the blocking connected socket.
    using Script = std::function<void(int fd)>;

    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_nPort; }

    // Connections accepted so far.
    int connections() const { return m_nConnections.load(); }

private:
    void Run();
    void Serve(int fd);

    Script m_script;
    int m_listen = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nConnections{0};
    std::thread m_thread;
};

// Writes all of `bytes`; false when the peer has gone.
bool SendAll(int fd, std::string_view bytes);

// The quote line for a FIX text as the server sends it: "[QT]" + text + CR LF.
std::string QuoteLine(const std::string& fixText);

}  // namespace bench
}  // namespace vantrel
