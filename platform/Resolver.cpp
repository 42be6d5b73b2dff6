#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/Socket.h"

namespace vantrel::platform {
namespace {

// How often a wait for the resolver looks at the wake-up event: glibc's wait
// (gai_suspend) cannot watch a descriptor.
constexpr int kWakeCheckMs = 50;

// One asynchronous look-up. glibc reads the name and the hints and writes
// the result while the request is open, so all three live on the heap until
// glibc is done with them.
struct Request {
    gaicb cb{};
    addrinfo hints{};
    std::string name;
};

void Free(Request* pRequest) noexcept {
    if (pRequest->cb.ar_result != nullptr) ::freeaddrinfo(pRequest->cb.ar_result);
    delete pRequest;
}

// Requests given up while glibc was still working on them. Each resolution
// first frees those that glibc has finished; so does the library's unload,
// which leaves any still open to the process, since glibc may yet write
// into them.
class AbandonedRequests {
public:
    ~AbandonedRequests() { Reap(); }

    void Reap() noexcept {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto finished = std::partition(m_requests.begin(), m_requests.end(),
                                             [](Request* p) { return ::gai_error(&p->cb) == EAI_INPROGRESS; });
        std::for_each(finished, m_requests.end(), Free);
        m_requests.erase(finished, m_requests.end());
    }

    void Add(Request* pRequest) noexcept {
        try {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_requests.push_back(pRequest);
        } catch (...) {
            // Out of memory: the request is left to the process, which is safe.
        }
    }

private:
    std::mutex m_mutex;
    std::vector<Request*> m_requests;
} g_abandoned;

// Cancels the request, or leaves it to glibc when that is no longer possible.
void GiveUp(Request* pRequest) noexcept {
    if (::gai_cancel(&pRequest->cb) != EAI_NOTCANCELED) {
        Free(pRequest);
        return;
    }
    g_abandoned.Add(pRequest);
}

}  // namespace

int ResolveIPv4(const char* host, int timeoutMs, const WakeEvent* wake, uint32_t* pAddress) noexcept {
    if (host == nullptr) return EINVAL;
    in_addr numeric{};
    if (::inet_pton(AF_INET, host, &numeric) == 1) {
        *pAddress = numeric.s_addr;
        return 0;
    }
    g_abandoned.Reap();

    Request* pRequest = new (std::nothrow) Request;
    if (pRequest == nullptr) return EINVAL;
    try {
        pRequest->name = host;
    } catch (...) {
        delete pRequest;
        return EINVAL;
    }
    pRequest->hints.ai_family = AF_INET;
    pRequest->hints.ai_socktype = SOCK_STREAM;
    pRequest->cb.ar_name = pRequest->name.c_str();
    pRequest->cb.ar_request = &pRequest->hints;
    gaicb* list[] = {&pRequest->cb};
    if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        delete pRequest;
        return EINVAL;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int status = EAI_INPROGRESS;
    for (;;) {
        status = ::gai_error(&pRequest->cb);
        if (status != EAI_INPROGRESS) break;
        if (wake != nullptr && wake->IsSignalled()) {
            GiveUp(pRequest);
            return ECANCELED;
        }
        long long sliceMs = kWakeCheckMs;
        if (timeoutMs >= 0) {
            const long long leftMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (leftMs <= 0) {
                GiveUp(pRequest);
                return ETIMEDOUT;
            }
            sliceMs = std::min(sliceMs, leftMs);
        }
        const timespec slice{0, static_cast<long>(sliceMs) * 1000000L};
        const gaicb* const waitList[] = {&pRequest->cb};
        ::gai_suspend(waitList, 1, &slice);  // returns early when the request is done
    }

    int result = EINVAL;
    if (status == 0) {
        for (const addrinfo* p = pRequest->cb.ar_result; p != nullptr; p = p->ai_next) {
            if (p->ai_family == AF_INET && p->ai_addr != nullptr) {
                *pAddress = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
                result = 0;
                break;
            }
        }
    }
    Free(pRequest);
    return result;
}

}  // namespace vantrel::platform
