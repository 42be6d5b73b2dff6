// Wall-clock time for the library.
//
// Everything that stamps a log line or a notification reads the time here, so
// tests can replace the clock and, for example, cross midnight UTC without
// waiting for it.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// Milliseconds since 1970-01-01T00:00:00Z, from the system (real-time) clock,
// or from the replacement clock when one is installed.
int64_t NowUtcMillis() noexcept;

// A replacement clock; nullptr restores the system clock. The function must be
// callable from any thread. Meant for tests.
using ClockSource = int64_t (*)() noexcept;
void SetClockSource(ClockSource source) noexcept;

}  // namespace vantrel::platform
