// The process-wide session state of Login and Logoff. Lives for the whole
// time the library is loaded. The session counter and the state Login and
// Logoff share with the quotes thread (socket, stop flag, thread state,
// wake-up event) belong to the feed, in feed/QuotesThread.h.
#pragma once

#include <atomic>

#include "feed/QuotesThread.h"

namespace vantrel {

// How long Login waits for the name to resolve and the connection to be
// made, in milliseconds (10 s).
extern std::atomic<int> g_nConnectTimeoutMs;

}  // namespace vantrel
