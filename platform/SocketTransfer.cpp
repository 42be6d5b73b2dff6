// Whole sends and waiting receives over the socket calls of Socket.cpp
// (Linux) or win32/Socket.cpp: the same on every platform, with the error
// codes of platform/ErrorCodes.h.
#include <cerrno>

#include "platform/ErrorCodes.h"
#include "platform/Socket.h"

namespace vantrel::platform {

namespace {

// WaitForSocket as an error code: 0 when ready, kErrorTimedOut,
// kErrorCanceled when `wake` was signalled, or the failure's own.
int WaitForSocketError(int socket, bool bWrite, const WakeEvent* wake, int timeoutMs) noexcept {
    int error = 0;
    switch (WaitForSocket(socket, bWrite, wake, timeoutMs, &error)) {
        case WaitResult::Ready:
            return 0;
        case WaitResult::TimedOut:
            return kErrorTimedOut;
        case WaitResult::Woken:
            return kErrorCanceled;
        case WaitResult::Failed:
            break;
    }
    return error != 0 ? error : EIO;
}

}  // namespace

int SendAll(int socket, const char* data, std::size_t size, int timeoutMs, const WakeEvent* wake) noexcept {
    while (size > 0) {
        // A stop request ends the send even while the socket still takes bytes.
        if (wake != nullptr && wake->IsSignalled()) return kErrorCanceled;
        int error = 0;
        const long n = SendSome(socket, data, size, &error);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && error == EINTR) continue;
        if (n == 0 || error != kErrorWouldBlock) return n == 0 ? kErrorConnectionClosed : error;
        if ((error = WaitForSocketError(socket, true, wake, timeoutMs)) != 0) return error;
    }
    return 0;
}

long ReceiveWaiting(int socket, char* data, std::size_t size, int timeoutMs, const WakeEvent* wake,
                    int* pnError) noexcept {
    for (;;) {
        int error = 0;
        const long n = ReceiveSome(socket, data, size, &error);
        if (n >= 0) return n;
        if (error != kErrorWouldBlock) {
            *pnError = error;
            return -1;
        }
        if ((error = WaitForSocketError(socket, false, wake, timeoutMs)) != 0) {
            *pnError = error;
            return -1;
        }
    }
}

KeepAliveTimings KeepAliveTimingsFor(int nBoundSeconds, int nProbes) noexcept {
    const int nBoundMs = (nBoundSeconds < 1 ? 1 : nBoundSeconds) * 1000;
    const int nIdleMs = nBoundMs / 3 < 1000 ? 1000 : nBoundMs / 3 / 1000 * 1000;
    const int nIntervalMs = (nBoundMs - nIdleMs) / (nProbes < 1 ? 1 : nProbes);
    return {nIdleMs, nIntervalMs < 100 ? 100 : nIntervalMs};
}

}  // namespace vantrel::platform
