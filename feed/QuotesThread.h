// The quotes thread: owns the connection to the quotes server for one session.
// It sends the credentials, reads the verdict line, then hands the payload of
// every "[QT]" line to the quotes container until a stop request or the
// connection ends.
//
// It blocks in poll on the socket and the session's wake-up descriptor, so it
// uses no CPU while idle and sees a stop request at once; it receives in large
// chunks and hands on every complete line before it waits again.
#pragma once

#include <atomic>
#include <cstdint>

#include "api/SessionState.h"

namespace vantrel {

// The thread function. Exit code 0; -1 when `pParams` is null.
int StartQuotesThread(QuotesThreadParams* pParams) noexcept;

// Counters of what the quotes thread has done in this process, for tests,
// benchmarks and diagnostics.
struct QuotesFeedStats {
    std::atomic<uint64_t> nLines{0};     // quote-stream lines handled
    std::atomic<uint64_t> nStored{0};    // payloads stored
    std::atomic<uint64_t> nSkipped{0};   // payloads rejected by the check
    std::atomic<uint64_t> nSessions{0};  // sessions ended (thread finished)
};
QuotesFeedStats& GetQuotesFeedStats();

}  // namespace vantrel
