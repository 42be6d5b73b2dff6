// A quotes server for tests: a real TCP listener on a loopback address
// (127.0.0.1 unless told otherwise) with an ephemeral port, driven step by step by the test, one client at a time.
// Every wait is bounded; nothing sleeps.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

struct sockaddr_storage;

namespace vantrel {
namespace test {

// Default bound for every wait of the server and of WaitUntil.
constexpr int kWaitMs = 10000;

class QuoteServer {
public:
    // `backlog` is handed to listen(); 0 lets the kernel queue a single
    // connection, which UnansweredPort uses.
    explicit QuoteServer(int backlog = 16);
    // Listens on numeric `address` ("::1" takes IPv6 only) and `port` (0: an
    // ephemeral one). Throws when it cannot.
    QuoteServer(const std::string& address, int port, int backlog = 16);
    ~QuoteServer();
    QuoteServer(const QuoteServer&) = delete;
    QuoteServer& operator=(const QuoteServer&) = delete;

    int port() const { return m_nPort; }
    const std::string& address() const { return m_address; }

    // Accepts the next client, waiting at most `timeoutMs`. A client still
    // connected is closed first (orderly). False on time-out.
    bool Accept(int timeoutMs = kWaitMs);
    // True when a client waits to be accepted; does not wait.
    bool HasPendingClient() const;
    bool IsConnected() const { return m_client >= 0; }

    // Reads up to and including the next LF; `line` gets the text without
    // the LF (a CR before it stays). False on time-out or when the client
    // closed or failed first.
    bool ReadLine(std::string& line, int timeoutMs = kWaitMs);
    // Everything read from the client so far, byte for byte.
    const std::string& Received() const { return m_received; }

    // Sends all of `bytes` (never raising SIGPIPE). False when the client is
    // gone.
    bool Send(std::string_view bytes);
    // Sends `bytes` one at a time, each in its own segment, pausing `gapMs`
    // after each: a server that drips its stream. False when the client is
    // gone.
    bool Drip(std::string_view bytes, int gapMs);
    // Waits until the client's side has acknowledged every byte sent, that
    // is, until they wait in its receive queue or have been read.
    bool WaitUntilDelivered(int timeoutMs = kWaitMs) const;

    // Orderly close: the client reads the end of the stream.
    void Close();
    // Abortive close (SO_LINGER 0): the client's next receive fails with
    // ECONNRESET.
    void Reset();
    // Whether Reset really resets. Not under Wine, whose closesocket ends
    // the connection in order whatever the linger setting.
    static bool ResetsAbortively();

    // Waits until the client closes its end (or resets it); bytes it sends
    // meanwhile are kept in Received(). True when it did within `timeoutMs`.
    bool WaitForClientClose(int timeoutMs = kWaitMs);

private:
    // One receive into m_received; false on end of stream, failure or time-out.
    bool ReceiveSome(int timeoutMs);
    // Whether the client's socket becomes readable within `timeoutMs`.
    bool ClientReadable(int timeoutMs) const;

    std::string m_address;
    int m_listener = -1;
    int m_client = -1;
    int m_nPort = 0;
    std::string m_received;
    std::string::size_type m_nConsumed = 0;  // bytes of m_received handed out by ReadLine
};

// A quotes server on a thread of its own, for tests that open many sessions
// one after the other: it grants every login, then sends the batches that
// `batch` makes (0, 1, 2, ... counted over all sessions) until the client
// closes the connection, and waits for the next client. The batch function
// runs on the server's thread.
class QuoteStreamer {
public:
    explicit QuoteStreamer(std::function<std::string(uint64_t)> batch);
    ~QuoteStreamer();
    QuoteStreamer(const QuoteStreamer&) = delete;
    QuoteStreamer& operator=(const QuoteStreamer&) = delete;

    int port() const { return m_server.port(); }
    // Logins granted so far.
    uint64_t sessions() const { return m_nSessions.load(); }

private:
    void Run();

    QuoteServer m_server;
    std::function<std::string(uint64_t)> m_batch;
    std::atomic<bool> m_bStop{false};
    std::atomic<uint64_t> m_nSessions{0};
    std::thread m_thread;
};

// A loopback port that never answers a connection attempt: a listener with a
// full accept queue (one connection made and never accepted), so the kernel
// drops every further SYN and the client's connect runs into its time-out.
class UnansweredPort {
public:
    explicit UnansweredPort(const std::string& address = "127.0.0.1", int port = 0);
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    int port() const { return m_server.port(); }
    // False when the queue could not be filled (the set-up failed).
    bool ready() const { return m_bReady; }

private:
    QuoteServer m_server;
    int m_filler = -1;
    bool m_bReady = false;
};

// A loopback port where nothing listens: bound but not listening, so the port
// stays ours and a connect is refused at once.
class ClosedPort {
public:
    explicit ClosedPort(const std::string& address = "127.0.0.1", int port = 0);
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return m_nPort; }

private:
    int m_socket = -1;
    int m_nPort = 0;
};

// The socket address of numeric `host` ("127.0.0.1", "::1") and `port`, and
// its length; throws when the text is not one.
int SocketAddress(const std::string& host, int port, sockaddr_storage* pAddress);

// Whether a test can listen on loopback `address` ("::1" is missing where
// IPv6 is turned off).
bool LoopbackAvailable(const std::string& address);

// Polls `condition` until it holds or `timeoutMs` has passed; true when it
// holds. For conditions that the library changes on its own threads.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace test
}  // namespace vantrel
