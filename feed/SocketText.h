// Text over the quotes connection: sending a string whole, and reading lines
// (see CLineSplitter for the line rules) into a buffer that is filled in
// large chunks.
#pragma once

#include <cstddef>
#include <string_view>

#include "feed/LineSplitter.h"
#include "platform/Socket.h"

namespace vantrel {

// The part of a text that must never reach a log line (a password).
struct SecretSpan {
    std::size_t nBegin = 0;
    std::size_t nEnd = 0;
};

// Sends all of `text`. True when sent, or when there is nothing to do (invalid
// socket or null text). While the socket's buffer is full it waits up to 50 ms
// for room, eleven times at most in the whole call. On failure: *pnLastError
// holds the socket error code, the error (severity 2) "SendString() Error: Can`t send
// string: " plus the unsent part is logged with any part of `secret` in it
// shown as "********", and the result is false.
bool SendString(int socket, const char* text, int* pnLastError, SecretSpan secret = {});

// The same text, with the secret part of the unsent remainder masked.
std::string MaskedRemainder(std::string_view text, std::size_t nSent, SecretSpan secret);

// Receives one chunk into the splitter. True when bytes arrived or none were
// ready yet; false when the connection failed or the peer closed it (code 0),
// with the failure logged as below (unless `bReport` is false) and the code in
// *pnLastError.
bool ReceiveChunk(int socket, CLineSplitter& splitter, int* pnLastError, bool bReport = true);

// Reads the next line: from the buffered bytes if a line is complete there,
// otherwise receiving until one is, waiting at most `timeoutMs` in all (-1: no
// bound). Fails with platform::kErrorTimedOut when the time runs out and with
// platform::kErrorCanceled when `wake` is signalled. True on an invalid socket
// without touching `line`. Failures are logged: a connection reset as the
// warning "ReadString() Info: All connections was closed.", anything else as
// the error (severity 3) "ReadString() Error: Can`t receive string.
// nWSALastError = " and the code. The cancellation alone is not logged: it is
// a stop the library asked for itself, which the caller reports as the event
// it is. With `bReport` false nothing is logged at all.
bool ReadString(int socket, CLineSplitter& splitter, std::string_view& line, int* pnLastError,
                const platform::WakeEvent* wake, int timeoutMs, bool bReport = true);

// Logs a receive failure as ReadString does.
void ReportReadFailure(int nError);

}  // namespace vantrel
