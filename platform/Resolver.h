// Host name resolution with a bound: IPv4 only, numeric addresses at once,
// names through glibc's asynchronous resolver (getaddrinfo_a), so that a
// resolver that never answers costs the caller no more than its own bound.
//
// The look-up itself runs on glibc's helper thread, never on a thread of this
// library: a request that is still open when the caller gives up is left to
// glibc and its memory is freed by a later resolution once it has finished
// (or left to the process, if it never finishes before the library is
// unloaded). Unloading the library therefore never waits for a resolver.
#pragma once

#include <cstdint>

namespace vantrel::platform {

class WakeEvent;

// Resolves `host` (dotted IPv4 address or name) to its first IPv4 address,
// in network byte order, in *pAddress. Waits at most `timeoutMs` (-1: no
// bound) and returns early when `wake` (may be null) is signalled; a signal
// is seen within 50 ms. Returns 0 when resolved, otherwise the reason:
// EINVAL the host is null or has no IPv4 address, ETIMEDOUT no answer in
// time, ECANCELED woken.
int ResolveIPv4(const char* host, int timeoutMs, const WakeEvent* wake, uint32_t* pAddress) noexcept;

}  // namespace vantrel::platform
