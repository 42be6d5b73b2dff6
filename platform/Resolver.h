// Host name resolution with a bound: IPv4 only, numeric addresses at once,
// names through getaddrinfo on a helper thread, so that a resolver that never
// answers costs the caller no more than its own bound.
//
// A look-up the caller gives up on runs on until the resolver itself gives
// up; its thread is joined by a later resolution. While such a thread runs,
// it keeps the library loaded (a reference of its own, as dlopen counts
// them), so that a dlclose in the meantime never unmaps code it still has to
// return through; the reference is dropped once the thread has been joined.
#pragma once

#include <cstdint>

namespace vantrel::platform {

class WakeEvent;

// Resolves `host` (dotted IPv4 address or name) to its first IPv4 address,
// in network byte order, in *pAddress. Waits at most `timeoutMs` (-1: no
// bound) and returns at once when `wake` (may be null) is signalled. Returns
// 0 when resolved, otherwise the reason: EINVAL the host is null or has no
// IPv4 address (or no helper thread could be started), ETIMEDOUT no answer in
// time, ECANCELED woken.
int ResolveIPv4(const char* host, int timeoutMs, const WakeEvent* wake, uint32_t* pAddress) noexcept;

}  // namespace vantrel::platform
