// TCP client sockets for the library: IPv4 and IPv6, non-blocking underneath,
// with every wait bounded by a time-out and interruptible by a WakeEvent.
//
// Error codes are errno values (WSAGetLastError values on Windows). The
// library sets some itself, from platform/ErrorCodes.h: kErrorTimedOut when a
// wait runs out, kErrorHostNotResolved when a host name does not resolve, and
// a peer's orderly close reads as 0.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel::platform {

constexpr int kInvalidSocket = -1;

// A descriptor that a poll wakes on: Signal() makes it readable until Clear().
// Backed by an eventfd; on Windows by a UDP socket on 127.0.0.1 connected to
// itself, which select() can wait on beside the connection.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Signal() noexcept;
    void Clear() noexcept;
    // True between Signal() and Clear().
    bool IsSignalled() const noexcept;
    int fd() const noexcept { return m_fd; }

private:
    int m_fd;
};

// A new TCP/IPv4 socket (non-blocking, close-on-exec), or kInvalidSocket.
int CreateTcpSocket() noexcept;

// Resolves `host` (a dotted IPv4 address, an IPv6 address or a name; see
// platform/Resolver.h) and connects *pSocket to the first of its addresses
// that answers, trying them in the resolver's order, each with an equal share
// of the time left; all of it, the look-up included, within `timeoutMs` (-1:
// no bound). An attempt after the first, or for another address family than
// the socket's, runs on a fresh socket that replaces *pSocket (the old one is
// closed; its keep-alive and Nagle options carry over; options a caller sets
// on the connection are best set after this call). Returns 0 when connected;
// -1 otherwise with the reason in *pnError (EINVAL: the host does not resolve
// or is null; ETIMEDOUT: no answer in time, from the name server or the
// server; ECANCELED: `wake` (may be null) was signalled; EBADF: *pSocket is
// kInvalidSocket; otherwise the last attempt's connect error). A failed
// socket is left unconnected, so that sending on it fails.
int ConnectTcp(int* pSocket, const char* host, int port, int timeoutMs, const WakeEvent* wake,
               int* pnError) noexcept;

// One send of up to `size` bytes, never raising SIGPIPE. Returns the bytes
// taken, or -1 with errno in *pnError (EAGAIN when the buffer is full).
long SendSome(int socket, const char* data, std::size_t size, int* pnError) noexcept;

// One receive of up to `size` bytes. Returns the bytes read, 0 when the peer
// closed the connection, or -1 with errno in *pnError (EAGAIN: nothing yet).
long ReceiveSome(int socket, char* data, std::size_t size, int* pnError) noexcept;

enum class WaitResult { Ready, Woken, TimedOut, Failed };

// Waits until `socket` is readable (or writable, when `bWrite`), `wake` is
// signalled, or `timeoutMs` passes (-1: no time-out). On Failed the errno is
// in *pnError. Interrupted waits are resumed.
WaitResult WaitForSocket(int socket, bool bWrite, const WakeEvent* wake, int timeoutMs,
                         int* pnError) noexcept;

// Sends all of `size` bytes, waiting at most `timeoutMs` each time the socket
// takes nothing; a signalled `wake` ends it before any further send. 0, or
// the errno (EPIPE when the socket takes no byte without an error).
int SendAll(int socket, const char* data, std::size_t size, int timeoutMs, const WakeEvent* wake) noexcept;

// Receives what has arrived, up to `size` bytes, waiting at most `timeoutMs`
// when nothing has. The number received, 0 when the peer closed the
// connection, or -1 with the errno in *pnError.
long ReceiveWaiting(int socket, char* data, std::size_t size, int timeoutMs, const WakeEvent* wake,
                    int* pnError) noexcept;

// Closes the socket and sets the handle to kInvalidSocket; returns close()'s
// result (0 for an already invalid handle).
int CloseSocket(int* pSocket) noexcept;

// The name of this host as the system reports it, at most `maxLength`
// characters; "localhost" when it cannot be read.
std::string LocalHostName(std::size_t maxLength = 100);

}  // namespace vantrel::platform
