// The steps of ConnectTcp that each platform implements for itself; trying a
// host's addresses in turn within one bound is common to both (Connect.cpp).
#pragma once

#include "platform/Resolver.h"

namespace vantrel::platform {

// A new TCP socket of `family` (AF_INET or AF_INET6), non-blocking, not
// inherited by child processes, with Nagle's delay off; or kInvalidSocket
// with the platform's error code in *pnError.
int CreateTcpSocketFor(int family, int* pnError) noexcept;

// The address family the socket was created for; 0 when it cannot be told.
int SocketFamily(int socket) noexcept;

// Gives `to` the connection options the caller may have set on `from` before
// connecting (keep-alive and its timings, Nagle's delay), so that replacing a
// socket for another address family keeps them.
void CarrySocketOptions(int from, int to) noexcept;

// One connection attempt to `address`, waiting at most `timeoutMs` (-1: no
// bound) and giving up at once when `wake` is signalled. 0 when connected;
// otherwise -1 with the reason in *pnError (time-out and cancel as the
// platform's codes, otherwise the connect's error). A socket whose attempt
// failed is left unconnected where the platform allows.
int ConnectAddress(int socket, const TcpAddress& address, int timeoutMs, const WakeEvent* wake,
                   int* pnError) noexcept;

}  // namespace vantrel::platform
