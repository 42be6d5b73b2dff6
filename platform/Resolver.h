// Host name resolution with a bound, for TCP connections over IPv4 and IPv6:
// numeric addresses at once, names through getaddrinfo on a helper thread, so
// that a resolver that never answers costs the caller no more than its own
// bound.
//
// A look-up the caller gives up on runs on until the resolver itself gives
// up. On Linux its thread is joined by a later resolution, and while it runs
// it keeps the library loaded (a reference of its own, as dlopen counts
// them), so that a dlclose in the meantime never unmaps code it still has to
// return through; the reference is dropped once the thread has been joined.
// On Windows the helper is a LibraryThread, which holds the module itself.
#pragma once

#include <vector>

#if defined(_WIN32)
#include "platform/win32/Windows.h"
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace vantrel::platform {

class WakeEvent;

// One address to connect to: an IPv4 or IPv6 socket address, port included.
struct TcpAddress {
    sockaddr_storage storage{};
    int length = 0;

    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Resolves `host` (a dotted IPv4 address, an IPv6 address or a name) to every
// address it has, in the resolver's order of preference and without repeats,
// each with `port`. A numeric address yields itself alone, without a
// look-up. Waits at most `timeoutMs` (-1: no bound) and returns at once when
// `wake` (may be null) is signalled. Returns 0 when at least one address was
// found, otherwise the platform's code for the reason: host not resolved (the
// host is null or has no address, or no helper thread could be started),
// timed out, or canceled (see platform/ErrorCodes.h).
int ResolveTcpHost(const char* host, int port, int timeoutMs, const WakeEvent* wake,
                   std::vector<TcpAddress>* pAddresses) noexcept;

// The two parts of a resolution that are the same everywhere.
// The address of a numeric host, or false when `host` is a name.
bool NumericTcpAddress(const char* host, int port, TcpAddress* pAddress) noexcept;
// Appends the IPv4 and IPv6 addresses of a getaddrinfo result, in its order,
// with `port`, leaving out repeats. False when there was no room for them.
bool AppendTcpAddresses(const addrinfo* list, int port, std::vector<TcpAddress>* pAddresses) noexcept;

}  // namespace vantrel::platform
