// Connecting to a host over TCP, the same on every platform: the host's
// addresses are tried in the resolver's order, and all of it, the look-up
// included, stays within the caller's one bound.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ConnectSteps.h"
#include "platform/ErrorCodes.h"
#include "platform/Socket.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace vantrel::platform {

bool NumericTcpAddress(const char* host, int port, TcpAddress* pAddress) noexcept {
    *pAddress = TcpAddress{};
    sockaddr_in& v4 = reinterpret_cast<sockaddr_in&>(pAddress->storage);
    if (::inet_pton(AF_INET, host, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        pAddress->length = sizeof v4;
        return true;
    }
    // getaddrinfo rather than inet_pton, for a zone ("fe80::1%eth0"); with
    // AI_NUMERICHOST it never asks a name server.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* pFound = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &pFound) != 0) return false;
    std::vector<TcpAddress> found;
    const bool bFound = AppendTcpAddresses(pFound, port, &found) && !found.empty();
    ::freeaddrinfo(pFound);
    if (bFound) *pAddress = found.front();
    return bFound;
}

bool AppendTcpAddresses(const addrinfo* list, int port, std::vector<TcpAddress>* pAddresses) noexcept {
    for (const addrinfo* p = list; p != nullptr; p = p->ai_next) {
        TcpAddress address;
        if (p->ai_addr == nullptr || static_cast<size_t>(p->ai_addrlen) > sizeof address.storage) continue;
        std::memcpy(&address.storage, p->ai_addr, p->ai_addrlen);
        address.length = static_cast<int>(p->ai_addrlen);
        if (p->ai_family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(address.storage).sin_port = htons(static_cast<uint16_t>(port));
        } else if (p->ai_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6&>(address.storage).sin6_port = htons(static_cast<uint16_t>(port));
        } else {
            continue;
        }
        // A name listed twice (in the hosts file and by the name server)
        // would cost a dead address two shares of the bound.
        bool bRepeated = false;
        for (const TcpAddress& known : *pAddresses) {
            bRepeated = bRepeated || (known.length == address.length &&
                                      std::memcmp(&known.storage, &address.storage, address.length) == 0);
        }
        if (bRepeated) continue;
        try {
            pAddresses->push_back(address);
        } catch (...) {
            return false;
        }
    }
    return true;
}

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds until `deadline`, 0 when it has passed, at most a day.
int MillisecondsLeft(Clock::time_point deadline) {
    constexpr long long kDay = 24LL * 3600 * 1000;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(left < 0 ? 0 : left > kDay ? kDay : left);
}

}  // namespace

int ConnectTcp(int* pSocket, const char* host, int port, int timeoutMs, const WakeEvent* wake,
               int* pnError) noexcept {
    *pnError = 0;
    const bool bBounded = timeoutMs >= 0;
    const Clock::time_point deadline = bBounded ? Clock::now() + std::chrono::milliseconds(timeoutMs)
                                                : Clock::time_point::max();
    // The look-up counts inside the bound.
    std::vector<TcpAddress> addresses;
    const int resolved = ResolveTcpHost(host, port, bBounded ? MillisecondsLeft(deadline) : -1, wake, &addresses);
    if (resolved != 0) {
        *pnError = resolved;
        return -1;
    }
    if (*pSocket == kInvalidSocket) {
        *pnError = kErrorBadSocket;
        return -1;
    }
    // Each address gets an equal share of the time left, so a dead first
    // address leaves the others their chance; one that fails at once passes
    // its share on. Every attempt after the first, and one of another family
    // than the caller's socket, runs on a fresh socket that replaces it.
    int error = kErrorHostNotResolved;
    bool bUsed = false;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const size_t nLeft = addresses.size() - i;
        if (bBounded && i > 0 && MillisecondsLeft(deadline) == 0) {
            error = kErrorTimedOut;
            break;
        }
        if (bUsed || SocketFamily(*pSocket) != addresses[i].family()) {
            const int fresh = CreateTcpSocketFor(addresses[i].family(), &error);
            if (fresh == kInvalidSocket) continue;
            CarrySocketOptions(*pSocket, fresh);
            CloseSocket(pSocket);
            *pSocket = fresh;
        }
        bUsed = true;
        const int share = bBounded ? MillisecondsLeft(deadline) / static_cast<int>(nLeft) : -1;
        if (ConnectAddress(*pSocket, addresses[i], share, wake, &error) == 0) return 0;
        if (error == kErrorCanceled) break;
    }
    *pnError = error;
    return -1;
}

}  // namespace vantrel::platform
