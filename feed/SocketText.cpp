#include "feed/SocketText.h"

#include <chrono>
#include <cstring>
#include <string>

#include "log/LogFacade.h"
#include "platform/ErrorCodes.h"

namespace vantrel {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr int kSendRetries = 10;
constexpr int kSendRetryWaitMs = 50;

}  // namespace

std::string MaskedRemainder(std::string_view text, std::size_t nSent, SecretSpan secret) {
    std::string out;
    bool bMasked = false;
    for (std::size_t i = nSent; i < text.size(); ++i) {
        if (i >= secret.nBegin && i < secret.nEnd) {
            if (!bMasked) out += "********";
            bMasked = true;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool SendString(int socket, const char* text, int* pnLastError, SecretSpan secret) {
    if (socket == platform::kInvalidSocket || text == nullptr) return true;
    const std::string_view all(text);
    std::size_t nSent = 0;
    int retries = 0;
    while (nSent < all.size()) {
        const long n = platform::SendSome(socket, all.data() + nSent, all.size() - nSent, pnLastError);
        if (n >= 1) {
            nSent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) *pnLastError = platform::kErrorConnectionClosed;
        if (*pnLastError == platform::kErrorWouldBlock && retries <= kSendRetries) {
            ++retries;
            int waitError = 0;
            platform::WaitForSocket(socket, true, nullptr, kSendRetryWaitMs, &waitError);
            continue;
        }
        OutputError2Log(2, "SendString() Error: Can`t send string: " + MaskedRemainder(all, nSent, secret));
        return false;
    }
    return true;
}

void ReportReadFailure(int nError) {
    if (nError == platform::kErrorConnectionReset) {
        OutputWarning2Log("ReadString() Info: All connections was closed.");
    } else {
        OutputError2Log(3, "ReadString() Error: Can`t receive string. nWSALastError = " + std::to_string(nError));
    }
}

bool ReceiveChunk(int socket, CLineSplitter& splitter, int* pnLastError, bool bReport) {
    char* space = splitter.Reserve(kChunkSize);
    int error = 0;
    const long n = platform::ReceiveSome(socket, space, kChunkSize, &error);
    if (n > 0) {
        splitter.Commit(static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && error == platform::kErrorWouldBlock) return true;
    *pnLastError = n == 0 ? 0 : error;  // an orderly close reads as code 0
    if (bReport) ReportReadFailure(*pnLastError);
    return false;
}

bool ReadString(int socket, CLineSplitter& splitter, std::string_view& line, int* pnLastError,
                const platform::WakeEvent* wake, int timeoutMs, bool bReport) {
    if (socket == platform::kInvalidSocket) return true;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!splitter.NextLine(line)) {
        int left = -1;
        if (timeoutMs >= 0) {
            left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left < 0) left = 0;
        }
        int error = 0;
        switch (platform::WaitForSocket(socket, false, wake, left, &error)) {
            case platform::WaitResult::Ready:
                if (!ReceiveChunk(socket, splitter, pnLastError, bReport)) return false;
                break;
            case platform::WaitResult::Woken:
                *pnLastError = platform::kErrorCanceled;
                return false;
            case platform::WaitResult::TimedOut:
                error = platform::kErrorTimedOut;
                [[fallthrough]];
            case platform::WaitResult::Failed:
                *pnLastError = error;
                if (bReport) ReportReadFailure(error);
                return false;
        }
    }
    return true;
}

}  // namespace vantrel
