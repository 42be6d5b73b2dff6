#include "feedsim/FeedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace feedsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kHandshakeTimeout = std::chrono::seconds(10);
constexpr auto kDrainTimeout = std::chrono::seconds(1);
constexpr std::size_t kMaxCredentialBytes = 1024;

void Signal(int fd) noexcept {
    const uint64_t one = 1;
    // A full counter already wakes the reader; nothing else can go wrong here.
    [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

void Drain(int fd) noexcept {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = read(fd, &value, sizeof value);
}

int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// "YYYYMMDD-HH:MM:SS.mmm " in UTC: the default text before the marker.
std::string TimeStampPrefix() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y%m%d-%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03ld ", millis);
    return text;
}

// The login names the client in TargetCompID, but only when it is safe to
// put into a FIX field: printable, no blanks or '=', at most 32 bytes.
std::string TargetCompIdFor(const std::string& login) {
    if (login.empty() || login.size() > 32) return "CLIENT";
    for (const char c : login) {
        if (c <= ' ' || c > '~' || c == '=') return "CLIENT";
    }
    return login;
}

std::string PeerName(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

}  // namespace

FeedServer::FeedServer(const FeedOptions& options, Market& market, std::ostream& log)
    : m_options(options), m_market(market), m_log(log) {
    m_nStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_nReapFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

FeedServer::~FeedServer() {
    Reap(true);
    if (m_nListenFd >= 0) close(m_nListenFd);
    if (m_nStopFd >= 0) close(m_nStopFd);
    if (m_nReapFd >= 0) close(m_nReapFd);
}

bool FeedServer::Listen(std::string& error) {
    if (m_nStopFd < 0 || m_nReapFd < 0) {
        error = std::string("cannot create an event descriptor: ") + std::strerror(errno);
        return false;
    }
    // The options admit only a numeric IPv4 or IPv6 address.
    sockaddr_storage address{};
    socklen_t length = sizeof(sockaddr_in);
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (inet_pton(AF_INET, m_options.listenAddress.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(m_options.port));
    } else {
        inet_pton(AF_INET6, m_options.listenAddress.c_str(), &v6.sin6_addr);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(m_options.port));
        length = sizeof v6;
    }
    m_nListenFd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_nListenFd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(m_nListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (address.ss_family == AF_INET6) setsockopt(m_nListenFd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (bind(m_nListenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_nListenFd, 64) != 0) {
        error = "cannot listen on " + m_options.listenAddress + ":" +
                std::to_string(m_options.port) + ": " + std::strerror(errno);
        return false;
    }
    length = sizeof address;
    getsockname(m_nListenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_nPort = ntohs(address.ss_family == AF_INET6 ? v6.sin6_port : v4.sin_port);
    return true;
}

void FeedServer::Stop() noexcept { Signal(m_nStopFd); }

void FeedServer::Note(const std::string& text) {
    if (m_options.quiet) return;
    std::lock_guard<std::mutex> guard(m_logMutex);
    m_log << "vantrel-feedsim: " << text << std::endl;
}

void FeedServer::Run() {
    const bool bTimed = m_options.durationSeconds > 0.0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(m_options.durationSeconds));
    for (;;) {
        pollfd fds[3] = {{m_nListenFd, POLLIN, 0}, {m_nStopFd, POLLIN, 0}, {m_nReapFd, POLLIN, 0}};
        const int timeout = bTimed ? MillisecondsUntil(deadline) : -1;
        const int ready = poll(fds, 3, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) break;
        if (ready == 0 && bTimed && Clock::now() >= deadline) break;
        if (fds[2].revents != 0) {
            Drain(m_nReapFd);
            Reap(false);
        }
        if (fds[0].revents != 0) Accept();
    }
    // Stop every client: wake the ones waiting between quotes, and unblock
    // the ones inside a read or a send.
    {
        std::lock_guard<std::mutex> guard(m_waitMutex);
        m_bStopping = true;
    }
    m_wake.notify_all();
    {
        std::lock_guard<std::mutex> guard(m_clientsMutex);
        for (const auto& client : m_clients) shutdown(client->fd, SHUT_RDWR);
    }
    Reap(true);
}

void FeedServer::Accept() {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = accept4(m_nListenFd, reinterpret_cast<sockaddr*>(&address), &length,
                           SOCK_CLOEXEC);
    if (fd < 0) return;  // the client gave up already, or descriptors ran out
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->id = m_nNextId++;
    client->peer = PeerName(address);
    std::lock_guard<std::mutex> guard(m_clientsMutex);
    if (static_cast<int>(m_clients.size()) >= m_options.maxClients) {
        Note("client " + std::to_string(client->id) + " from " + client->peer +
             ": refused, already " + std::to_string(m_clients.size()) + " clients");
        // Answer on this thread; a short line fits the socket's buffer.
        SendLine(*client, kTooManyClients);
        shutdown(fd, SHUT_RDWR);
        close(fd);
        return;
    }
    Client& ref = *client;
    m_clients.push_back(std::move(client));
    ref.thread = std::thread([this, &ref] { Serve(ref); });
}

void FeedServer::Reap(bool bAll) {
    std::list<std::unique_ptr<Client>> ended;
    {
        std::lock_guard<std::mutex> guard(m_clientsMutex);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (bAll || (*it)->finished) {
                ended.push_back(std::move(*it));
                it = m_clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The descriptor is closed only after its thread has ended, so that a
    // shutdown from Run() never reaches a reused descriptor number.
    for (const auto& client : ended) {
        if (client->thread.joinable()) client->thread.join();
        close(client->fd);
    }
}

void FeedServer::Serve(Client& client) {
    std::string login;
    if (Handshake(client, login)) Stream(client, login);
    CloseGracefully(client);
    client.finished = true;
    Signal(m_nReapFd);
}

// Reads the two credential lines (LF or CR LF) within the handshake time-out,
// then answers the verdict. True when the login was granted.
bool FeedServer::Handshake(Client& client, std::string& login) {
    const std::string who = "client " + std::to_string(client.id) + " from " + client.peer;
    const Clock::time_point deadline = Clock::now() + kHandshakeTimeout;
    std::string received;
    std::string::size_type firstEnd = std::string::npos;
    std::string::size_type secondEnd = std::string::npos;
    while (secondEnd == std::string::npos) {
        if (received.size() > kMaxCredentialBytes) {
            Note(who + ": credentials longer than " + std::to_string(kMaxCredentialBytes) +
                 " bytes, refused");
            SendLine(client, kRefused);
            return false;
        }
        pollfd fd{client.fd, POLLIN, 0};
        const int ready = poll(&fd, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            Note(who + ": no credentials within " +
                 std::to_string(std::chrono::seconds(kHandshakeTimeout).count()) + " s, closed");
            return false;
        }
        char buffer[512];
        const ssize_t n = ready < 0 ? -1 : recv(client.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!m_bStopping) Note(who + ": closed before sending credentials");
            return false;
        }
        received.append(buffer, static_cast<std::size_t>(n));
        firstEnd = received.find('\n');
        if (firstEnd != std::string::npos) secondEnd = received.find('\n', firstEnd + 1);
    }
    auto withoutCr = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    };
    login = withoutCr(received.substr(0, firstEnd));
    const std::string password = withoutCr(received.substr(firstEnd + 1, secondEnd - firstEnd - 1));
    const bool bGranted = (!m_options.login || *m_options.login == login) &&
                          (!m_options.password || *m_options.password == password);
    // The login is the client's own text: shown only when it is plain.
    const std::string shownLogin = TargetCompIdFor(login) == login ? login : "(not printable)";
    if (!bGranted) {
        Note(who + ": login " + shownLogin + " refused");
        SendLine(client, kRefused);
        return false;
    }
    Note(who + ": login " + shownLogin + " granted");
    return SendLine(client, kGranted);
}

void FeedServer::Stream(Client& client, const std::string& login) {
    const std::string who = "client " + std::to_string(client.id);
    const std::string target = TargetCompIdFor(login);
    const std::size_t nSymbols = m_market.SymbolCount();
    int nSeqNum = 1;
    int64_t nSent = 0;
    auto sendQuote = [&](std::size_t index) {
        const std::string prefix = m_options.linePrefix ? *m_options.linePrefix : TimeStampPrefix();
        const Book book = m_market.Next(index);
        if (!SendLine(client, prefix + "[QT]" + BuildSnapshotMessage(book, "FEEDSIM", target, nSeqNum++))) {
            if (!m_bStopping) Note(who + ": disconnected after " + std::to_string(nSent) + " quotes");
            return false;
        }
        ++nSent;
        return true;
    };
    auto limitReached = [&] { return m_options.count > 0 && nSent >= m_options.count; };

    // A new client first gets the whole board at once, then the steady stream.
    for (std::size_t i = 0; i < nSymbols && !limitReached(); ++i) {
        if (m_bStopping || !sendQuote(i)) return;
    }
    const auto period = m_options.rate > 0.0
                            ? std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(1.0 / m_options.rate))
                            : Clock::duration::zero();
    Clock::time_point next = Clock::now();
    std::size_t index = 0;
    while (!limitReached()) {
        if (period != Clock::duration::zero()) {
            next += period;
            // A client that fell far behind (a stalled reader) resumes at the
            // rate instead of receiving a burst.
            if (next < Clock::now() - std::chrono::seconds(1)) next = Clock::now();
            if (!WaitUntil(next)) return;
        } else if (m_bStopping) {
            return;
        }
        if (!sendQuote(index)) return;
        index = (index + 1) % nSymbols;
    }
    Note(who + ": " + std::to_string(nSent) + " quotes sent, closing");
}

bool FeedServer::WaitUntil(Clock::time_point when) {
    std::unique_lock<std::mutex> lock(m_waitMutex);
    return !m_wake.wait_until(lock, when, [this] { return m_bStopping.load(); });
}

bool FeedServer::SendLine(Client& client, const std::string& text) {
    const std::string line = text + (m_options.crlf ? "\r\n" : "\n");
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = send(client.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Ends our side first and reads until the client closes (bounded), so that
// the last line sent is not lost to a reset caused by unread input.
void FeedServer::CloseGracefully(Client& client) {
    shutdown(client.fd, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + kDrainTimeout;
    char buffer[512];
    while (!m_bStopping) {
        pollfd fd{client.fd, POLLIN, 0};
        const int ready = poll(&fd, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
    }
    shutdown(client.fd, SHUT_RDWR);
}

}  // namespace feedsim
