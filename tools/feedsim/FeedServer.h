// The simulator's TCP server: one thread per client, each doing the login
// handshake and then streaming quote lines from the shared market.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "feedsim/FeedOptions.h"
#include "feedsim/Market.h"

namespace feedsim {

inline constexpr const char* kGranted = "#1 Login granted";
inline constexpr const char* kRefused = "#0 Login refused";
inline constexpr const char* kTooManyClients = "#0 Too many clients";

class FeedServer {
public:
    // `log` receives one line per client event unless the options say quiet.
    FeedServer(const FeedOptions& options, Market& market, std::ostream& log);
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    // Binds the listening socket. False with a reason when it cannot.
    bool Listen(std::string& error);

    // The port listened on (the chosen one when the options asked for 0).
    int Port() const { return m_nPort; }

    // Accepts and serves clients until Stop() is called or the duration has
    // passed; then ends every client connection and returns.
    void Run();

    // Asks Run() to return. Async-signal-safe: only writes to a descriptor.
    void Stop() noexcept;

private:
    struct Client {
        int fd = -1;
        int id = 0;
        std::string peer;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void Accept();
    void Serve(Client& client);
    bool Handshake(Client& client, std::string& login);
    void Stream(Client& client, const std::string& login);
    bool SendLine(Client& client, const std::string& text);
    void CloseGracefully(Client& client);
    bool WaitUntil(std::chrono::steady_clock::time_point when);
    void Reap(bool bAll);
    void Note(const std::string& text);

    FeedOptions m_options;
    Market& m_market;
    std::ostream& m_log;
    std::mutex m_logMutex;

    int m_nListenFd = -1;
    int m_nStopFd = -1;  // eventfd written by Stop()
    int m_nReapFd = -1;  // eventfd written by a client thread when it ends
    int m_nPort = 0;
    int m_nNextId = 1;

    std::atomic<bool> m_bStopping{false};
    std::mutex m_waitMutex;
    std::condition_variable m_wake;

    std::mutex m_clientsMutex;  // guards the list against Stop's shutdowns
    std::list<std::unique_ptr<Client>> m_clients;
};

}  // namespace feedsim
