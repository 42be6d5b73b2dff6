// The error codes the library writes into its log texts and out-parameters:
// the platform's own socket codes (errno values on Linux, WSAGetLastError
// values on Windows). Where the library decides a code itself (a wait that
// ran out, a host name that did not resolve), it uses the constant here, so
// each platform logs its native number: a time-out reads 110 on Linux and
// 10060 on Windows.
#pragma once

#if defined(_WIN32)

namespace vantrel::platform {

constexpr int kErrorCanceled = 10004;           // WSAEINTR: a wait ended by a stop request
constexpr int kErrorBadSocket = 10038;          // WSAENOTSOCK
constexpr int kErrorHostNotResolved = 10022;    // WSAEINVAL
constexpr int kErrorInvalidArgument = 10022;    // WSAEINVAL: a setting that cannot be used (an unreadable file)
constexpr int kErrorWouldBlock = 10035;         // WSAEWOULDBLOCK
constexpr int kErrorUnexpectedReply = 10043;    // WSAEPROTONOSUPPORT: a reply code not expected
constexpr int kErrorBadCommand = 22;            // ERROR_BAD_COMMAND: a command the server refused
constexpr int kErrorConnectionReset = 10054;    // WSAECONNRESET
constexpr int kErrorNotConnected = 10057;       // WSAENOTCONN: a stream that is not open
constexpr int kErrorConnectionClosed = 10058;   // WSAESHUTDOWN: a send that took nothing
constexpr int kErrorTimedOut = 10060;           // WSAETIMEDOUT
constexpr int kErrorConnectionRefused = 10061;  // WSAECONNREFUSED

}  // namespace vantrel::platform

#else

#include <cerrno>

namespace vantrel::platform {

constexpr int kErrorCanceled = ECANCELED;
constexpr int kErrorBadSocket = EBADF;
constexpr int kErrorHostNotResolved = EINVAL;
constexpr int kErrorInvalidArgument = EINVAL;
constexpr int kErrorWouldBlock = EAGAIN;
constexpr int kErrorUnexpectedReply = EPROTO;
constexpr int kErrorBadCommand = EPROTO;
constexpr int kErrorConnectionReset = ECONNRESET;
constexpr int kErrorNotConnected = ENOTCONN;
constexpr int kErrorConnectionClosed = EPIPE;
constexpr int kErrorTimedOut = ETIMEDOUT;
constexpr int kErrorConnectionRefused = ECONNREFUSED;

}  // namespace vantrel::platform

#endif
