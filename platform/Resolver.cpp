#include "platform/Resolver.h"

#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace vantrel::platform {
namespace {

// One look-up, shared by the caller and the helper thread. The helper
// touches nothing else, so it may finish after the caller has given up, and
// even after the library's static objects are gone at process exit.
struct Lookup {
    Lookup(const char* host, int nPort) : name(host), port(nPort) {}
    ~Lookup() {
        if (nDoneFd >= 0) ::close(nDoneFd);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    const std::string name;
    const int port;
    const int nDoneFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);  // readable once done
    std::atomic<bool> bDone{false};  // set after the result below
    int nResult = EINVAL;
    std::vector<TcpAddress> addresses;
};

void RunLookup(const std::shared_ptr<Lookup>& pLookup) noexcept {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    if (::getaddrinfo(pLookup->name.c_str(), nullptr, &hints, &pResult) == 0) {
        if (AppendTcpAddresses(pResult, pLookup->port, &pLookup->addresses) && !pLookup->addresses.empty()) {
            pLookup->nResult = 0;
        }
        ::freeaddrinfo(pResult);
    }
    pLookup->bDone.store(true, std::memory_order_release);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(pLookup->nDoneFd, &one, sizeof one);
}

// A reference to the shared object this code lives in, which keeps it loaded
// until the reference is dropped; null when the code is part of the program
// itself (which is never unloaded) or the object cannot be found.
void* PinThisObject() noexcept {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&PinThisObject), &info) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

struct Helper {
    std::thread thread;
    std::shared_ptr<Lookup> pLookup;
    void* pPin = nullptr;

    // Only for a helper whose look-up is done: its thread is about to end.
    void Finish() noexcept {
        if (thread.joinable()) thread.join();
        if (pPin != nullptr) ::dlclose(pPin);
        pPin = nullptr;
    }
};

// Helpers whose callers gave up before their look-up was done.
class AbandonedHelpers {
public:
    // Runs when the library is unloaded, which cannot happen while a helper
    // holds its reference, or at process exit, when a helper still in
    // getaddrinfo is left to end with the process.
    ~AbandonedHelpers() {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (Helper& helper : m_helpers) {
            if (helper.pLookup->bDone.load(std::memory_order_acquire)) {
                helper.Finish();
            } else {
                helper.thread.detach();
            }
        }
    }

    void Add(Helper&& helper) noexcept {
        std::lock_guard<std::mutex> guard(m_mutex);
        try {
            m_helpers.push_back(std::move(helper));
        } catch (...) {
            // No room to keep it: the thread is left to end by itself, and
            // the library stays loaded, which is safe.
            helper.thread.detach();
        }
    }

    // Joins the helpers that have finished their look-up.
    void Reap() noexcept {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto done = std::partition(m_helpers.begin(), m_helpers.end(), [](const Helper& h) {
            return !h.pLookup->bDone.load(std::memory_order_acquire);
        });
        std::for_each(done, m_helpers.end(), [](Helper& h) { h.Finish(); });
        m_helpers.erase(done, m_helpers.end());
    }

private:
    std::mutex m_mutex;
    std::vector<Helper> m_helpers;
} g_abandoned;

enum class Outcome { Done, TimedOut, Woken };

// Waits for the look-up's descriptor and the wake-up event together.
Outcome WaitForLookup(const Lookup& lookup, int timeoutMs, const WakeEvent* wake) noexcept {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    pollfd fds[2] = {{lookup.nDoneFd, POLLIN, 0}, {-1, POLLIN, 0}};
    if (wake != nullptr) fds[1].fd = wake->fd();
    for (;;) {
        if (lookup.bDone.load(std::memory_order_acquire)) return Outcome::Done;
        if (wake != nullptr && wake->IsSignalled()) return Outcome::Woken;
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (leftMs <= 0) return Outcome::TimedOut;
            waitMs = static_cast<int>(leftMs);
        }
        // Also a failed wait (only EINTR is expected) goes round again.
        ::poll(fds, 2, waitMs);
    }
}

}  // namespace

int ResolveTcpHost(const char* host, int port, int timeoutMs, const WakeEvent* wake,
                   std::vector<TcpAddress>* pAddresses) noexcept {
    pAddresses->clear();
    if (host == nullptr) return EINVAL;
    TcpAddress numeric;
    if (NumericTcpAddress(host, port, &numeric)) {
        try {
            pAddresses->push_back(numeric);
        } catch (...) {
            return EINVAL;
        }
        return 0;
    }
    g_abandoned.Reap();

    Helper helper;
    try {
        helper.pLookup = std::make_shared<Lookup>(host, port);
        if (helper.pLookup->nDoneFd < 0) return EINVAL;
        helper.pPin = PinThisObject();
        helper.thread = std::thread(RunLookup, helper.pLookup);
    } catch (...) {
        if (helper.pPin != nullptr) ::dlclose(helper.pPin);
        return EINVAL;
    }

    switch (WaitForLookup(*helper.pLookup, timeoutMs, wake)) {
        case Outcome::Done:
            break;
        case Outcome::TimedOut:
            g_abandoned.Add(std::move(helper));
            return ETIMEDOUT;
        case Outcome::Woken:
            g_abandoned.Add(std::move(helper));
            return ECANCELED;
    }
    helper.Finish();
    if (helper.pLookup->nResult == 0) pAddresses->swap(helper.pLookup->addresses);
    return helper.pLookup->nResult;
}

}  // namespace vantrel::platform
