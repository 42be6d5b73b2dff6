// Name look-ups on Windows: getaddrinfo on a LibraryThread of its own, so that
// the caller can stop waiting for it; the thread holds a reference on the
// module meanwhile, so it may outlive the wait and even a FreeLibrary.
#include "platform/Resolver.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace vantrel::platform {
namespace {

// One look-up, shared by the caller and the helper thread.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool bDone = false;
    int nResult = kErrorHostNotResolved;
    std::vector<TcpAddress> addresses;
};

}  // namespace

int ResolveTcpHost(const char* host, int port, int timeoutMs, const WakeEvent* wake,
                   std::vector<TcpAddress>* pAddresses) noexcept {
    using Clock = std::chrono::steady_clock;
    pAddresses->clear();
    if (host == nullptr) return kErrorHostNotResolved;
    std::shared_ptr<PendingLookup> lookup;
    try {
        TcpAddress numeric;
        if (NumericTcpAddress(host, port, &numeric)) {
            pAddresses->push_back(numeric);
            return 0;
        }
        lookup = std::make_shared<PendingLookup>();
        LibraryThread thread;
        const bool bStarted = thread.Start([lookup, port, name = std::string(host)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            std::vector<TcpAddress> addresses;
            const bool bFound = ::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 &&
                                AppendTcpAddresses(found, port, &addresses) && !addresses.empty();
            if (found != nullptr) ::freeaddrinfo(found);
            std::lock_guard<std::mutex> guard(lookup->mutex);
            if (bFound) {
                lookup->addresses.swap(addresses);
                lookup->nResult = 0;
            }
            lookup->bDone = true;
            lookup->done.notify_all();
        });
        if (!bStarted) return kErrorHostNotResolved;
        thread.Detach();
    } catch (...) {
        return kErrorHostNotResolved;
    }
    const Clock::time_point deadline =
        timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->bDone) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return kErrorTimedOut;
        if (wake != nullptr && wake->IsSignalled()) return kErrorCanceled;
        // Short slices, so that a stop request is seen within 20 ms.
        const Clock::time_point slice = now + std::chrono::milliseconds(20);
        lookup->done.wait_until(lock, slice < deadline ? slice : deadline);
    }
    if (lookup->nResult == 0) pAddresses->swap(lookup->addresses);
    return lookup->nResult;
}

}  // namespace vantrel::platform
